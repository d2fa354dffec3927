#include "ServiceStore.hpp"

#include <atomic>
#include <map>
#include <memory>

namespace lumo::service {
namespace fs = std::filesystem;
namespace {

constexpr const char* schema = R"sql(
CREATE TABLE IF NOT EXISTS accounts (
  id TEXT PRIMARY KEY, name TEXT NOT NULL UNIQUE, plan TEXT NOT NULL, created_at INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS shares (
  id TEXT PRIMARY KEY, kind TEXT NOT NULL, slug TEXT NOT NULL UNIQUE, owner TEXT,
  anonymous_client TEXT, claim_hash TEXT, url TEXT, filename TEXT, content_type TEXT,
  size INTEGER NOT NULL, blob TEXT, comment TEXT, password_hash TEXT,
  max_downloads INTEGER NOT NULL, download_count INTEGER NOT NULL,
  disable_download INTEGER NOT NULL, burn_after_reading INTEGER NOT NULL, watermark TEXT,
  title TEXT, ctime INTEGER NOT NULL, exp_days INTEGER NOT NULL, expires_at INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS shares_owner ON shares (owner, kind, expires_at);
CREATE INDEX IF NOT EXISTS shares_anonymous ON shares (anonymous_client, expires_at);
)sql";

/// The connections this thread opened, by store, closed when the thread ends. Stores are told
/// apart by a number that is never reused, so a new store at the path of an old one never gets
/// the old one's connection.
struct ThreadConnections {
  std::map<std::uint64_t, sqlite3*> open;
  ~ThreadConnections() {
    for (auto& [path, connection] : open) sqlite3_close_v2(connection);
  }
};
thread_local ThreadConnections threadConnections;

[[noreturn]] void fail(sqlite3* connection, const std::string& what) {
  throw StoreError(what + ": " + (connection ? sqlite3_errmsg(connection) : "no connection"));
}

void execute(sqlite3* connection, const char* sql) {
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
    if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
    return text(column);
  }
  std::int64_t integer(int column) const { return sqlite3_column_int64(statement_, column); }

  bool constraintFailed = false;

 private:
  sqlite3* connection_;
  sqlite3_stmt* statement_ = nullptr;
};

constexpr const char* shareColumns =
    "id, kind, slug, owner, anonymous_client, claim_hash, url, filename, content_type, size, "
    "blob, comment, password_hash, max_downloads, download_count, disable_download, "
    "burn_after_reading, watermark, title, ctime, exp_days, expires_at";

StoredShare readShare(const Statement& row) {
  return StoredShare{
      row.text(0),          row.text(1),          row.text(2),          row.optionalText(3),
      row.optionalText(4),  row.optionalText(5),  row.optionalText(6),  row.optionalText(7),
      row.optionalText(8),  row.integer(9),       row.optionalText(10), row.optionalText(11),
      row.optionalText(12), row.integer(13),      row.integer(14),      row.integer(15) != 0,
      row.integer(16) != 0, row.optionalText(17), row.optionalText(18), row.integer(19),
      row.integer(20),      row.integer(21)};
}

}  // namespace

std::atomic<std::uint64_t> ServiceStore::nextInstance_{1};

ServiceStore::ServiceStore(fs::path dataDirectory)
    : path_(std::move(dataDirectory) / "service.db"), instance_(nextInstance_++) {
  auto* db = connection();
  Statement version(db, "PRAGMA user_version");
  version.step();
  const auto current = version.integer(0);
  if (current > schemaVersion) {
    throw StoreError("the database was written by a newer server (schema " +
                     std::to_string(current) + ")");
  }
  execute(db, "BEGIN IMMEDIATE");
  try {
    execute(db, schema);
    execute(db, ("PRAGMA user_version = " + std::to_string(schemaVersion)).c_str());
    execute(db, "COMMIT");
  } catch (...) {
    execute(db, "ROLLBACK");
    throw;
  }
}

sqlite3* ServiceStore::connection() const {
  auto& open = threadConnections.open;
  if (const auto found = open.find(instance_); found != open.end()) return found->second;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path_.c_str(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK) {
    const std::string message = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close_v2(db);
    throw StoreError("cannot open " + path_.string() + ": " + message);
  }
  sqlite3_busy_timeout(db, 5000);
  execute(db, "PRAGMA journal_mode = WAL");
  execute(db, "PRAGMA synchronous = NORMAL");
  execute(db, "PRAGMA foreign_keys = ON");
  open.emplace(instance_, db);
  return db;
}

void ServiceStore::addAccount(const Account& account) {
  Statement insert(connection(),
                   "INSERT INTO accounts (id, name, plan, created_at) VALUES (?, ?, ?, ?)");
  insert.bind(1, account.id).bind(2, account.name).bind(3, account.plan).bind(4, account.createdAt);
  insert.step();
  if (insert.constraintFailed) throw StoreError("an account named " + account.name + " exists");
}

std::optional<Account> ServiceStore::account(const std::string& idOrName) const {
  Statement query(connection(),
                  "SELECT id, name, plan, created_at FROM accounts WHERE id = ? OR name = ?");
  query.bind(1, idOrName).bind(2, idOrName);
  if (!query.step()) return std::nullopt;
  return Account{query.text(0), query.text(1), query.text(2), query.integer(3)};
}

bool ServiceStore::insertShare(const StoredShare& share) {
  const auto sql = std::string("INSERT INTO shares (") + shareColumns +
                   ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
  Statement insert(connection(), sql.c_str());
  insert.bind(1, share.id).bind(2, share.kind).bind(3, share.slug).bind(4, share.owner);
  insert.bind(5, share.anonymousClient).bind(6, share.claimHash).bind(7, share.url);
  insert.bind(8, share.filename).bind(9, share.contentType).bind(10, share.size);
  insert.bind(11, share.blob).bind(12, share.comment).bind(13, share.passwordHash);
  insert.bind(14, share.maxDownloads).bind(15, share.downloadCount);
  insert.bind(16, std::int64_t{share.disableDownload})
      .bind(17, std::int64_t{share.burnAfterReading});
  insert.bind(18, share.watermark).bind(19, share.title).bind(20, share.ctime);
  insert.bind(21, share.expDays).bind(22, share.expiresAt);
  insert.step();
  return !insert.constraintFailed;
}

std::optional<StoredShare> ServiceStore::share(const std::string& slug) const {
  const auto sql = std::string("SELECT ") + shareColumns + " FROM shares WHERE slug = ?";
  Statement query(connection(), sql.c_str());
  query.bind(1, slug);
  if (!query.step()) return std::nullopt;
  return readShare(query);
}

std::int64_t ServiceStore::activeShares(const std::optional<std::string>& owner,
                                        const std::optional<std::string>& anonymousClient,
                                        const std::optional<std::string>& kind,
                                        std::int64_t now) const {
  Statement query(connection(),
                  "SELECT COUNT(*) FROM shares WHERE expires_at > ? "
                  "AND (owner IS ? OR (? IS NULL AND owner IS NULL)) "
                  "AND (? IS NULL OR anonymous_client = ?) AND (? IS NULL OR kind = ?)");
  query.bind(1, now).bind(2, owner).bind(3, owner).bind(4, anonymousClient);
  query.bind(5, anonymousClient).bind(6, kind).bind(7, kind);
  query.step();
  return query.integer(0);
}

std::vector<std::string> ServiceStore::purgeExpired(std::int64_t now) {
  auto* db = connection();
  std::vector<std::string> blobs;
  execute(db, "BEGIN IMMEDIATE");
  try {
    Statement expired(db, "SELECT blob FROM shares WHERE expires_at <= ? AND blob IS NOT NULL");
    expired.bind(1, now);
    while (expired.step()) blobs.push_back(expired.text(0));
    Statement remove(db, "DELETE FROM shares WHERE expires_at <= ?");
    remove.bind(1, now);
    remove.step();
    execute(db, "COMMIT");
  } catch (...) {
    execute(db, "ROLLBACK");
    throw;
  }
  return blobs;
}

bool ServiceStore::isIntact() const {
  Statement check(connection(), "PRAGMA integrity_check");
  return check.step() && check.text(0) == "ok";
}

}  // namespace lumo::service
