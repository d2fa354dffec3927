#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ShareCurlSession.hpp"

namespace lumo {

/// Hears what the background session's transfers did, on the session's worker thread and never
/// under the session's lock.
class ShareBackgroundSessionDelegate {
 public:
  virtual ~ShareBackgroundSessionDelegate() = default;
  /// Transfer `taskNumber` (counted from 1 per session) ended with `error`.
  virtual void didCompleteWithError(std::int64_t taskNumber, const std::string& error) = 0;
};

/// The background URL session: its transfers run one after another on the session's own worker
/// thread, over a curl session of their own, so a long upload never ties up the connections of
/// the ordinary session. `perform` hands the transfer over and waits for it; stopping the caller
/// cancels it. Destroying the session cancels the running transfer and every queued one.
class ShareBackgroundSession final : public ShareURLSession {
 public:
  explicit ShareBackgroundSession(std::string identifier,
                                  ShareCurlSession::Configuration configuration = {});
  ~ShareBackgroundSession() override;
  ShareBackgroundSession(const ShareBackgroundSession&) = delete;
  ShareBackgroundSession& operator=(const ShareBackgroundSession&) = delete;

  const std::string& identifier() const { return identifier_; }
  /// Who hears the session's events; held weakly, so a delegate may own the session.
  void setDelegate(std::weak_ptr<ShareBackgroundSessionDelegate> delegate);

  ShareHTTPReply perform(const ShareHTTPRequest& request, const ShareRequestBody& body,
                         std::stop_token stop) override;

 private:
  struct Task;
  void work(std::stop_token stop);
  void cancel(const std::shared_ptr<Task>& task);

  std::string identifier_;
  ShareCurlSession session_;
  std::mutex mutex_;
  std::condition_variable_any wake_;
  std::deque<std::shared_ptr<Task>> tasks_;
  std::weak_ptr<ShareBackgroundSessionDelegate> delegate_;
  std::int64_t taskCount_ = 0;
  std::jthread worker_;  ///< last member: it starts after, and stops before, everything else
};

}  // namespace lumo
