#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ShareLease.hpp"
#include "ShareQueueEntry.hpp"
#include "ShareQueueError.hpp"
#include "ShareRetry.hpp"
#include "ShareStorage.hpp"
#include "ShareTime.hpp"
#include "ShareUploadOutcome.hpp"
#include "ShareUploadRecord.hpp"
#include "StagedShare.hpp"

namespace lumo {

/// The crash-safe queue of shares not yet published, and the list of recent uploads. Every
/// operation holds one mutex, so within a process "share.json" and "recent-uploads.json" are
/// never read and written at once. Other processes (the host application, the command-line
/// tool) work on the same files: entries are replaced atomically and an entry that does not
/// decode is skipped; record changes hold a file lock across their read-modify-write.
///
/// Each share has one owner at a time across threads and processes: whoever holds its
/// `ShareLease`. The stager holds it from `makeStagingDirectory` until `enqueue` or
/// `discardStaging` (or takes it along with `takeStagingLease`), and every upload attempt holds it
/// from `markUploading` to `markSucceeded` or `markFailed`; those three act on the entry as it is
/// on disk, so counts kept by one attempt are never undone by another's stale copy. Listing and
/// draining reclaim what a killed process left behind: share folders without "share.json" that
/// nobody holds and that are older than `abandonedStagingMs`, and atomic-write temporaries of that
/// age. Removed shares are first renamed out of "pending" and then deleted, so no writer can bring
/// one back.
///
/// A share identifier names a folder: one that is empty, ".", "..", or holds "/" or NUL is
/// refused by the operations that create or write, and is absent for the others.
class PendingShareQueue {
 public:
  explicit PendingShareQueue(ShareStorage storage, ShareClock nowMs = systemClock(),
                             ShareRandom random = systemRandom());

  const ShareStorage& storage() const { return storage_; }

  /// A staging folder or temporary younger than this is never reclaimed.
  static constexpr std::int64_t abandonedStagingMs = 600000;
  /// An attempt left "uploading" this long by an owner that is gone is due again.
  static constexpr std::int64_t abandonedUploadMs = 300000;
  /// When the queue takes `entry` up again by its own rule, whatever its attempts: an attempt
  /// left "uploading" once it is `abandonedUploadMs` old, any other share at its stored next
  /// attempt. Absent means at once.
  static std::optional<std::int64_t> dueAtMs(const ShareQueueEntry& entry);

  /// Creates "pending/<id>" (and the tree) and holds its lease until `enqueue` or
  /// `discardStaging` of the same share, or until `takeStagingLease` hands it to the caller. Throws
  /// filesystem_error, or ShareQueueError::io for an unsafe identifier or a folder another process
  /// is staging into.
  std::filesystem::path makeStagingDirectory(const std::string& clientShareId);
  /// Adds a staged share as a new queued entry. Throws ShareQueueError::full at 100 entries,
  /// ShareQueueError::io when "share.json" cannot be written, filesystem_error for the tree.
  void enqueue(const StagedShare& staged);
  /// Hands the lease of a share this queue is staging to the caller, who then owns the share;
  /// nothing when this queue holds none for it.
  std::optional<ShareLease> takeStagingLease(const std::string& clientShareId);
  /// Takes the share's lease without waiting: nothing when another thread or process owns it, or
  /// when there is no such share folder.
  std::optional<ShareLease> claim(const std::string& clientShareId) const;
  /// The lease of the folder `listed` came from.
  std::optional<ShareLease> claim(const QueuedShare& listed) const;
  std::optional<QueuedShare> entry(const std::string& clientShareId) const;
  /// The entry of the folder `listed` came from, as it stands on disk now.
  std::optional<QueuedShare> entry(const QueuedShare& listed) const;
  /// Every readable entry, oldest `createdAt` first.
  std::vector<QueuedShare> all() const;
  /// Entries due for an automatic attempt, oldest first, at most `limit`.
  std::vector<QueuedShare> nextBatch(std::int64_t limit, bool includeExhausted) const;
  /// Whether `entry` is due for an automatic attempt now (the rule of `nextBatch`).
  bool isDue(const ShareQueueEntry& entry, bool includeExhausted) const;

