#pragma once

#include <cstdint>
#include <string_view>

// Every diagnostic message of the system, with its fixed wording, level and logger. Callers pass
// the values; a message whose level is filtered out is never formatted.
namespace lumo::ShareLogMessages {

// queue
void enqueuedShare(std::string_view clientShareId, std::int64_t attachmentCount);
void queuedShareFailed(std::string_view clientShareId, std::string_view errorText);
void queuedShareUploaded(std::string_view clientShareId, std::string_view kind,
                         std::string_view slug);
void reclaimedStaging(std::string_view folderName);

// upload
void backgroundTaskFailed(std::int64_t taskNumber, std::string_view error);
void drainTokenRejected();
void uploadTokenRejected();

// app
void bindPassFinished(std::int64_t attempted, std::int64_t bound, std::int64_t failed,
                      std::int64_t retryLater);
void bindPassSkipped(std::string_view reason);

// token
void keychainReadStatus(std::int32_t status);

// share-extension
void ingestStart(std::int64_t providerCount, std::string_view typeIdentifiers);
void skippedProviders(std::string_view skipReasons);
void providerFailures(std::string_view failureTexts);
void ingestStageFailed(std::string_view error);
void ingestFailed(std::string_view error);
void ingestEmptyPayload(std::string_view providers);
void loadFinished(std::string_view message);
void copyFileURLFailed(std::string_view error);
void archiveFileURLDirectoryFailed(std::string_view error);
void stageAttachmentFailed(std::string_view error);
void archiveAttachmentFailed(std::string_view error);
void loadItemFailed(std::string_view typeIdentifier, std::string_view error);
void tokenState(std::string_view state, bool anonymous);
void storageLocation(std::string_view location, std::string_view root);
void shareSucceeded(std::string_view kind, std::string_view slug, std::string_view shortUrl,
                    bool anonymous);
void shareFailed(std::string_view error, bool requiresLogin, std::string_view message);

}  // namespace lumo::ShareLogMessages
