#include "ShareBackgroundUploader.hpp"

#include <algorithm>

#include "ShareLogMessages.hpp"

namespace lumo {
namespace {

/// The live session's configuration: the given one, with a whole request bounded by
/// `liveResourceTimeout` at most, so that a peer that trickles cannot hold a drain.
ShareCurlSession::Configuration liveConfiguration(ShareCurlSession::Configuration configuration) {
  const auto given = configuration.resourceTimeout;
  const auto limit = ShareBackgroundUploader::liveResourceTimeout;
  configuration.resourceTimeout = given.count() > 0 ? std::min(given, limit) : limit;
  return configuration;
}

}  // namespace

ShareBackgroundUploader::ShareBackgroundUploader(ShareCurlSession::Configuration configuration)
    : backgroundSession_(
          std::make_shared<ShareBackgroundSession>(sessionIdentifier, configuration)),
      transport_(std::make_shared<ShareHybridTransport>(
          std::make_shared<ShareCurlSession>(liveConfiguration(configuration)),
          backgroundSession_)) {}

std::shared_ptr<ShareBackgroundUploader> ShareBackgroundUploader::make(
    ShareCurlSession::Configuration configuration) {
  std::shared_ptr<ShareBackgroundUploader> uploader(
      new ShareBackgroundUploader(std::move(configuration)));
  uploader->backgroundSession_->setDelegate(uploader);
  return uploader;
}

void ShareBackgroundUploader::didCompleteWithError(std::int64_t taskNumber,
                                                   const std::string& error) {
  ShareLogMessages::backgroundTaskFailed(taskNumber, error);
}

}  // namespace lumo
