#include "ShareLogMessages.hpp"

#include <fmt/format.h>

#include "ShareLog.hpp"

namespace lumo::ShareLogMessages {
namespace {

using Level = ShareLogLevel;

template <class... Args>
void write(const ShareLogger& logger, Level level, fmt::format_string<Args...> format,
           Args&&... args) noexcept {
  logger.log(level, [&] { return fmt::format(format, std::forward<Args>(args)...); });
}

}  // namespace

void enqueuedShare(std::string_view clientShareId, std::int64_t attachmentCount) {
  write(ShareLog::queue(), Level::info, "enqueued share {} items={}", clientShareId,
        attachmentCount);
}

void queuedShareFailed(std::string_view clientShareId, std::string_view errorText) {
  write(ShareLog::queue(), Level::defaultLevel, "share {} failed: {}", clientShareId, errorText);
}

void queuedShareUploaded(std::string_view clientShareId, std::string_view kind,
                         std::string_view slug) {
  write(ShareLog::queue(), Level::info, "share {} uploaded as {}/{}", clientShareId, kind, slug);
}

void reclaimedStaging(std::string_view folderName) {
  write(ShareLog::queue(), Level::info, "reclaimed abandoned staging folder {}", folderName);
}

void backgroundTaskFailed(std::int64_t taskNumber, std::string_view error) {
  write(ShareLog::upload(), Level::debug, "background task {} failed: {}", taskNumber, error);
}

void drainTokenRejected() {
  write(ShareLog::upload(), Level::defaultLevel, "分享 token 已失效（401），后续条目改走匿名上传");
}

void uploadTokenRejected() {
  write(ShareLog::upload(), Level::defaultLevel, "分享 token 已失效（401），改走匿名上传");
}

void bindPassFinished(std::int64_t attempted, std::int64_t bound, std::int64_t failed,
                      std::int64_t retryLater) {
  write(ShareLog::app(), Level::debug,
        "bind pending shares attempted={} bound={} failed={} retryLater={}", attempted, bound,
        failed, retryLater);
}

void bindPassSkipped(std::string_view reason) {
  write(ShareLog::app(), Level::debug, "bind pending shares skipped: {}", reason);
}

void keychainReadStatus(std::int32_t status) {
  write(ShareLog::token(), Level::debug, "keychain read status={}", status);
}

void ingestStart(std::int64_t providerCount, std::string_view typeIdentifiers) {
  write(ShareLog::shareExtension(), Level::info, "ingest start providers={} types={}",
        providerCount, typeIdentifiers);
}

void skippedProviders(std::string_view skipReasons) {
  write(ShareLog::shareExtension(), Level::error, "skipped providers: {}", skipReasons);
}

void providerFailures(std::string_view failureTexts) {
  write(ShareLog::shareExtension(), Level::error, "provider failures: {}", failureTexts);
}

void ingestStageFailed(std::string_view error) {
  write(ShareLog::shareExtension(), Level::error, "ingest stage failed: {}", error);
}

void ingestFailed(std::string_view error) {
  write(ShareLog::shareExtension(), Level::error, "ingest failed: {}", error);
}

void ingestEmptyPayload(std::string_view providers) {
  write(ShareLog::shareExtension(), Level::error, "ingest empty payload providers={}", providers);
}

void loadFinished(std::string_view message) {
  write(ShareLog::shareExtension(), Level::error, "load finished with message={}", message);
}

void copyFileURLFailed(std::string_view error) {
  write(ShareLog::shareExtension(), Level::debug, "copy file-url failed: {}", error);
}

void archiveFileURLDirectoryFailed(std::string_view error) {
  write(ShareLog::shareExtension(), Level::error, "archive file-url directory failed: {}", error);
}

void stageAttachmentFailed(std::string_view error) {
  write(ShareLog::shareExtension(), Level::debug, "stage attachment failed: {}", error);
}

void archiveAttachmentFailed(std::string_view error) {
  write(ShareLog::shareExtension(), Level::error, "archive attachment failed: {}", error);
}

void loadItemFailed(std::string_view typeIdentifier, std::string_view error) {
  write(ShareLog::shareExtension(), Level::debug, "loadItem {} failed: {}", typeIdentifier, error);
}

void tokenState(std::string_view state, bool anonymous) {
  write(ShareLog::shareExtension(), Level::defaultLevel, "token state={} anonymous={}", state,
        anonymous);
}

void storageLocation(std::string_view location, std::string_view root) {
  write(ShareLog::shareExtension(), Level::defaultLevel, "storage location={} root={}", location,
        root);
}

void shareSucceeded(std::string_view kind, std::string_view slug, std::string_view shortUrl,
                    bool anonymous) {
  write(ShareLog::shareExtension(), Level::info,
        "share success kind={} slug={} shortUrl={} anonymous={}", kind, slug, shortUrl, anonymous);
}

void shareFailed(std::string_view error, bool requiresLogin, std::string_view message) {
  write(ShareLog::shareExtension(), Level::error,
        "share failed error={} requiresLogin={} message={}", error, requiresLogin, message);
}

}  // namespace lumo::ShareLogMessages
