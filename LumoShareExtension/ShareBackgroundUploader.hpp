#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ShareBackgroundSession.hpp"
#include "ShareCurlSession.hpp"
#include "ShareHybridTransport.hpp"
#include "ShareUploadReport.hpp"

namespace lumo {

/// The process's owner of the background session: drains the queue over a transport whose
/// uploads run on that session, and keeps the completion handler of a batch of background events
/// until the session reports its events done. On Linux the background drain is started by a
/// systemd user timer running `lumo-share drain`; the events entry point keeps its contract for
/// any launcher that wakes the process for the session.
class ShareBackgroundUploader final : public ShareBackgroundSessionDelegate,
                                      public std::enable_shared_from_this<ShareBackgroundUploader> {
 public:
  static constexpr const char* sessionIdentifier = "com.lumo.share.apple.upload";
  /// How many queue entries one background wake-up drains.
  static constexpr std::int64_t eventsDrainLimit = 5;
  /// Longest one request of the live session may take as a whole (its resource time-out).
  static constexpr std::chrono::milliseconds liveResourceTimeout = std::chrono::seconds(600);

  /// The process's uploader, made on first use.
  static std::shared_ptr<ShareBackgroundUploader> shared();
  /// A new uploader with sessions of its own (tests; `shared()` for everything else). The live
  /// session allows each request at most `liveResourceTimeout`, or the configuration's resource
  /// time-out when that is shorter.
  static std::shared_ptr<ShareBackgroundUploader> make(
      ShareCurlSession::Configuration configuration = {});
  ~ShareBackgroundUploader() override;

  /// Live requests on the ordinary session, uploads on the background session.
  std::shared_ptr<ShareHTTPTransport> transport() const { return transport_; }
  /// Drains the due shares of the default upload session over `transport()`, at most `limit`.
  ShareUploadReport drain(std::int64_t limit) const;

  /// The process was woken for the events of session `identifier`. A foreign identifier gets its
  /// handler called at once; for ours the handler is kept (replacing, uncalled, one kept before)
  /// until the session's events are done, and a drain of `eventsDrainLimit` shares starts.
  void handleBackgroundEvents(const std::string& identifier,
                              std::function<void()> completionHandler);

  void didFinishEvents() override;
  void didCompleteWithError(std::int64_t taskNumber, const std::string& error) override;

  /// Drain threads kept: the running ones, and finished ones not yet joined (the next wake-up
  /// joins them).
  std::size_t keptDrainCount();
  /// Whether a drain started by a wake-up is still running.
  bool isDraining();

 private:
  /// A drain started by a wake-up; `done` is set as its last step, so joining it then is quick.
  struct DrainThread {
    std::shared_ptr<std::atomic<bool>> done;
    std::jthread thread;
  };

  explicit ShareBackgroundUploader(ShareCurlSession::Configuration configuration);
  static ShareUploadReport drain(const std::shared_ptr<ShareHTTPTransport>& transport,
                                 std::int64_t limit);
  /// Takes the finished drains out of `drains_`, for the caller to join outside the lock.
  std::vector<DrainThread> takeFinishedDrains();

  std::mutex lock_;
  std::function<void()> storedCompletionHandler_;
  std::vector<DrainThread> drains_;
  std::shared_ptr<ShareCurlSession> liveSession_;
  std::shared_ptr<ShareBackgroundSession> backgroundSession_;
  std::shared_ptr<ShareHybridTransport> transport_;
};

}  // namespace lumo
