#pragma once

#include <filesystem>
#include <mutex>

#include "SqlDatabase.hpp"

namespace lumo::service::sql {

/// One service's records in an SQLite file: WAL mode, a connection per concurrent operation,
/// writers one at a time ("BEGIN IMMEDIATE"), the schema version in "PRAGMA user_version". The
/// database and its journals are the owner's alone (mode 0600).
class SqliteDatabase final : public Database {
 public:
  explicit SqliteDatabase(std::filesystem::path file);

  std::int64_t schemaVersion(Connection& connection) const override;
  void setSchemaVersion(Connection& connection, std::int64_t version) const override;
  std::string randomId() const override { return "lower(hex(randomblob(16)))"; }
  bool isIntact(Connection& connection) const override;
  bool isShared() const override { return false; }

 protected:
  std::unique_ptr<Connection> connect() const override;

 private:
  std::filesystem::path file_;
  mutable std::mutex writers_;  ///< one writing connection at a time (see SqliteConnection)
};

}  // namespace lumo::service::sql
