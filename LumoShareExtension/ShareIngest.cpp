#include "ShareIngest.hpp"

#include <fmt/format.h>

#include "FileDigest.hpp"
#include "SaturatingMath.hpp"
#include "ShareApple.hpp"
#include "ShareAppleBundle.hpp"
#include "ShareContext.hpp"
#include "ShareLogMessages.hpp"
#include "SharePayloadFactory.hpp"
#include "ShareTargetLoader.hpp"
#include "ShareTime.hpp"
#include "ShareVocabularies.hpp"
#include "UnicodeText.hpp"

namespace lumo {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t digestChunkBytes = 1048576;

StagedAttachment stageAttachment(const RawAttachment& raw, std::size_t position,
                                 const fs::path& directory) {
  // A local name that would leave the share's folder ("../x", "a/b") names nothing inside it.
  const auto file = StagedShare::confinedPath(raw.localFileName, directory);
  const auto displayName = raw.originalName.value_or(raw.localFileName);
  std::error_code error;
  // A symlink is no staged file: it could point anywhere outside the folder.
  const auto type = fs::symlink_status(file, error).type();
  if (type == fs::file_type::not_found || type == fs::file_type::symlink) {
    throw ShareIngestError::stagingFailed(displayName + "：附件文件不存在（" + raw.localFileName +
                                          "）");
  }
  if (fs::is_directory(file, error)) {
    throw ShareIngestError::stagingFailed(displayName + "：附件是文件夹，必须先压缩成 zip");
  }
  const auto reported = fs::file_size(file, error);
  const auto size =
      error ? std::max<std::int64_t>(raw.size, 0) : static_cast<std::int64_t>(reported);
  std::string digest = raw.sha256.value_or("");
  try {
    if (digest.empty()) digest = FileDigest::sha256Hex(file, digestChunkBytes);
  } catch (const std::exception& failure) {
    throw ShareIngestError::stagingFailed(displayName + "：无法计算 SHA-256（" + failure.what() +
                                          "）");
  }
  return StagedAttachment{"i" + std::to_string(position),
                          raw.localFileName,
                          rawAttachmentKindName(raw.kind),
                          raw.mime,
                          raw.originalName,
                          size,
                          std::move(digest),
                          raw.width,
                          raw.height,
                          raw.durationMs};
}

void enqueueOrDiscard(PendingShareQueue& queue, const StagedShare& staged) {
  try {
    queue.enqueue(staged);
  } catch (const std::exception& error) {
    queue.discardStaging(staged.clientShareId);
    throw ShareIngestError::queueFailed(error.what());
  }
}

}  // namespace

ShareIngest::ShareIngest(std::shared_ptr<PendingShareQueue> queue, ShareStorage storage,
                         ShareSettingsStore settings, ShareArchive archive)
    : queue_(std::move(queue)),
      storage_(std::move(storage)),
      settings_(std::move(settings)),
      archive_(std::move(archive)) {}

ShareIngest ShareIngest::makeDefault() {
  return ShareContext::process().ingest();
}

StagedShare ShareIngest::ingest(const std::vector<std::shared_ptr<ShareItemProvider>>& providers,
                                const std::string& clientShareId,
                                std::optional<ShareOptions> options,
                                std::optional<ShareSource> source) const {
  auto staged = load(providers, clientShareId, std::move(options), std::move(source));
  enqueueOrDiscard(*queue_, staged);
  return staged;
}

std::shared_ptr<HeldShare> ShareIngest::ingestHeld(
    const std::vector<std::shared_ptr<ShareItemProvider>>& providers,
    const std::string& clientShareId, std::optional<ShareOptions> options,
    std::optional<ShareSource> source) const {
  auto staged = load(providers, clientShareId, std::move(options), std::move(source));
  auto lease = queue_->takeStagingLease(clientShareId);
  if (!lease) {
    queue_->discardStaging(clientShareId);
    throw ShareIngestError::stagingFailed("share is being staged elsewhere: " + clientShareId);
  }
  return std::make_shared<HeldShare>(queue_, std::move(staged), *std::move(lease));
}

