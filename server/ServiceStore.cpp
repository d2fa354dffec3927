#include "ServiceStore.hpp"

#include <sodium.h>

#include <algorithm>
#include <map>
#include <memory>

#include "ShareUUID.hpp"
#include "SqlDatabase.hpp"

namespace lumo::service {
namespace fs = std::filesystem;
using sql::Statement;
using sql::Transaction;
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
  title TEXT, ctime INTEGER NOT NULL, exp_days INTEGER NOT NULL, expires_at INTEGER NOT NULL,
  view_count INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS shares_owner ON shares (owner, kind, expires_at);
CREATE INDEX IF NOT EXISTS shares_anonymous ON shares (anonymous_client, expires_at);
CREATE TABLE IF NOT EXISTS pairings (
  code TEXT PRIMARY KEY, account TEXT NOT NULL, expires_at INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS devices (
  id TEXT PRIMARY KEY, account TEXT NOT NULL, name TEXT NOT NULL, platform TEXT NOT NULL,
  capabilities TEXT, token_hash TEXT NOT NULL UNIQUE, created_at INTEGER NOT NULL,
  last_seen_at INTEGER);
CREATE INDEX IF NOT EXISTS devices_account ON devices (account);
CREATE TABLE IF NOT EXISTS notices (
  sequence INTEGER PRIMARY KEY AUTOINCREMENT, id TEXT NOT NULL UNIQUE,
  device TEXT NOT NULL REFERENCES devices (id) ON DELETE CASCADE, type TEXT NOT NULL,
  kind TEXT NOT NULL, title TEXT, slug TEXT NOT NULL, short_url TEXT NOT NULL,
  created_at INTEGER NOT NULL, expires_at INTEGER NOT NULL, ack_status TEXT);
CREATE INDEX IF NOT EXISTS notices_device ON notices (device, sequence);
CREATE TABLE IF NOT EXISTS gone (
  slug TEXT PRIMARY KEY, reason TEXT NOT NULL, at INTEGER NOT NULL, kind TEXT, owner TEXT,
  claim_hash TEXT);
CREATE TABLE IF NOT EXISTS idempotency (
  scope TEXT NOT NULL, key TEXT NOT NULL, slug TEXT, created_at INTEGER NOT NULL,
  PRIMARY KEY (scope, key));
CREATE TABLE IF NOT EXISTS installation (id TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS password_tries (
  caller TEXT PRIMARY KEY, tokens INTEGER NOT NULL, at INTEGER NOT NULL);
)sql";

constexpr const char* shareColumns =
    "id, kind, slug, owner, anonymous_client, claim_hash, url, filename, content_type, size, "
    "blob, comment, password_hash, max_downloads, download_count, disable_download, "
    "burn_after_reading, watermark, title, ctime, exp_days, expires_at, view_count";

StoredShare readShare(const Statement& row) {
  return StoredShare{
      row.text(0),          row.text(1),          row.text(2),          row.optionalText(3),
      row.optionalText(4),  row.optionalText(5),  row.optionalText(6),  row.optionalText(7),
      row.optionalText(8),  row.integer(9),       row.optionalText(10), row.optionalText(11),
      row.optionalText(12), row.integer(13),      row.integer(14),      row.integer(15) != 0,
      row.integer(16) != 0, row.optionalText(17), row.optionalText(18), row.integer(19),
      row.integer(20),      row.integer(21),      row.integer(22)};
}

/// The columns of a gone share's row, as its share's row had them: kind and who held it, so that
/// taking back a share that is gone already answers its holder as the first time.
constexpr const char* goneColumns = "slug, reason, at, kind, owner, claim_hash";
/// A slug gone again (taken anew after it was gone, and gone once more) is remembered anew.
constexpr const char* replacingGone =
    " ON CONFLICT (slug) DO UPDATE SET reason = excluded.reason, at = excluded.at, "
    "kind = excluded.kind, owner = excluded.owner, claim_hash = excluded.claim_hash";

/// Whether `stored` (a claim's SHA-256, hex) is `given`; the comparison takes the same time
/// wherever two digests of one length differ.
bool sameHash(const std::optional<std::string>& stored, const std::string& given) {
  return stored && stored->size() == given.size() &&
         sodium_memcmp(stored->data(), given.data(), given.size()) == 0;
}

/// Whether `holder` holds a share of `owner` with the claim `claimHash`: its account owns it, or
/// it is anonymous and the holder's claim is its claim.
bool holds(const ServiceStore::ShareHolder& holder, const std::optional<std::string>& owner,
           const std::optional<std::string>& claimHash) {
  if (holder.account) return owner == holder.account;
  return !owner && holder.claimHash && sameHash(claimHash, *holder.claimHash);
}

/// Deletes the share `slug` and remembers it as gone for `reason`; within the caller's
/// transaction.
void bury(sql::Connection& db, const std::string& slug, const std::string& reason,
          std::int64_t now) {
  const auto remember = std::string("INSERT INTO gone (") + goneColumns +
                        ") SELECT slug, ?, ?, kind, owner, claim_hash FROM shares WHERE slug = ?" +
                        replacingGone;
  Statement gone(db, remember);
  gone.bind(1, reason).bind(2, now).bind(3, slug).step();
  Statement remove(db, "DELETE FROM shares WHERE slug = ?");
  remove.bind(1, slug).step();
}

std::int64_t countActive(sql::Connection& db, const std::optional<std::string>& owner,
                         const std::optional<std::string>& anonymousClient,
                         const std::optional<std::string>& kind, std::int64_t now) {
  Statement query(db,
                  "SELECT COUNT(*) FROM shares WHERE expires_at > ? "
                  "AND owner IS NOT DISTINCT FROM ? "
                  "AND (? IS NULL OR anonymous_client = ?) AND (? IS NULL OR kind = ?)");
  query.bind(1, now).bind(2, owner).bind(3, anonymousClient).bind(4, anonymousClient);
  query.bind(5, kind).bind(6, kind);
  query.step();
  return query.integer(0);
}

}  // namespace

ServiceStore::ServiceStore(const fs::path& dataDirectory, const std::string& database,
                           std::size_t connections)
    : database_(sql::Database::open(
          database.empty() ? (dataDirectory / "service.db").string() : database, connections)) {
  const sql::Lease db(*database_);
  Transaction migration(db);  // nodes that start together migrate one after the other
  foundVersion_ = database_->schemaVersion(*db);
  if (foundVersion_ > schemaVersion) {
    throw StoreError("the database was written by a newer server (schema " +
                     std::to_string(foundVersion_) + ")");
  }
  // Version 1 lacked pairings, devices and notices, version 2 view counts and the record of
  // shares that are gone, version 3 the kind and holder of a gone share, version 4 the records' id
  // and password tries. The schema's statements are idempotent, so running them whole adds
  // missing tables; a column needs its own statement. A PostgreSQL database starts at this
  // version.
  if (foundVersion_ == 1 || foundVersion_ == 2) {
    db->execute("ALTER TABLE shares ADD COLUMN view_count INTEGER NOT NULL DEFAULT 0");
  }
  if (foundVersion_ == 3) {
    db->execute(
        "ALTER TABLE gone ADD COLUMN kind TEXT; ALTER TABLE gone ADD COLUMN owner TEXT; "
        "ALTER TABLE gone ADD COLUMN claim_hash TEXT;");
  }
  db->execute(database_->schema(schema));
  database_->setSchemaVersion(*db, schemaVersion);
  Statement installation(db, "SELECT id FROM installation");
  if (installation.step()) {
    recordsId_ = installation.text(0);
  } else {
    recordsId_ = makeLowercaseUUID();
    Statement(db, "INSERT INTO installation (id) VALUES (?)").bind(1, recordsId_).step();
  }
  migration.commit();
}

ServiceStore::~ServiceStore() = default;

bool ServiceStore::isShared() const {
  return database_->isShared();
}

void ServiceStore::addAccount(const Account& account) {
  const sql::Lease db(*database_);
  Statement insert(db, "INSERT INTO accounts (id, name, plan, created_at) VALUES (?, ?, ?, ?)");
  insert.bind(1, account.id).bind(2, account.name).bind(3, account.plan).bind(4, account.createdAt);
  insert.step();
  if (insert.constraintFailed) throw StoreError("an account named " + account.name + " exists");
}

std::optional<Account> ServiceStore::account(const std::string& idOrName) const {
  const sql::Lease db(*database_);
  Statement query(db, "SELECT id, name, plan, created_at FROM accounts WHERE id = ? OR name = ?");
  query.bind(1, idOrName).bind(2, idOrName);
  if (!query.step()) return std::nullopt;
  return Account{query.text(0), query.text(1), query.text(2), query.integer(3)};
}

bool ServiceStore::insertShare(const StoredShare& share, const std::optional<KeyScope>& key) {
  return insert(share, std::nullopt, key) == Insertion::inserted;
}

ServiceStore::Insertion ServiceStore::insertShareWithin(const StoredShare& share,
                                                        const Quota& quota,
                                                        const std::optional<KeyScope>& key) {
  return insert(share, quota, key);
}

ServiceStore::Insertion ServiceStore::insert(const StoredShare& share,
                                             const std::optional<Quota>& quota,
                                             const std::optional<KeyScope>& key) {
  const sql::Lease db(*database_);
  Transaction insertion(db);  // no other writer between the count and the insert
  if (quota && countActive(*db, quota->owner, quota->anonymousClient, quota->kind, quota->now) >=
                   quota->limit) {
    return Insertion::overQuota;
  }
  const auto sql = std::string("INSERT INTO shares (") + shareColumns +
                   ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
  Statement insert(db, sql.c_str());
  insert.bind(1, share.id).bind(2, share.kind).bind(3, share.slug).bind(4, share.owner);
  insert.bind(5, share.anonymousClient).bind(6, share.claimHash).bind(7, share.url);
  insert.bind(8, share.filename).bind(9, share.contentType).bind(10, share.size);
  insert.bind(11, share.blob).bind(12, share.comment).bind(13, share.passwordHash);
  insert.bind(14, share.maxDownloads).bind(15, share.downloadCount);
  insert.bind(16, std::int64_t{share.disableDownload})
      .bind(17, std::int64_t{share.burnAfterReading});
  insert.bind(18, share.watermark).bind(19, share.title).bind(20, share.ctime);
  insert.bind(21, share.expDays).bind(22, share.expiresAt).bind(23, share.viewCount);
  insert.step();
  if (insert.constraintFailed) return Insertion::slugTaken;
  Statement reuse(db, "DELETE FROM gone WHERE slug = ?");
  reuse.bind(1, share.slug).step();
  if (key) {  // in the same transaction: a crash leaves both or neither
    // A request that ran for longer than reservations are kept lost its own: the key is bound
    // all the same, unless another request has made a share with it meanwhile.
    Statement done(db,
                   "INSERT INTO idempotency (scope, key, slug, created_at) VALUES (?, ?, ?, ?) "
                   "ON CONFLICT (scope, key) DO UPDATE SET slug = excluded.slug "
                   "WHERE idempotency.slug IS NULL");
    done.bind(1, key->scope).bind(2, key->key).bind(3, share.slug).bind(4, share.ctime).step();
  }
  insertion.commit();
  return Insertion::inserted;
}

std::optional<StoredShare> ServiceStore::share(const std::string& slug) const {
  const auto sql = std::string("SELECT ") + shareColumns + " FROM shares WHERE slug = ?";
  const sql::Lease db(*database_);
  Statement query(db, sql.c_str());
  query.bind(1, slug);
  if (!query.step()) return std::nullopt;
  return readShare(query);
}

std::int64_t ServiceStore::activeShares(const std::optional<std::string>& owner,
                                        const std::optional<std::string>& anonymousClient,
                                        const std::optional<std::string>& kind,
                                        std::int64_t now) const {
  const sql::Lease db(*database_);
  return countActive(*db, owner, anonymousClient, kind, now);
}

std::vector<std::string> ServiceStore::purgeExpired(std::int64_t now) {
  const sql::Lease db(*database_);
  std::vector<std::string> blobs;
  Transaction purge(db);
  Statement expired(db, "SELECT blob FROM shares WHERE expires_at <= ? AND blob IS NOT NULL");
  expired.bind(1, now);
  while (expired.step()) blobs.push_back(expired.text(0));
  // Pairing codes stay a day past their expiry, so a late claim hears "expired", not "unknown".
  // A swept share's page says it expired for 30 days, as a burned one's says it burned.
  const auto remember = std::string("INSERT INTO gone (") + goneColumns +
                        ") SELECT slug, 'expired', ?1, kind, owner, claim_hash FROM shares "
                        "WHERE expires_at <= ?1" +
                        replacingGone;
  for (const auto* sql :
       {"DELETE FROM gone WHERE at <= ?1 - 30 * 86400", remember.c_str(),
        "DELETE FROM shares WHERE expires_at <= ?1", "DELETE FROM notices WHERE expires_at <= ?1",
        "DELETE FROM pairings WHERE expires_at <= ?1 - 86400",
        "DELETE FROM password_tries WHERE at <= ?1 - 86400"}) {
    Statement remove(db, sql);
    remove.bind(1, now).step();
  }
  purge.commit();
  return blobs;
}

std::vector<std::string> ServiceStore::blobIds() const {
  const sql::Lease db(*database_);
  Statement query(db, "SELECT blob FROM shares WHERE blob IS NOT NULL");
  std::vector<std::string> ids;
  while (query.step()) ids.push_back(query.text(0));
  return ids;
}

ServiceStore::BindOutcome ServiceStore::bindAnonymous(const std::string& slug,
                                                      const std::string& kind,
                                                      const std::string& claimHash,
                                                      const std::string& account,
                                                      std::int64_t now) {
  const sql::Lease db(*database_);
  Transaction bind(db);
  Statement query(db, "SELECT kind, claim_hash, expires_at FROM shares WHERE slug = ?");
  query.bind(1, slug);
  if (!query.step() || query.text(0) != kind) return BindOutcome::invalid;
  if (!sameHash(query.optionalText(1), claimHash)) return BindOutcome::invalid;
  if (query.integer(2) <= now) return BindOutcome::expired;
  Statement move(db,
                 "UPDATE shares SET owner = ?, anonymous_client = NULL, claim_hash = NULL "
                 "WHERE slug = ?");
  move.bind(1, account).bind(2, slug).step();
  bind.commit();
  return BindOutcome::bound;
}

void ServiceStore::countView(const std::string& slug) {
  const sql::Lease db(*database_);
  Statement count(db, "UPDATE shares SET view_count = view_count + 1 WHERE slug = ?");
  count.bind(1, slug).step();
}

bool ServiceStore::reserveDownload(const std::string& slug) {
  const sql::Lease db(*database_);
  Statement reserve(db,
                    "UPDATE shares SET download_count = download_count + 1 WHERE slug = ? AND "
                    "(max_downloads <= 0 OR download_count < max_downloads)");
  reserve.bind(1, slug).step();
  return reserve.changes() > 0;
}

void ServiceStore::releaseDownload(const std::string& slug) {
  const sql::Lease db(*database_);
  Statement release(db,
                    "UPDATE shares SET download_count = download_count - 1 "
                    "WHERE slug = ? AND download_count > 0");
  release.bind(1, slug).step();
}

std::optional<std::string> ServiceStore::remove(const std::string& slug, const std::string& reason,
                                                std::int64_t now) {
  const sql::Lease db(*database_);
  Transaction removal(db);
  Statement query(db, "SELECT blob FROM shares WHERE slug = ?");
  query.bind(1, slug);
  if (!query.step()) return std::nullopt;
  const auto blob = query.optionalText(0).value_or("");
  bury(*db, slug, reason, now);
  removal.commit();
  return blob;
}

ServiceStore::Deletion ServiceStore::deleteShare(
    const std::string& slug, const std::string& kind, const ShareHolder& holder, std::int64_t now,
    const std::function<void(const StoredShare&)>& alongside) {
  const sql::Lease db(*database_);
  Transaction deletion(db);  // the share and its tombstone change together, or neither
  if (auto found = share(slug)) {
    if (found->kind != kind || !holds(holder, found->owner, found->claimHash)) return {};
    // A share past its expiry that the sweep has not reached yet stays "expired" on its page.
    const bool expired = found->expiresAt <= now;
    bury(*db, slug, expired ? "expired" : "deleted", now);
    if (alongside && !expired) alongside(*found);
    deletion.commit();
    return {expired ? Deletion::goneAlready : Deletion::deleted, std::move(found)};
  }
  Statement gone(db, "SELECT kind, owner, claim_hash FROM gone WHERE slug = ?");
  gone.bind(1, slug);
  if (gone.step() && gone.text(0) == kind &&
      holds(holder, gone.optionalText(1), gone.optionalText(2))) {
    return {Deletion::goneAlready, std::nullopt};
  }
  return {};
}

std::optional<std::string> ServiceStore::goneReason(const std::string& slug) const {
  const sql::Lease db(*database_);
  Statement query(db, "SELECT reason FROM gone WHERE slug = ?");
  query.bind(1, slug);
  if (!query.step()) return std::nullopt;
  return query.text(0);
}

ServiceStore::KeyUse ServiceStore::useIdempotencyKey(const std::string& scope,
                                                     const std::string& key, std::int64_t now) {
  const sql::Lease db(*database_);
  Transaction use(db);
  Statement query(db, "SELECT slug, created_at FROM idempotency WHERE scope = ? AND key = ?");
  query.bind(1, scope).bind(2, key);
  if (query.step() && query.integer(1) > now - 86400) {
    if (query.isNull(0)) return {KeyUse::inProgress, {}};
    return {KeyUse::done, query.text(0)};
  }
  Statement reserve(db,
                    "INSERT INTO idempotency (scope, key, slug, created_at) VALUES (?, ?, NULL, ?) "
                    "ON CONFLICT (scope, key) DO UPDATE SET slug = NULL, "
                    "created_at = excluded.created_at");
  reserve.bind(1, scope).bind(2, key).bind(3, now).step();
  use.commit();
  return {KeyUse::fresh, {}};
}

void ServiceStore::releaseIdempotencyKey(const KeyScope& key) {
  const sql::Lease db(*database_);
  Statement release(db, "DELETE FROM idempotency WHERE scope = ? AND key = ? AND slug IS NULL");
  release.bind(1, key.scope).bind(2, key.key).step();
}

void ServiceStore::releaseUnfinishedKeys(std::int64_t before) {
  const sql::Lease db(*database_);
  Statement release(db, "DELETE FROM idempotency WHERE slug IS NULL AND created_at <= ?");
  release.bind(1, before).step();
}

std::optional<std::int64_t> ServiceStore::admitPasswordTry(const std::string& caller,
                                                           std::int64_t burst,
                                                           std::int64_t perMinute,
                                                           std::int64_t now) {
  // Tries are counted in thousandths, so that a bucket refills by the second.
  constexpr std::int64_t one = 1000;
  const sql::Lease db(*database_);
  Transaction attempt(db);  // two nodes never spend the same try
  Statement bucket(db, "SELECT tokens, at FROM password_tries WHERE caller = ?");
  bucket.bind(1, caller);
  auto tokens = burst * one;
  if (bucket.step()) {
    const auto refill = std::max<std::int64_t>(0, now - bucket.integer(1)) * perMinute * one / 60;
    tokens = std::min(tokens, bucket.integer(0) + refill);
  }
  if (tokens < one) {
    const auto perSecond = std::max<std::int64_t>(1, perMinute * one / 60);
    return (one - tokens + perSecond - 1) / perSecond;
  }
  Statement spend(db,
                  "INSERT INTO password_tries (caller, tokens, at) VALUES (?, ?, ?) "
                  "ON CONFLICT (caller) DO UPDATE SET tokens = excluded.tokens, at = excluded.at");
  spend.bind(1, caller).bind(2, tokens - one).bind(3, now).step();
  attempt.commit();
  return std::nullopt;
}

void ServiceStore::replaceClaim(const std::string& slug, const std::string& claimHash) {
  const sql::Lease db(*database_);
  Statement replace(db,
                    "UPDATE shares SET claim_hash = ? WHERE slug = ? AND claim_hash IS NOT NULL");
  replace.bind(1, claimHash).bind(2, slug).step();
}

bool ServiceStore::isIntact() const {
  const sql::Lease db(*database_);
  return database_->isIntact(*db);
}

}  // namespace lumo::service
