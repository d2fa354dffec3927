#include "PendingShareQueue.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <limits>

#include "SaturatingMath.hpp"
#include "ShareApple.hpp"
#include "ShareFileLock.hpp"
#include "ShareJSON.hpp"
#include "ShareLogMessages.hpp"
#include "ShareUUID.hpp"

namespace lumo {
namespace fs = std::filesystem;
namespace {

constexpr char entryFileName[] = "share.json";
constexpr std::int64_t abandonedUploadMs = PendingShareQueue::abandonedUploadMs;
constexpr std::int64_t retryBaseMs = 30000;
constexpr double retryJitter = 0.2;

using State = ShareQueueEntry::State;

void sortOldestFirst(std::vector<QueuedShare>& shares) {
  std::stable_sort(shares.begin(), shares.end(), [](const QueuedShare& a, const QueuedShare& b) {
    return a.staged().createdAt < b.staged().createdAt;
  });
}

void sortNewestFirst(std::vector<ShareUploadRecord>& records) {
  std::stable_sort(records.begin(), records.end(),
                   [](const ShareUploadRecord& a, const ShareUploadRecord& b) {
                     return a.createdAtMs > b.createdAtMs;
                   });
}

std::vector<QueuedShare> firstOf(std::vector<QueuedShare> shares, std::int64_t limit) {
  shares.resize(std::min<std::size_t>(shares.size(),
                                      static_cast<std::size_t>(std::max<std::int64_t>(limit, 0))));
  return shares;
}

bool isDueAt(const ShareQueueEntry& entry, std::int64_t now, bool includeExhausted) {
  if (entry.state == State::uploading) {
    return !entry.lastAttemptAtMs ||
           saturatingSubtract(now, *entry.lastAttemptAtMs) > abandonedUploadMs;
  }
  const bool hasAttemptsLeft =
      includeExhausted || entry.attempts < ShareApple::maxAttemptsBeforeManual;
  return hasAttemptsLeft && (!entry.nextAttemptAtMs || *entry.nextAttemptAtMs <= now);
}

bool hasEntryFile(const fs::path& directory) {
  struct stat info {};
  return ::lstat((directory / entryFileName).c_str(), &info) == 0;
}

}  // namespace

std::optional<std::int64_t> PendingShareQueue::dueAtMs(const ShareQueueEntry& entry) {
  if (entry.state != State::uploading) return entry.nextAttemptAtMs;
  if (!entry.lastAttemptAtMs) return std::nullopt;
  return saturatingAdd(*entry.lastAttemptAtMs, abandonedUploadMs);
}

PendingShareQueue::PendingShareQueue(ShareStorage storage, ShareClock nowMs, ShareRandom random)
    : storage_(std::move(storage)), nowMs_(std::move(nowMs)), random_(std::move(random)) {}

fs::path PendingShareQueue::makeStagingDirectory(const std::string& clientShareId) {
  std::lock_guard lock(mutex_);
  if (!ShareStorage::isSafeShareIdentifier(clientShareId)) {
    throw ShareQueueError::io("invalid share identifier");
  }
  storage_.ensureDirectories();
  const auto directory = storage_.pendingDirectory(clientShareId);
  AtomicFile::createDirectories(directory);
  auto lease = ShareLease::tryTake(directory);
  if (!lease) throw ShareQueueError::io("share is being staged elsewhere: " + clientShareId);
  stagingLeases_.insert_or_assign(clientShareId, *std::move(lease));
  return directory;
}

void PendingShareQueue::enqueue(const StagedShare& staged) {
  std::lock_guard lock(mutex_);
  if (!ShareStorage::isSafeShareIdentifier(staged.clientShareId)) {
    throw ShareQueueError::io("invalid share identifier");
  }
  storage_.ensureDirectories();
  if (readAll().size() >= ShareApple::maxPendingShares) {
    throw ShareQueueError::full(static_cast<std::int64_t>(ShareApple::maxPendingShares));
  }
  const auto directory = storage_.pendingDirectory(staged.clientShareId);
  AtomicFile::createDirectories(directory);
  write(QueuedShare{ShareQueueEntry{staged, State::queued, 0, {}, {}, {}, now()}, directory});
  stagingLeases_.erase(staged.clientShareId);
  ShareLogMessages::enqueuedShare(staged.clientShareId,
                                  static_cast<std::int64_t>(staged.attachments.size()));
}

std::optional<ShareLease> PendingShareQueue::takeStagingLease(const std::string& clientShareId) {
  std::lock_guard lock(mutex_);
  const auto held = stagingLeases_.find(clientShareId);
  if (held == stagingLeases_.end()) return std::nullopt;
  auto lease = std::move(held->second);
  stagingLeases_.erase(held);
  return lease;
}

std::optional<ShareLease> PendingShareQueue::claim(const std::string& clientShareId) const {
  if (!ShareStorage::isSafeShareIdentifier(clientShareId)) return std::nullopt;
  return ShareLease::tryTake(storage_.pendingDirectory(clientShareId));
}

std::optional<ShareLease> PendingShareQueue::claim(const QueuedShare& listed) const {
  return ShareLease::tryTake(listed.directoryURL);
}

std::optional<QueuedShare> PendingShareQueue::entry(const QueuedShare& listed) const {
  std::lock_guard lock(mutex_);
  return read(listed.directoryURL);
}

std::optional<QueuedShare> PendingShareQueue::entry(const std::string& clientShareId) const {
  std::lock_guard lock(mutex_);
  if (!ShareStorage::isSafeShareIdentifier(clientShareId)) return std::nullopt;
  return read(storage_.pendingDirectory(clientShareId));
}

std::vector<QueuedShare> PendingShareQueue::all() const {
  reclaimIfDue();
  std::lock_guard lock(mutex_);
  auto shares = readAll();
  sortOldestFirst(shares);
  return shares;
}

std::vector<QueuedShare> PendingShareQueue::nextBatch(std::int64_t limit,
                                                      bool includeExhausted) const {
  reclaimIfDue();
  std::lock_guard lock(mutex_);
  const auto moment = now();
  std::vector<QueuedShare> due;
  for (auto& share : readAll()) {
    if (isDueAt(share.entry, moment, includeExhausted)) due.push_back(std::move(share));
  }
  sortOldestFirst(due);
  return firstOf(std::move(due), limit);
}

bool PendingShareQueue::isDue(const ShareQueueEntry& entry, bool includeExhausted) const {
  return isDueAt(entry, now(), includeExhausted);
}

void PendingShareQueue::markUploading(const QueuedShare& share) {
  std::lock_guard lock(mutex_);
  auto updated = current(share);
  updated.entry.state = State::uploading;
  updated.entry.attempts = saturatingAdd(updated.entry.attempts, 1);
  updated.entry.lastAttemptAtMs = now();
  updated.entry.updatedAtMs = now();
  write(updated);
}

void PendingShareQueue::markFailed(const QueuedShare& share, const std::string& error,
                                   std::optional<std::int64_t> retryAfterMs) {
  std::lock_guard lock(mutex_);
  const auto moment = now();
  auto updated = current(share);
  updated.entry.state = State::failed;
  updated.entry.lastError = error;
  updated.entry.lastAttemptAtMs = moment;
  updated.entry.updatedAtMs = moment;
  const auto backoff =
      ShareRetry::backoffMs(std::max<std::int64_t>(updated.entry.attempts, 1), retryBaseMs,
                            ShareApple::maxRetryDelayMs, retryJitter, random_);
  const auto delay = retryAfterMs ? std::max(*retryAfterMs, backoff) : backoff;
  updated.entry.nextAttemptAtMs = saturatingAdd(moment, delay);
  write(updated);
  ShareLogMessages::queuedShareFailed(share.staged().clientShareId, error);
}

void PendingShareQueue::markSucceeded(const QueuedShare& share, const ShareUploadOutcome& outcome) {
  std::lock_guard lock(mutex_);
  const auto& id = share.staged().clientShareId;
  {
    ShareFileLock recordsLock(storage_.recentUploadsLockURL());
    auto records = loadRecords();
    // A re-upload under the same slug keeps what binding already achieved.
    const auto earlier = std::find_if(records.begin(), records.end(), [&](const auto& existing) {
      return existing.clientShareId == id && existing.slug == outcome.slug;
    });
    const auto boundAtMs = earlier != records.end() ? earlier->boundAtMs : std::nullopt;
    const auto bindError = earlier != records.end() ? earlier->bindError : std::nullopt;
    ShareUploadRecord record{id,
                             outcome.kind,
                             outcome.slug,
                             outcome.shortUrl,
                             outcome.title.value_or(share.staged().displayTitle),
                             outcome.uploadedAtMs,
                             outcome.expiresAtMs,
                             outcome.anonymous,
                             outcome.claimToken,
                             boundAtMs,
                             bindError,
                             ShareUploadRecord::consoleUrlFor(outcome.kind),
                             ShareUploadRecord::derivedClaimState(boundAtMs, bindError)};
    std::erase_if(records, [&](const auto& existing) { return existing.clientShareId == id; });
    const bool wasFull = records.size() >= ShareApple::maxRecentUploads;
    records.push_back(std::move(record));
    if (wasFull) {
      sortNewestFirst(records);
      records.resize(ShareApple::maxRecentUploads);
    }
    saveRecords(records);
  }
  removeTree(share.directoryURL);
  ShareLogMessages::queuedShareUploaded(id, outcome.kind, outcome.slug);
}

std::optional<QueuedShare> PendingShareQueue::updateStaged(const StagedShare& staged,
                                                           const std::string& clientShareId) {
  std::lock_guard lock(mutex_);
  if (!ShareStorage::isSafeShareIdentifier(clientShareId)) {
    throw ShareQueueError::io("invalid share identifier");
  }
  auto share = read(storage_.pendingDirectory(clientShareId));
  if (!share) return std::nullopt;
  share->entry.staged = staged;
  share->entry.updatedAtMs = now();
  write(*share);
  return share;
}

void PendingShareQueue::requeueAll(bool onlyFailed) {
  std::lock_guard lock(mutex_);
  for (auto& share : readAll()) {
    if (onlyFailed && share.entry.state == State::queued) continue;
    // A share another thread or process is working on is theirs: its attempt decides.
    const auto lease = ShareLease::tryTake(share.directoryURL);
    if (!lease) continue;
    share.entry.state = State::queued;
    share.entry.attempts = 0;
    share.entry.nextAttemptAtMs.reset();
    share.entry.lastError.reset();
    share.entry.updatedAtMs = now();
    write(share);
  }
}

void PendingShareQueue::discardStaging(const std::string& clientShareId) {
  std::lock_guard lock(mutex_);
  removeDirectory(clientShareId);
  stagingLeases_.erase(clientShareId);
}

bool PendingShareQueue::remove(const std::string& clientShareId) {
  std::lock_guard lock(mutex_);
  if (!ShareStorage::isSafeShareIdentifier(clientShareId)) return true;
  const auto directory = storage_.pendingDirectory(clientShareId);
  // Its owner's upload would go on and publish what the person removed: theirs to finish.
  const auto lease = ShareLease::tryTake(directory);
  if (!lease && fs::exists(fs::symlink_status(directory))) return false;
  removeTree(directory);
  return true;
}

void PendingShareQueue::clearAll() {
  std::lock_guard lock(mutex_);
  std::error_code ignored;
  for (const auto& share : readAll()) removeTree(share.directoryURL);
  try {
    ShareFileLock recordsLock(storage_.recentUploadsLockURL());
    fs::remove(storage_.recentUploadsURL(), ignored);
  } catch (const fs::filesystem_error&) {
    fs::remove(storage_.recentUploadsURL(), ignored);
  }
}

ShareQueueStats PendingShareQueue::stats() const {
  std::lock_guard lock(mutex_);
  ShareQueueStats stats;
  for (const auto& share : readAll()) {
    auto& counter = share.entry.state == State::queued      ? stats.queued
                    : share.entry.state == State::uploading ? stats.uploading
                                                            : stats.failed;
    ++counter;
    stats.totalBytes = saturatingAdd(stats.totalBytes, share.staged().totalBytes);
  }
  stats.recent =
      static_cast<std::int64_t>(std::min(loadRecords().size(), ShareApple::maxRecentUploads));
  return stats;
}

std::vector<ShareUploadRecord> PendingShareQueue::recentUploads(std::int64_t limit) const {
  std::lock_guard lock(mutex_);
  if (limit < 1) return {};
  auto records = loadRecords();
  sortNewestFirst(records);
  records.resize(std::min<std::size_t>(records.size(), static_cast<std::size_t>(limit)));
  return records;
}

std::vector<ShareUploadRecord> PendingShareQueue::pendingBinds(std::int64_t limit) const {
  std::lock_guard lock(mutex_);
  if (limit < 1) return {};
  const auto moment = now();
  auto records = loadRecords();
  std::erase_if(records, [moment](const ShareUploadRecord& record) {
    return !record.needsBind() || record.isExpiredForBind(moment);
  });
  std::stable_sort(records.begin(), records.end(),
                   [](const auto& a, const auto& b) { return a.createdAtMs < b.createdAtMs; });
  records.resize(std::min<std::size_t>(records.size(), static_cast<std::size_t>(limit)));
  return records;
}

std::int64_t PendingShareQueue::markBound(const std::vector<std::string>& slugs,
                                          std::optional<std::int64_t> boundAtMs) {
  std::lock_guard lock(mutex_);
  ShareFileLock recordsLock(storage_.recentUploadsLockURL());
  auto records = loadRecords();
  const auto boundAt = boundAtMs.value_or(now());
  std::int64_t changed = 0;
  for (auto& record : records) {
    if (std::find(slugs.begin(), slugs.end(), record.slug) == slugs.end()) continue;
    record.boundAtMs = boundAt;
    record.bindError.reset();
    record.claimState = ClaimStateValues::bound;
    ++changed;
  }
  if (changed > 0) saveRecords(records);
  return changed;
}

std::int64_t PendingShareQueue::markBindSettled(
    const std::map<std::string, std::string>& failures) {
  std::lock_guard lock(mutex_);
  ShareFileLock recordsLock(storage_.recentUploadsLockURL());
  auto records = loadRecords();
  std::int64_t changed = 0;
  for (auto& record : records) {
    const auto failure = failures.find(record.slug);
    if (failure == failures.end()) continue;
    record.bindError = failure->second;
    record.claimState = ClaimStateValues::failed;
    ++changed;
  }
  if (changed > 0) saveRecords(records);
  return changed;
}

std::int64_t PendingShareQueue::removeRecent(const std::string& slug,
                                             const std::optional<std::string>& shortUrl) {
  std::lock_guard lock(mutex_);
  ShareFileLock recordsLock(storage_.recentUploadsLockURL());
  auto records = loadRecords();
  const auto removed =
      static_cast<std::int64_t>(std::erase_if(records, [&](const ShareUploadRecord& record) {
        return record.slug == slug && (!shortUrl || record.shortUrl == *shortUrl);
      }));
  if (removed > 0) saveRecords(records);
  return removed;
}

std::vector<QueuedShare> PendingShareQueue::readAll() const {
  std::vector<QueuedShare> shares;
  for (const auto& directory : storage_.pendingDirectories()) {
    if (auto share = read(directory)) shares.push_back(*std::move(share));
  }
  return shares;
}

QueuedShare PendingShareQueue::current(const QueuedShare& share) const {
  auto stored = read(share.directoryURL);
  if (!stored) {
    throw ShareQueueError::io("share is no longer queued: " +
                              share.directoryURL.filename().string());
  }
  return *std::move(stored);
}

std::optional<QueuedShare> PendingShareQueue::read(const fs::path& directory) const {
  try {
    return QueuedShare{ShareJSON::read<ShareQueueEntry>(directory / entryFileName), directory};
  } catch (const std::exception&) {
    return std::nullopt;  // still being staged, or damaged: not an entry
  }
}

void PendingShareQueue::write(const QueuedShare& share) const {
  // A share removed meanwhile (by the panel, the tool or the host application) must stay gone:
  // the entry is written only into the folder as it exists now, never into a recreated one.
  try {
    const auto bytes = ShareJSON::encoder().encode(share.entry);
    AtomicFile::writeInExistingFolder(share.directoryURL / entryFileName, bytes,
                                      ShareJSON::defaultFileMode);
  } catch (const fs::filesystem_error& error) {
    if (error.code() == std::errc::no_such_file_or_directory) {
      throw ShareQueueError::io("share is no longer queued: " +
                                share.directoryURL.filename().string());
    }
    throw ShareQueueError::io(error.what());
  } catch (const std::exception& error) {
    throw ShareQueueError::io(error.what());
  }
}

void PendingShareQueue::removeDirectory(const std::string& clientShareId) {
  if (!ShareStorage::isSafeShareIdentifier(clientShareId)) return;
  removeTree(storage_.pendingDirectory(clientShareId));
}

void PendingShareQueue::removeTree(const fs::path& directory) const {
  // Renaming first takes the share out of "pending" in one step: a writer racing the removal
  // either fails to open the folder or writes into the doomed copy.
  std::error_code ignored;
  const auto doomed = trashRoot() / makeLowercaseUUID();
  try {
    AtomicFile::createDirectories(trashRoot());
  } catch (const fs::filesystem_error&) {
  }
  fs::rename(directory, doomed, ignored);
  fs::remove_all(ignored ? directory : doomed, ignored);
}

std::int64_t PendingShareQueue::reclaimAbandoned() const {
  std::lock_guard lock(mutex_);
  std::int64_t reclaimed = 0;
  for (const auto& directory : storage_.pendingDirectories()) {
    if (stagingLeases_.count(directory.filename().string()) != 0) continue;
    if (reclaimIfAbandoned(directory)) ++reclaimed;
  }
  sweepTemporaries(storage_.rootURL);
  std::error_code error;
  for (const auto& doomed : fs::directory_iterator(trashRoot(), error)) {
    std::error_code ignored;
    if (isOld(doomed.path())) fs::remove_all(doomed.path(), ignored);
  }
  return reclaimed;
}

void PendingShareQueue::reclaimIfDue() const {
  {
    std::lock_guard lock(mutex_);
    const auto moment = now();
    if (lastReclaimMs_ && moment - *lastReclaimMs_ < reclaimIntervalMs) return;
    lastReclaimMs_ = moment;
  }
  reclaimAbandoned();
}

bool PendingShareQueue::reclaimIfAbandoned(const fs::path& directory) const {
  if (hasEntryFile(directory)) {
    sweepTemporaries(directory);
    return false;
  }
  // The lock tells a folder being staged right now; the age covers the moment between its
  // creation and its lock, and staging by programs that take no lock.
  const auto lease = ShareLease::tryTake(directory);
  if (!lease || !isOld(directory) || hasEntryFile(directory)) return false;
  removeTree(directory);
  ShareLogMessages::reclaimedStaging(directory.filename().string());
  return true;
}

void PendingShareQueue::sweepTemporaries(const fs::path& folder) const {
  std::error_code error;
  for (const auto& item : fs::directory_iterator(folder, error)) {
    const auto name = item.path().filename().string();
    if (name.size() < 2 || name[0] != '.' ||
        name.find(AtomicFile::temporaryInfix) == std::string::npos) {
      continue;
    }
    std::error_code ignored;
    if (item.symlink_status(ignored).type() == fs::file_type::regular && isOld(item.path())) {
      fs::remove(item.path(), ignored);
    }
  }
}

bool PendingShareQueue::isOld(const fs::path& path) const {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return false;
  std::int64_t modifiedMs = 0;
  // A time stamp beyond what milliseconds hold lies before any share or after every clock.
  if (__builtin_mul_overflow(std::int64_t{info.st_mtim.tv_sec}, 1000, &modifiedMs)) {
    return info.st_mtim.tv_sec < 0;
  }
  return saturatingSubtract(now(), modifiedMs) >= abandonedStagingMs;
}

std::vector<ShareUploadRecord> PendingShareQueue::loadRecords() const {
  JSONValue list;
  try {
    list = ShareJSONDecoder::parse(AtomicFile::read(storage_.recentUploadsURL()));
  } catch (const std::exception&) {
    return {};
  }
  if (!list.is_array()) return {};
  // Records are read one by one: a record another writer damaged is dropped, not the whole list.
  std::vector<ShareUploadRecord> records;
  for (std::size_t index = 0; index < list.size(); ++index) {
    try {
      records.push_back(decodeJSONValue<ShareUploadRecord>(list[index], ""));
    } catch (const ShareJSONError&) {
    }
  }
  return records;
}

void PendingShareQueue::saveRecords(const std::vector<ShareUploadRecord>& records) const {
  ShareJSON::write(records, storage_.recentUploadsURL());
}

}  // namespace lumo
