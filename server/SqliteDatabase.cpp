#include "SqliteDatabase.hpp"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <limits>
#include <mutex>

namespace lumo::service::sql {
namespace fs = std::filesystem;
namespace {

/// Makes the database the owner's alone, whatever the umask and the folder's mode: created
/// 0600 before SQLite opens it (SQLite gives its journal, WAL and shared-memory files the
/// database's mode), and an older one's files narrowed to it.
void keepPrivate(const fs::path& database) {
  const int fd = ::open(database.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd >= 0) ::close(fd);
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    ::chmod((database.string() + suffix).c_str(), 0600);
  }
}

/// Whether a statement may write: anything but a query.
bool writes(const std::string& statement) {
  std::string word;
  for (const char c : statement) {
    if (std::isalpha(static_cast<unsigned char>(c))) {
      word += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    } else if (!word.empty()) {
      break;
    }
  }
  return word != "SELECT" && word != "WITH";
}

class SqliteConnection final : public Connection {
 public:
  /// `writers` is shared by the database's connections: its writers take turns on it rather
  /// than in SQLite's busy handler, which sleeps in steps of up to 100 ms whenever the file is
  /// locked, so that under load most of a writer's time would be spent asleep.
  SqliteConnection(const fs::path& file, std::mutex& writers) : writers_(writers) {
    if (sqlite3_open_v2(file.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
      const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close_v2(db_);
      throw StoreError("cannot open " + file.string() + ": " + message);
    }
    sqlite3_busy_timeout(db_, 5000);
    execute("PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL; PRAGMA foreign_keys = ON");
  }
  ~SqliteConnection() override { sqlite3_close_v2(db_); }
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;

  Result run(const std::string& statement, const std::vector<Value>& parameters) override {
    std::unique_lock<std::mutex> writing;
    if (!inTransaction() && writes(statement)) writing = std::unique_lock(writers_);
    sqlite3_stmt* prepared = nullptr;
    if (sqlite3_prepare_v2(db_, statement.c_str(), -1, &prepared, nullptr) != SQLITE_OK) {
      fail("prepare");
    }
    const std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> owned(prepared,
                                                                           sqlite3_finalize);
    for (std::size_t index = 0; index < parameters.size(); ++index)
      bind(prepared, index, parameters[index]);
    Result result;
    while (true) {
      const int status = sqlite3_step(prepared);
      if (status == SQLITE_ROW) {
        result.rows.push_back(row(prepared));
        continue;
      }
      if (status == SQLITE_DONE) break;
      if ((status & 0xff) == SQLITE_CONSTRAINT) {
        result.constraintFailed = true;
        return result;
      }
      fail("step");
    }
    result.changes = sqlite3_changes(db_);
    return result;
  }

  void execute(const std::string& statements) override {
    char* message = nullptr;
    if (sqlite3_exec(db_, statements.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      const std::string text = message ? message : "unknown";
      sqlite3_free(message);
      throw StoreError(text);
    }
  }

 protected:
  void beginWriting() override {
    writing_ = std::unique_lock(writers_);
    try {
      execute("BEGIN IMMEDIATE");
    } catch (...) {
      writing_.unlock();
      throw;
    }
  }
  void endWriting() noexcept override {
    if (writing_.owns_lock()) writing_.unlock();
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw StoreError(what + ": " + sqlite3_errmsg(db_));
  }
  static void bind(sqlite3_stmt* statement, std::size_t index, const Value& value) {
    const int position = static_cast<int>(index) + 1;
    if (const auto* text = std::get_if<std::string>(&value)) {
      sqlite3_bind_text(statement, position, text->data(), static_cast<int>(text->size()),
                        SQLITE_TRANSIENT);
    } else if (const auto* number = std::get_if<std::int64_t>(&value)) {
      sqlite3_bind_int64(statement, position, *number);
    } else {
      sqlite3_bind_null(statement, position);
    }
  }
  static std::vector<Value> row(sqlite3_stmt* statement) {
    std::vector<Value> cells;
    for (int column = 0; column < sqlite3_column_count(statement); ++column) {
      switch (sqlite3_column_type(statement, column)) {
        case SQLITE_NULL:
          cells.emplace_back(std::monostate());
          break;
        case SQLITE_INTEGER:
          cells.emplace_back(std::int64_t{sqlite3_column_int64(statement, column)});
          break;
        default: {
          const auto* text = sqlite3_column_text(statement, column);
          cells.emplace_back(
              std::string(reinterpret_cast<const char*>(text),
                          static_cast<std::size_t>(sqlite3_column_bytes(statement, column))));
        }
      }
    }
    return cells;
  }

  sqlite3* db_ = nullptr;
  std::mutex& writers_;
  std::unique_lock<std::mutex> writing_;  ///< held from BEGIN to COMMIT or ROLLBACK
};

}  // namespace

SqliteDatabase::SqliteDatabase(fs::path file)
    : Database(std::numeric_limits<std::size_t>::max()), file_(std::move(file)) {
  keepPrivate(file_);
}

std::unique_ptr<Connection> SqliteDatabase::connect() const {
  return std::make_unique<SqliteConnection>(file_, writers_);
}

std::int64_t SqliteDatabase::schemaVersion(Connection& connection) const {
  Statement version(connection, "PRAGMA user_version");
  version.step();
  return version.integer(0);
}

void SqliteDatabase::setSchemaVersion(Connection& connection, std::int64_t version) const {
  connection.execute("PRAGMA user_version = " + std::to_string(version));
}

bool SqliteDatabase::isIntact(Connection& connection) const {
  Statement check(connection, "PRAGMA integrity_check");
  return check.step() && check.text(0) == "ok";
}

}  // namespace lumo::service::sql
