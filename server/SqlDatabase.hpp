#pragma once
// The service's SQL engines behind one small interface: a pool of connections, statements with
// positional parameters written once for both engines, and write transactions that admit one
// writer at a time. SQLite keeps one service's records in its data folder; PostgreSQL lets
// several service nodes share one set of records.
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "StoreError.hpp"

namespace lumo::service::sql {

/// A parameter or a column's value: NULL, an integer or a text.
using Value = std::variant<std::monostate, std::int64_t, std::string>;

/// What one statement answered: its rows, how many rows it changed, and whether it broke a
/// constraint (a unique key taken), which is an answer, not an error.
struct Result {
  std::vector<std::vector<Value>> rows;
  std::int64_t changes = 0;
  bool constraintFailed = false;
};

/// One connection of an engine. Statements use "?" (numbered in order) or "?N" for their
/// parameters, the SQL both engines share; an engine translates what it spells differently.
class Connection {
 public:
  virtual ~Connection() = default;
  /// Runs one statement. Throws StoreError when the engine fails.
  virtual Result run(const std::string& statement, const std::vector<Value>& parameters) = 0;
  /// Runs statements without parameters, separated by ";". Throws StoreError.
  virtual void execute(const std::string& statements) = 0;
  /// Whether the connection can serve again (a dropped server connection cannot).
  virtual bool usable() const { return true; }

  /// Opens a write transaction, or joins the one open on this connection. Writers wait for each
  /// other from here to the end of the outermost transaction, across every connection and every
  /// process of the database, as SQLite's "BEGIN IMMEDIATE" does: what a transaction reads
  /// cannot change under it before it writes.
  void begin();
  /// Ends the transaction `begin` opened or joined; only the outermost commits.
  void commit();
  /// Abandons the outermost transaction, whatever joined it.
  void rollback() noexcept;

 protected:
  virtual void beginWriting() = 0;
  /// After the outermost transaction committed or rolled back.
  virtual void endWriting() noexcept {}
  bool inTransaction() const { return depth_ > 0; }

 private:
  int depth_ = 0;
};

/// An engine: makes connections and pools them.
class Database {
 public:
  /// "postgresql://…" or "postgres://…" (a libpq URI) opens PostgreSQL with at most
  /// `connections` connections at once; anything else is the path of an SQLite database file.
  static std::unique_ptr<Database> open(const std::string& location, std::size_t connections);
  static bool isPostgreSQL(const std::string& location);

  virtual ~Database() = default;
  /// The schema version the service last wrote (0 for a new database). `connection` is within
  /// the migration's transaction.
  virtual std::int64_t schemaVersion(Connection& connection) const = 0;
  virtual void setSchemaVersion(Connection& connection, std::int64_t version) const = 0;
  /// The schema's statements, written for SQLite, in this engine's own words.
  virtual std::string schema(const std::string& sqliteSchema) const { return sqliteSchema; }
  /// An SQL expression of a fresh random id: 32 lowercase hex digits.
  virtual std::string randomId() const = 0;
  /// The engine's own check of the database's files says they are sound.
  virtual bool isIntact(Connection& connection) const = 0;
  /// Whether other service processes may use the same records at the same time.
  virtual bool isShared() const = 0;

 protected:
  explicit Database(std::size_t connections) : limit_(connections) {}
  virtual std::unique_ptr<Connection> connect() const = 0;

 private:
  friend class Lease;
  std::unique_ptr<Connection> take() const;
  void giveBack(std::unique_ptr<Connection> connection) const;

  std::size_t limit_;
  mutable std::mutex mutex_;
  mutable std::condition_variable returned_;
  mutable std::vector<std::unique_ptr<Connection>> idle_;
  mutable std::size_t lent_ = 0;
};

/// This thread's connection to a database for as long as the lease lives. A lease taken while
/// the thread holds one of the same database shares its connection, so that what one operation
/// calls runs within its transaction.
class Lease {
 public:
  explicit Lease(const Database& database);
  ~Lease();
  Lease(const Lease&) = delete;
  Lease& operator=(const Lease&) = delete;
  Connection& operator*() const { return *connection_; }
  Connection* operator->() const { return connection_; }

 private:
  const Database& database_;
  Connection* connection_ = nullptr;
  bool owner_ = false;
};

/// One statement with its parameters bound by position (from 1); `step` runs it the first time
/// and then walks its rows.
class Statement {
 public:
  Statement(Connection& connection, std::string text)
      : connection_(connection), text_(std::move(text)) {}
  Statement(const Lease& lease, std::string text) : Statement(*lease, std::move(text)) {}

  Statement& bind(int index, const std::string& text) { return set(index, text); }
  Statement& bind(int index, const char* text) { return set(index, std::string(text)); }
  Statement& bind(int index, const std::optional<std::string>& text) {
    return text ? set(index, *text) : set(index, std::monostate());
  }
  Statement& bind(int index, std::int64_t number) { return set(index, number); }
  /// True while rows come. A broken constraint answers false with `constraintFailed` set.
  bool step();
  std::int64_t changes() const { return result_.changes; }

  std::string text(int column) const;
  std::optional<std::string> optionalText(int column) const;
  bool isNull(int column) const;
  std::int64_t integer(int column) const;

  bool constraintFailed = false;

 private:
  Statement& set(int index, Value value);
  const Value& cell(int column) const;

  Connection& connection_;
  std::string text_;
  std::vector<Value> parameters_;
  Result result_;
  bool ran_ = false;
  std::size_t row_ = 0;
};

/// A write transaction (see Connection::begin) that rolls back unless committed.
class Transaction {
 public:
  explicit Transaction(Connection& connection) : connection_(connection) { connection_.begin(); }
  explicit Transaction(const Lease& lease) : Transaction(*lease) {}
  ~Transaction() {
    if (!committed_) connection_.rollback();
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void commit() {
    connection_.commit();
    committed_ = true;
  }

 private:
  Connection& connection_;
  bool committed_ = false;
};

}  // namespace lumo::service::sql