  /// An attempt of the share's owner starts: state uploading, one more attempt. Throws
  /// ShareQueueError::io when the share is no longer queued or cannot be written.
  void markUploading(const QueuedShare& share);
  /// The owner's attempt failed: state failed, the error and the next attempt after a back-off
  /// that follows the attempts counted on disk. Throws like `markUploading`.
  void markFailed(const QueuedShare& share, const std::string& error,
                  std::optional<std::int64_t> retryAfterMs = std::nullopt);
  /// Records the upload and drops the share from the queue. A failure to write the records is
  /// thrown unchanged and the share stays queued.
  void markSucceeded(const QueuedShare& share, const ShareUploadOutcome& outcome);
  std::optional<QueuedShare> updateStaged(const StagedShare& staged,
                                          const std::string& clientShareId);
  void requeueAll(bool onlyFailed);
  void discardStaging(const std::string& clientShareId);
  /// Deletes the share unless another thread or program owns it right now (an upload in
  /// flight, a panel's open form): then nothing changes and the answer is false.
  bool remove(const std::string& clientShareId);
  void clearAll();
  ShareQueueStats stats() const;
  /// Listings reclaim at most this often, so that a tight polling loop does not walk every
  /// share folder each time.
  static constexpr std::int64_t reclaimIntervalMs = 60000;

  /// Deletes abandoned staging folders (among them the held shares of a panel that died before
  /// they were published), leftover temporaries and removed shares (see above);
  /// `all` and `nextBatch` call it at most once per `reclaimIntervalMs`. Answers how many share
  /// folders were reclaimed.
  std::int64_t reclaimAbandoned() const;

  /// Newest first, at most `limit`.
  std::vector<ShareUploadRecord> recentUploads(std::int64_t limit) const;
  /// Unexpired records awaiting a claim bind, oldest first, at most `limit`.
  std::vector<ShareUploadRecord> pendingBinds(std::int64_t limit) const;
  /// Marks the records with these slugs bound (at `boundAtMs`, else now); answers how many.
  std::int64_t markBound(const std::vector<std::string>& slugs,
                         std::optional<std::int64_t> boundAtMs = std::nullopt);
  /// Marks records whose bind failed for good (slug → reason); answers how many.
  std::int64_t markBindSettled(const std::map<std::string, std::string>& failures);
  /// Deletes the records with this slug, or only the one published at `shortUrl` when it is
  /// given (the same slug may name shares on two services); answers how many.
  std::int64_t removeRecent(const std::string& slug,
                            const std::optional<std::string>& shortUrl = std::nullopt);

 private:
  std::vector<QueuedShare> readAll() const;
  std::optional<QueuedShare> read(const std::filesystem::path& directory) const;
  /// The share as it stands on disk now; ShareQueueError::io when it is gone.
  QueuedShare current(const QueuedShare& share) const;
  void write(const QueuedShare& share) const;
  void removeDirectory(const std::string& clientShareId);
  void removeTree(const std::filesystem::path& directory) const;
  void reclaimIfDue() const;
  bool reclaimIfAbandoned(const std::filesystem::path& directory) const;
  void sweepTemporaries(const std::filesystem::path& folder) const;
  bool isOld(const std::filesystem::path& path) const;
  std::filesystem::path trashRoot() const { return storage_.rootURL / ".removed"; }
  std::vector<ShareUploadRecord> loadRecords() const;
  void saveRecords(const std::vector<ShareUploadRecord>& records) const;
  std::int64_t now() const { return nowMs_(); }

  mutable std::mutex mutex_;
  std::map<std::string, ShareLease> stagingLeases_;
  mutable std::optional<std::int64_t> lastReclaimMs_;
  ShareStorage storage_;
  ShareClock nowMs_;
  ShareRandom random_;
};

}  // namespace lumo
