#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "DeviceRecords.hpp"
#include "SqlDatabase.hpp"
#include "StoreError.hpp"

namespace lumo::service {

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
  std::int64_t viewCount = 0;
};

/// The service's records: in SQLite in the data folder (one service), or in PostgreSQL (several
/// service nodes on one database). The schema is versioned and migrated when the store opens.
/// Every operation is one statement or one transaction, and whatever must hold across nodes
/// (limits, quotas, claims, codes, cursors) is decided in the database, never in a node's memory.
class ServiceStore {
 public:
  static constexpr int schemaVersion = 5;
  /// Connections a node holds to PostgreSQL at most, unless told otherwise.
  static constexpr std::size_t defaultConnections = 16;

  /// Opens `database` ("postgresql://…"), or when it is empty "service.db" in `dataDirectory`,
  /// creating the schema or migrating it to this version. Throws StoreError, also when the
  /// database was written by a newer service.
  explicit ServiceStore(const std::filesystem::path& dataDirectory,
                        const std::string& database = {},
                        std::size_t connections = defaultConnections);
  ~ServiceStore();
  ServiceStore(const ServiceStore&) = delete;
  ServiceStore& operator=(const ServiceStore&) = delete;

  /// The schema version the database had when the store opened it (0: it was new).
  std::int64_t foundVersion() const { return foundVersion_; }
  /// Whether other service processes may use these records at the same time.
  bool isShared() const;
  /// The records' own id, made when the database was: the blobs of a data folder belong to
  /// the records of one id.
  const std::string& recordsId() const { return recordsId_; }

  void addAccount(const Account& account);
  std::optional<Account> account(const std::string& idOrName) const;

  /// A publish request's Idempotency-Key within its caller's scope.
  struct KeyScope {
    std::string scope;
    std::string key;
  };
  /// Inserts a share, and binds `key` (reserved before) to it in the same transaction; false
  /// when its slug is taken.
  bool insertShare(const StoredShare& share, const std::optional<KeyScope>& key = std::nullopt);
  /// What a new share must fit: fewer than `limit` shares active at `now` of the owner (or of
  /// the anonymous client), of one kind or of any.
  struct Quota {
    std::optional<std::string> owner;
    std::optional<std::string> anonymousClient;
    std::optional<std::string> kind;
    std::int64_t limit = 0;
    std::int64_t now = 0;
  };
  enum class Insertion { inserted, slugTaken, overQuota };
  /// `insertShare`, counting the quota in the insert's own transaction: parallel requests of
  /// one caller can never pass it together.
  Insertion insertShareWithin(const StoredShare& share, const Quota& quota,
                              const std::optional<KeyScope>& key = std::nullopt);
  std::optional<StoredShare> share(const std::string& slug) const;
  /// Active (unexpired at `now`) shares of one kind of an account, or of an anonymous client.
  std::int64_t activeShares(const std::optional<std::string>& owner,
                            const std::optional<std::string>& anonymousClient,
                            const std::optional<std::string>& kind, std::int64_t now) const;
  /// Removes expired shares (remembering them as gone, "expired"), notices and pairing codes,
  /// and forgets shares gone for 30 days; answers the shares' blobs, for the caller to delete.
  std::vector<std::string> purgeExpired(std::int64_t now);
  /// The blobs that shares refer to.
  std::vector<std::string> blobIds() const;

  enum class BindOutcome { bound, invalid, expired };
  /// Moves the anonymous share `slug` to `account` when its kind and claim match; an expired
  /// share is not moved.
  BindOutcome bindAnonymous(const std::string& slug, const std::string& kind,
                            const std::string& claimHash, const std::string& account,
                            std::int64_t now);

  /// Stores a pairing code of `account`, valid until `expiresAt`; false when the code is in use.
  bool addPairing(const std::string& code, const std::string& account, std::int64_t expiresAt);
  struct PairingClaim {
    enum Outcome { claimed, unknown, expired } outcome = unknown;
    std::string account;
  };
  /// Uses up a pairing code: on success `device` (with the hash of its bearer token) becomes a
  /// device of the code's account. A code serves once.
  PairingClaim claimPairing(const std::string& code, const DeviceInfo& device,
                            const std::string& tokenHash, std::int64_t now);
  /// The device whose bearer token hashes to `tokenHash`, with its account; its last-seen time
  /// becomes `now`. A device of an account that no longer exists signs in no more.
  std::optional<std::pair<std::string, DeviceInfo>> signInDevice(const std::string& tokenHash,
                                                                 std::int64_t now);
  /// The id of the device `signInDevice` would sign in, without touching it.
  std::optional<std::string> deviceWithToken(const std::string& tokenHash) const;
  std::vector<DeviceInfo> devices(const std::string& account) const;
  /// Removes a device of `account` and its notices; false when it has no such device.
  bool deleteDevice(const std::string& account, const std::string& id);

