#pragma once

#include <sqlite3.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace lumo::service {

/// A failure of the database itself; the service answers it with 500 "internal".
struct StoreError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// An account of the service.
struct Account {
  std::string id;
  std::string name;
  std::string plan;  ///< "hobby" or "pro"
  std::int64_t createdAt = 0;
};

/// A published share: a document (a blob) or a short link. Times are Unix seconds.
struct StoredShare {
  std::string id;
  std::string kind;  ///< "doc" or "link"
  std::string slug;
  std::optional<std::string> owner;  ///< account id; absent while anonymous
  std::optional<std::string> anonymousClient;
  std::optional<std::string> claimHash;  ///< SHA-256 of the claim token, hex
  std::optional<std::string> url;
  std::optional<std::string> filename;
  std::optional<std::string> contentType;
  std::int64_t size = 0;
  std::optional<std::string> blob;
  std::optional<std::string> comment;
  std::optional<std::string> passwordHash;
  std::int64_t maxDownloads = 0;
  std::int64_t downloadCount = 0;
  bool disableDownload = false;
  bool burnAfterReading = false;
  std::optional<std::string> watermark;  ///< WatermarkSettings as JSON
  std::optional<std::string> title;
  std::int64_t ctime = 0;
  std::int64_t expDays = 0;
  std::int64_t expiresAt = 0;
};

/// The service's records in SQLite: WAL mode, one connection per thread that uses it, the schema
/// versioned with PRAGMA user_version. Every operation is one statement or one transaction.
class ServiceStore {
 public:
  static constexpr int schemaVersion = 1;

  /// Opens (creating and migrating) "service.db" in `dataDirectory`. Throws StoreError.
  explicit ServiceStore(std::filesystem::path dataDirectory);

  void addAccount(const Account& account);
  std::optional<Account> account(const std::string& idOrName) const;

  /// Inserts a share; false when its slug is taken.
  bool insertShare(const StoredShare& share);
  std::optional<StoredShare> share(const std::string& slug) const;
  /// Active (unexpired at `now`) shares of one kind of an account, or of an anonymous client.
  std::int64_t activeShares(const std::optional<std::string>& owner,
                            const std::optional<std::string>& anonymousClient,
                            const std::optional<std::string>& kind, std::int64_t now) const;
  /// Removes expired shares and answers their blobs, for the caller to delete.
  std::vector<std::string> purgeExpired(std::int64_t now);
  /// "PRAGMA integrity_check" says "ok".
  bool isIntact() const;

 private:
  sqlite3* connection() const;

  static std::atomic<std::uint64_t> nextInstance_;
  std::filesystem::path path_;
  std::uint64_t instance_;
};

}  // namespace lumo::service
