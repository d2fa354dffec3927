// The store's pairing codes, devices and device notices.
#include "ServiceStore.hpp"
#include "ShareJSON.hpp"
#include "SqlDatabase.hpp"

namespace lumo::service {
using sql::Statement;
using sql::Transaction;
namespace {

constexpr const char* deviceColumns = "id, name, platform, capabilities, created_at, last_seen_at";
/// The device of a token (its hash the statement's last parameter) whose account still exists.
constexpr const char* signedInDevice = "token_hash = ? AND account IN (SELECT id FROM accounts)";

std::optional<std::string> encodeCapabilities(
    const std::optional<std::vector<std::string>>& capabilities) {
  if (!capabilities) return std::nullopt;
  return ShareJSON::encoder().encode(*capabilities);
}

DeviceInfo readDevice(const Statement& row, int first) {
  DeviceInfo device;
  device.id = row.text(first);
  device.name = row.text(first + 1);
  device.platform = row.text(first + 2);
  if (const auto capabilities = row.optionalText(first + 3)) {
    device.capabilities = ShareJSON::decoder().decode<std::vector<std::string>>(*capabilities);
  }
  device.created_at = row.integer(first + 4);
  if (!row.isNull(first + 5)) device.last_seen_at = row.integer(first + 5);
  return device;
}

}  // namespace

bool ServiceStore::addPairing(const std::string& code, const std::string& account,
                              std::int64_t expiresAt) {
  const sql::Lease db(*database_);
  Statement insert(db, "INSERT INTO pairings (code, account, expires_at) VALUES (?, ?, ?)");
  insert.bind(1, code).bind(2, account).bind(3, expiresAt).step();
  return !insert.constraintFailed;
}

ServiceStore::PairingClaim ServiceStore::claimPairing(const std::string& code,
                                                      const DeviceInfo& device,
                                                      const std::string& tokenHash,
                                                      std::int64_t now) {
  const sql::Lease db(*database_);
  Transaction claim(db);
  Statement query(db, "SELECT account, expires_at FROM pairings WHERE code = ?");
  query.bind(1, code);
  if (!query.step()) return {};
  PairingClaim result{PairingClaim::claimed, query.text(0)};
  Statement use(db, "DELETE FROM pairings WHERE code = ?");
  use.bind(1, code).step();
  if (query.integer(1) <= now) {
    claim.commit();
    return {PairingClaim::expired, {}};
  }
  Statement insert(db,
                   "INSERT INTO devices (id, account, name, platform, capabilities, token_hash, "
                   "created_at) VALUES (?, ?, ?, ?, ?, ?, ?)");
  insert.bind(1, device.id).bind(2, result.account).bind(3, device.name).bind(4, device.platform);
  insert.bind(5, encodeCapabilities(device.capabilities)).bind(6, tokenHash);
  insert.bind(7, device.created_at).step();
  if (insert.constraintFailed) throw StoreError("a device with this id or token exists");
  claim.commit();
  return result;
}

std::optional<std::pair<std::string, DeviceInfo>> ServiceStore::signInDevice(
    const std::string& tokenHash, std::int64_t now) {
  const sql::Lease db(*database_);
  Statement touch(db, std::string("UPDATE devices SET last_seen_at = ? WHERE ") + signedInDevice);
  touch.bind(1, now).bind(2, tokenHash).step();
  Statement query(db, std::string("SELECT account, ") + deviceColumns + " FROM devices WHERE " +
                          signedInDevice);
  query.bind(1, tokenHash);
  if (!query.step()) return std::nullopt;
  return std::pair(query.text(0), readDevice(query, 1));
}

std::optional<std::string> ServiceStore::deviceWithToken(const std::string& tokenHash) const {
  const sql::Lease db(*database_);
  Statement query(db, std::string("SELECT id FROM devices WHERE ") + signedInDevice);
  query.bind(1, tokenHash);
  if (!query.step()) return std::nullopt;
  return query.text(0);
}

std::vector<DeviceInfo> ServiceStore::devices(const std::string& account) const {
  const sql::Lease db(*database_);
  Statement query(db, std::string("SELECT ") + deviceColumns +
                          " FROM devices WHERE account = ? ORDER BY created_at, id");
  query.bind(1, account);
  std::vector<DeviceInfo> devices;
  while (query.step()) devices.push_back(readDevice(query, 0));
  return devices;
}

bool ServiceStore::deleteDevice(const std::string& account, const std::string& id) {
  const sql::Lease db(*database_);
  Statement remove(db, "DELETE FROM devices WHERE account = ? AND id = ?");
  remove.bind(1, account).bind(2, id).step();
  return remove.changes() > 0;
}

void ServiceStore::addNotices(const std::string& account, const DeviceNotice& notice) {
  const sql::Lease db(*database_);
  // A write transaction, so that notices commit in the order of their sequence numbers and a
  // device's cursor never passes one that another node has yet to commit.
  Transaction adding(db);
  Statement insert(db, std::string("INSERT INTO notices (id, device, type, kind, title, slug, "
                                   "short_url, created_at, expires_at) SELECT ") +
                           database_->randomId() +
                           ", id, ?, ?, ?, ?, ?, ?, ? FROM devices WHERE account = ?");
  insert.bind(1, notice.type).bind(2, notice.kind).bind(3, notice.title).bind(4, notice.slug);
  insert.bind(5, notice.short_url).bind(6, notice.created_at).bind(7, notice.expires_at);
  insert.bind(8, account).step();
  adding.commit();
}

DeviceNoticeListResult ServiceStore::notices(const std::string& device, std::int64_t since,
                                             std::int64_t limit) const {
  const sql::Lease db(*database_);
  Statement query(db,
                  "SELECT sequence, id, type, kind, title, slug, short_url, created_at, "
                  "expires_at FROM notices WHERE device = ? AND sequence > ? "
                  "ORDER BY sequence LIMIT ?");
  query.bind(1, device).bind(2, since).bind(3, limit);
  DeviceNoticeListResult result{{}, since};
  while (query.step()) {
    result.cursor = query.integer(0);
    result.notices.push_back(DeviceNotice{
        query.text(1), query.text(2), query.text(3), query.optionalText(4), query.text(5),
        query.text(6), std::nullopt, std::nullopt, query.integer(7), query.integer(8)});
  }
  return result;
}

bool ServiceStore::acknowledge(const std::string& device, const std::string& noticeId,
                               const std::string& status) {
  const sql::Lease db(*database_);
  Statement update(db, "UPDATE notices SET ack_status = ? WHERE device = ? AND id = ?");
  update.bind(1, status).bind(2, device).bind(3, noticeId).step();
  return update.changes() > 0;
}

}  // namespace lumo::service