  /// Gives every device of `account` a copy of `notice`, each with an id of its own.
  void addNotices(const std::string& account, const DeviceNotice& notice);
  /// The device's notices after the cursor `since`, oldest first, at most `limit`.
  DeviceNoticeListResult notices(const std::string& device, std::int64_t since,
                                 std::int64_t limit) const;
  /// Records the device's acknowledgement; false when it has no such notice.
  bool acknowledge(const std::string& device, const std::string& noticeId,
                   const std::string& status);
  /// One more view of a share's page.
  void countView(const std::string& slug);
  /// Counts a download unless the share's limit is reached; false then. Counting first means
  /// parallel downloads can never pass the limit; `releaseDownload` gives back one that failed.
  bool reserveDownload(const std::string& slug);
  void releaseDownload(const std::string& slug);
  /// Deletes a share, remembering for 30 days that it is gone and why ("burned", "expired",
  /// "deleted"), with its kind and who held it. Answers its blob ("" for a link), or nothing
  /// when there was no such share.
  std::optional<std::string> remove(const std::string& slug, const std::string& reason,
                                    std::int64_t now);
  /// Why a share that no longer exists is gone, if it existed lately.
  std::optional<std::string> goneReason(const std::string& slug) const;

  /// Who asks to take a share back: the account that owns it, or whoever holds the claim of a
  /// share that is still anonymous (the claim's hash).
  struct ShareHolder {
    std::optional<std::string> account;
    std::optional<std::string> claimHash;
  };
  struct Deletion {
    /// `deleted`: this call removed the share; `goneAlready`: the holder's share was gone before
    /// (deleted, expired or burned within the last 30 days); `notHeld`: no share of that kind
    /// that the holder holds, which includes no share at all.
    enum Outcome { deleted, goneAlready, notHeld } outcome = notHeld;
    std::optional<StoredShare> share;  ///< the removed share, when this call removed one
  };
  /// Takes back the share `slug` of `kind` for its holder in one transaction: the row goes,
  /// its slug is remembered as gone ("deleted") and `alongside` runs with the removed share
  /// before the commit (the account's notices). A share past its expiry that is still stored is
  /// removed as "expired", without `alongside`, and answers `goneAlready`. The caller deletes the
  /// blob afterwards. A claim is compared in constant time; a share bound to an account is not
  /// held by a claim.
  Deletion deleteShare(const std::string& slug, const std::string& kind, const ShareHolder& holder,
                       std::int64_t now,
                       const std::function<void(const StoredShare&)>& alongside = {});
  /// A publish request's Idempotency-Key within `scope` (an account, or an anonymous client):
  /// new (now reserved for this request), still in progress, or done with the share it made.
  /// Keys are kept 24 hours.
  struct KeyUse {
    enum Outcome { fresh, inProgress, done } outcome = fresh;
    std::string slug;
  };
  KeyUse useIdempotencyKey(const std::string& scope, const std::string& key, std::int64_t now);
  /// Gives up a reserved key whose request made no share.
  void releaseIdempotencyKey(const KeyScope& key);
  /// Gives up the reservations made at `before` or earlier: all of them at start-up when no
  /// other service uses the records, else those too old to belong to a request still running.
  void releaseUnfinishedKeys(std::int64_t before);
  /// Admits one password try of `caller` (a hash of an address and a share) from a bucket of
  /// `burst` tries that refills by `perMinute` tries a minute: nothing when admitted, else the
  /// whole seconds until a try would be.
  std::optional<std::int64_t> admitPasswordTry(const std::string& caller, std::int64_t burst,
                                               std::int64_t perMinute, std::int64_t now);
  /// Gives a still anonymous share a new claim (its hash); bound shares keep none.
  void replaceClaim(const std::string& slug, const std::string& claimHash);
  /// The engine's own check of the database says it is sound.
  bool isIntact() const;

 private:
  Insertion insert(const StoredShare& share, const std::optional<Quota>& quota,
                   const std::optional<KeyScope>& key);

  std::unique_ptr<sql::Database> database_;
  std::int64_t foundVersion_ = 0;
  std::string recordsId_;
};

}  // namespace lumo::service
