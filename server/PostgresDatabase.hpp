#pragma once

#include <string>

#include "SqlDatabase.hpp"

namespace lumo::service::sql {

/// Records in PostgreSQL, shared by every service node that names the same database: at most
/// `connections` connections per node, writers one at a time across all nodes (a transaction-
/// scoped advisory lock taken first thing), the schema version in a table of its own.
class PostgresDatabase final : public Database {
 public:
  /// `uri` is a libpq connection URI ("postgresql://user@host:port/database?…").
  PostgresDatabase(std::string uri, std::size_t connections);

  std::int64_t schemaVersion(Connection& connection) const override;
  void setSchemaVersion(Connection& connection, std::int64_t version) const override;
  std::string schema(const std::string& sqliteSchema) const override;
  std::string randomId() const override { return "md5(random()::text || clock_timestamp()::text)"; }
  bool isIntact(Connection& connection) const override;
  bool isShared() const override { return true; }

  /// `statement` with SQLite's parameters ("?", "?N") spelled as PostgreSQL's ("$N").
  static std::string translated(const std::string& statement);

 protected:
  std::unique_ptr<Connection> connect() const override;

 private:
  std::string uri_;
};

}  // namespace lumo::service::sql
