#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "HeldShare.hpp"
#include "PendingShareQueue.hpp"
#include "RawSharePayload.hpp"
#include "ShareArchive.hpp"
#include "ShareIngestError.hpp"
#include "ShareItemProvider.hpp"
#include "ShareOptions.hpp"
#include "ShareSettings.hpp"
#include "ShareSource.hpp"
#include "ShareStorage.hpp"
#include "ShareTargetLoader.hpp"
#include "StagedShare.hpp"

namespace lumo {

/// Turns shared items into a staged share that is safe on disk before anything is sent: its own
/// folder in the queue, the items copied into it, every file checked and fingerprinted, the
/// payload built, the share enqueued. Every failure leaves no folder behind.
class ShareIngest {
 public:
  ShareIngest(std::shared_ptr<PendingShareQueue> queue, ShareStorage storage,
              ShareSettingsStore settings, ShareArchive archive = ShareArchive());
  /// Ingest into the process's storage root and its one queue (see ShareContext).
  static ShareIngest makeDefault();

  /// Loads `providers` into a new share `clientShareId` and enqueues it. Throws ShareIngestError.
  StagedShare ingest(const std::vector<std::shared_ptr<ShareItemProvider>>& providers,
                     const std::string& clientShareId,
                     std::optional<ShareOptions> options = std::nullopt,
                     std::optional<ShareSource> source = std::nullopt) const;

  /// Loads `providers` into a new share `clientShareId` that stays the caller's and is not yet
  /// queued (see HeldShare): for a publish the person still has to confirm. Throws
  /// ShareIngestError.
  std::shared_ptr<HeldShare> ingestHeld(
      const std::vector<std::shared_ptr<ShareItemProvider>>& providers,
      const std::string& clientShareId, std::optional<ShareOptions> options = std::nullopt,
      std::optional<ShareSource> source = std::nullopt) const;

  /// Stages a raw payload whose files already lie in `directory` and enqueues it. Throws
  /// ShareIngestError.
  StagedShare stage(const RawSharePayload& raw, const std::string& clientShareId,
                    std::optional<ShareOptions> options,
                    const std::filesystem::path& directory) const;

  /// The error for a load that gave nothing: the failure texts that are not blank, joined by
  /// "；", or the empty-payload error when there are none.
  static ShareIngestError emptyPayloadError(const std::vector<std::string>& failures);

  /// Follows the staging of the next loads: the bytes of the files and folders read so far (see
  /// ShareStagingProgress), for a progress bar.
  void observeStaging(ShareStagingProgress progress) { progress_ = std::move(progress); }
  /// Hears each item the next loads skip (see ShareTargetLoader::Skipped), so that a caller can
  /// tell the person what was left out and why.
  void observeSkipped(ShareTargetLoader::SkipObserver skipped) { skipped_ = std::move(skipped); }

  const std::shared_ptr<PendingShareQueue>& queue() const { return queue_; }
  const ShareStorage& storage() const { return storage_; }

 private:
  /// Loads and stages into the share's folder, which this ingest's queue holds until the caller
  /// enqueues or takes it; on failure the folder is gone.
  StagedShare load(const std::vector<std::shared_ptr<ShareItemProvider>>& providers,
                   const std::string& clientShareId, std::optional<ShareOptions> options,
                   std::optional<ShareSource> source) const;
  StagedShare makeStaged(const RawSharePayload& raw, const std::string& clientShareId,
                         std::optional<ShareOptions> options,
                         const std::filesystem::path& directory) const;
  std::vector<StagedAttachment> stageAttachments(const RawSharePayload& raw,
                                                 const std::filesystem::path& directory) const;

  std::shared_ptr<PendingShareQueue> queue_;
  ShareStorage storage_;
  ShareSettingsStore settings_;
  ShareArchive archive_;
  ShareStagingProgress progress_;
  ShareTargetLoader::SkipObserver skipped_;
};

}  // namespace lumo
