#include "ShareBackgroundUploader.hpp"

#include "ShareLogMessages.hpp"
#include "ShareUploadSession.hpp"

namespace lumo {

ShareBackgroundUploader::ShareBackgroundUploader(ShareCurlSession::Configuration configuration)
    : liveSession_(std::make_shared<ShareCurlSession>(configuration)),
      backgroundSession_(
          std::make_shared<ShareBackgroundSession>(sessionIdentifier, std::move(configuration))),
      transport_(std::make_shared<ShareHybridTransport>(liveSession_, backgroundSession_)) {}

std::shared_ptr<ShareBackgroundUploader> ShareBackgroundUploader::make(
    ShareCurlSession::Configuration configuration) {
  std::shared_ptr<ShareBackgroundUploader> uploader(
      new ShareBackgroundUploader(std::move(configuration)));
  uploader->backgroundSession_->setDelegate(uploader);
  return uploader;
}

std::shared_ptr<ShareBackgroundUploader> ShareBackgroundUploader::shared() {
  static const auto instance = make();
  return instance;
}

ShareBackgroundUploader::~ShareBackgroundUploader() {
  for (auto& drain : drains_) {
    // The last owner may be a drain task itself, which cannot wait for its own end.
    if (drain.get_id() == std::this_thread::get_id()) drain.detach();
  }
}

ShareUploadReport ShareBackgroundUploader::drain(std::int64_t limit) const {
  return drain(transport_, limit);
}

ShareUploadReport ShareBackgroundUploader::drain(
    const std::shared_ptr<ShareHTTPTransport>& transport, std::int64_t limit) {
  return ShareUploadSession::makeDefault(transport).drain(limit, false);
}

void ShareBackgroundUploader::handleBackgroundEvents(const std::string& identifier,
                                                     std::function<void()> completionHandler) {
  if (identifier != sessionIdentifier) {
    if (completionHandler) completionHandler();
    return;
  }
  const std::lock_guard lock(lock_);
  storedCompletionHandler_ = std::move(completionHandler);
  drains_.emplace_back([weak = weak_from_this()] {
    std::shared_ptr<ShareHTTPTransport> transport;
    if (const auto self = weak.lock()) transport = self->transport_;
    if (transport) drain(transport, eventsDrainLimit);  // else the uploader went away first
  });
}

void ShareBackgroundUploader::didFinishEvents() {
  std::function<void()> handler;
  {
    const std::lock_guard lock(lock_);
    handler.swap(storedCompletionHandler_);
  }
  if (handler) handler();
}

void ShareBackgroundUploader::didCompleteWithError(std::int64_t taskNumber,
                                                   const std::string& error) {
  ShareLogMessages::backgroundTaskFailed(taskNumber, error);
}

}  // namespace lumo