StagedShare ShareIngest::load(const std::vector<std::shared_ptr<ShareItemProvider>>& providers,
                              const std::string& clientShareId, std::optional<ShareOptions> options,
                              std::optional<ShareSource> source) const {
  fs::path directory;
  try {
    directory = queue_->makeStagingDirectory(clientShareId);
  } catch (const std::exception& error) {
    throw ShareIngestError::stagingFailed(error.what());
  }
  try {
    const auto origin = source ? *source : ShareAppleBundle::main()->defaultSource();
    const ShareTargetLoader loader(directory, ShareApple::maxItems, origin, archive_, progress_,
                                   skipped_);
    const auto raw = loader.load(providers);
    if (!raw.skippedReasons.empty())
      ShareLogMessages::skippedProviders(fmt::format("{}", fmt::join(raw.skippedReasons, ",")));
    if (!raw.failures.empty())
      ShareLogMessages::providerFailures(fmt::format("{}", fmt::join(raw.failures, "；")));
    if (raw.isEmpty()) throw emptyPayloadError(raw.failures);
    if (!options) options = settings_.load().options();
    return makeStaged(raw, clientShareId, options, directory);
  } catch (const ShareIngestError&) {
    queue_->discardStaging(clientShareId);
    throw;
  } catch (const std::exception& error) {
    ShareLogMessages::ingestStageFailed(error.what());
    queue_->discardStaging(clientShareId);
    throw ShareIngestError::stagingFailed(error.what());
  }
}

std::vector<StagedAttachment> ShareIngest::stageAttachments(const RawSharePayload& raw,
                                                            const fs::path& directory) const {
  std::vector<StagedAttachment> staged;
  for (std::size_t index = 0; index < raw.attachments.size(); ++index) {
    staged.push_back(stageAttachment(raw.attachments[index], index + 1, directory));
  }
  return staged;
}

StagedShare ShareIngest::stage(const RawSharePayload& raw, const std::string& clientShareId,
                               std::optional<ShareOptions> options,
                               const fs::path& directory) const {
  auto staged = makeStaged(raw, clientShareId, std::move(options), directory);
  enqueueOrDiscard(*queue_, staged);
  return staged;
}

StagedShare ShareIngest::makeStaged(const RawSharePayload& raw, const std::string& clientShareId,
                                    std::optional<ShareOptions> options,
                                    const fs::path& directory) const {
  auto attachments = stageAttachments(raw, directory);
  const auto text = SharePayloadFactory::normalizeText(raw.text);
  if (!text && !raw.url && attachments.empty()) throw ShareIngestError::emptyPayload();
  const auto createdAt = currentTimeMs();
  auto payload =
      SharePayloadFactory::makePayload(clientShareId, createdAt, raw.source, text, raw.url,
                                       attachments, CaptureMethodValues::shareSheet);
  std::int64_t totalBytes = 0;
  for (const auto& attachment : attachments)
    totalBytes = saturatingAdd(totalBytes, attachment.size);
  StagedShare staged{clientShareId, createdAt,  std::move(payload), std::move(attachments), "",
                     std::nullopt,  totalBytes, std::nullopt};
  staged.displayTitle = SharePayloadFactory::displayTitle(staged);
  staged.displayPreview = SharePayloadFactory::displayPreview(staged);
  staged.options = std::move(options);
  return staged;
}

ShareIngestError ShareIngest::emptyPayloadError(const std::vector<std::string>& failures) {
  std::vector<std::string> kept;
  for (const auto& failure : failures) {
    if (!UnicodeText::trimmed(failure).empty()) kept.push_back(failure);
  }
  if (kept.empty()) return ShareIngestError::emptyPayload();
  return ShareIngestError::stagingFailed(fmt::format("{}", fmt::join(kept, "；")));
}

}  // namespace lumo
