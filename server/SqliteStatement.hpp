#pragma once
// The service store's small SQLite helpers: one-shot statements, prepared statements with
// positional binding, and a transaction that rolls back unless committed.
#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>

#include "StoreError.hpp"

namespace lumo::service::sqlite {

[[noreturn]] inline void fail(sqlite3* connection, const std::string& what) {
  throw StoreError(what + ": " + (connection ? sqlite3_errmsg(connection) : "no connection"));
}

inline void execute(sqlite3* connection, const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(connection, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    const std::string text = message ? message : "unknown";
    sqlite3_free(message);
    throw StoreError(text);
  }
}

/// One prepared statement: bind by position (from 1), step, read columns.
class Statement {
 public:
  Statement(sqlite3* connection, const char* sql) : connection_(connection) {
    if (sqlite3_prepare_v2(connection, sql, -1, &statement_, nullptr) != SQLITE_OK) {
      fail(connection, "prepare");
    }
  }
  Statement(sqlite3* connection, const std::string& sql) : Statement(connection, sql.c_str()) {}
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& bind(int index, const std::string& text) {
    sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
    return *this;
  }
  Statement& bind(int index, const std::optional<std::string>& text) {
    if (text) return bind(index, *text);
    sqlite3_bind_null(statement_, index);
    return *this;
  }
  Statement& bind(int index, std::int64_t number) {
    sqlite3_bind_int64(statement_, index, number);
    return *this;
  }
  /// True while rows come; throws on errors. A constraint violation answers false with
  /// `constraintFailed` set.
  bool step() {
    const int result = sqlite3_step(statement_);
    if (result == SQLITE_ROW) return true;
    if (result == SQLITE_DONE) return false;
    if ((result & 0xff) == SQLITE_CONSTRAINT) {
      constraintFailed = true;
      return false;
    }
    fail(connection_, "step");
  }
  std::string text(int column) const {
    const auto* value = sqlite3_column_text(statement_, column);
    return value ? std::string(reinterpret_cast<const char*>(value),
                               static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)))
                 : std::string();
  }
  std::optional<std::string> optionalText(int column) const {
    if (isNull(column)) return std::nullopt;
    return text(column);
  }
  bool isNull(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }
  std::int64_t integer(int column) const { return sqlite3_column_int64(statement_, column); }

  bool constraintFailed = false;

 private:
  sqlite3* connection_;
  sqlite3_stmt* statement_ = nullptr;
};

/// BEGIN IMMEDIATE now; ROLLBACK on destruction unless `commit` ran.
class Transaction {
 public:
  explicit Transaction(sqlite3* connection) : connection_(connection) {
    execute(connection_, "BEGIN IMMEDIATE");
  }
  ~Transaction() {
    if (!committed_) sqlite3_exec(connection_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void commit() {
    execute(connection_, "COMMIT");
    committed_ = true;
  }

 private:
  sqlite3* connection_;
  bool committed_ = false;
};

}  // namespace lumo::service::sqlite
