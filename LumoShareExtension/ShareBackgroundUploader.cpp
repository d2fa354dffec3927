#include "ShareBackgroundUploader.hpp"

#include <algorithm>
#include <iterator>

#include "ShareLogMessages.hpp"
#include "ShareUploadSession.hpp"

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
    : liveSession_(std::make_shared<ShareCurlSession>(liveConfiguration(configuration))),
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
    if (drain.thread.get_id() == std::this_thread::get_id()) drain.thread.detach();
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
  std::vector<DrainThread> finished;  // joined after the lock is released, as it goes
  const std::lock_guard lock(lock_);
  storedCompletionHandler_ = std::move(completionHandler);
  finished = takeFinishedDrains();
  auto done = std::make_shared<std::atomic<bool>>(false);
  drains_.push_back({done, std::jthread([weak = weak_from_this(), done] {
                       std::shared_ptr<ShareHTTPTransport> transport;
                       if (const auto self = weak.lock()) transport = self->transport_;
                       // Without a transport the uploader went away first: nothing to drain.
                       if (transport) drain(transport, eventsDrainLimit);
                       done->store(true);
                     })});
}

std::vector<ShareBackgroundUploader::DrainThread> ShareBackgroundUploader::takeFinishedDrains() {
  std::vector<DrainThread> finished;
  const auto firstFinished = std::stable_partition(
      drains_.begin(), drains_.end(), [](const DrainThread& drain) { return !drain.done->load(); });
  std::move(firstFinished, drains_.end(), std::back_inserter(finished));
  drains_.erase(firstFinished, drains_.end());
  return finished;
}

std::size_t ShareBackgroundUploader::keptDrainCount() {
  const std::lock_guard lock(lock_);
  return drains_.size();
}

bool ShareBackgroundUploader::isDraining() {
  const std::lock_guard lock(lock_);
  return std::any_of(drains_.begin(), drains_.end(),
                     [](const DrainThread& drain) { return !drain.done->load(); });
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
