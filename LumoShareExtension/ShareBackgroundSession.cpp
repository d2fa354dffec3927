#include "ShareBackgroundSession.hpp"

#include <algorithm>
#include <exception>
#include <optional>
#include <utility>

#include "ShareURLError.hpp"

namespace lumo {
namespace {

/// Tells the delegate how a failed transfer ended.
void report(ShareBackgroundSessionDelegate& delegate, std::int64_t taskNumber,
            const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const ShareURLError& error) {
    delegate.didCompleteWithError(taskNumber, error.localizedDescription());
  } catch (const std::exception& error) {
    delegate.didCompleteWithError(taskNumber, error.what());
  } catch (...) {
    delegate.didCompleteWithError(taskNumber, "unknown error");
  }
}

}  // namespace

/// One handed-over transfer. The caller keeps the request and body alive until `done`, because
/// it waits for that before it returns, even after a stop.
struct ShareBackgroundSession::Task {
  const ShareHTTPRequest& request;
  const ShareRequestBody& body;
  std::stop_source cancel;
  bool done = false;
  std::optional<ShareHTTPReply> reply;
  std::exception_ptr failure;
};

ShareBackgroundSession::ShareBackgroundSession(std::string identifier,
                                               ShareCurlSession::Configuration configuration)
    : identifier_(std::move(identifier)),
      session_(std::move(configuration)),
      worker_([this](std::stop_token stop) { work(stop); }) {}

ShareBackgroundSession::~ShareBackgroundSession() {
  worker_.request_stop();
  wake_.notify_all();
  worker_.join();
}

ShareHTTPReply ShareBackgroundSession::perform(const ShareHTTPRequest& request,
                                               const ShareRequestBody& body, std::stop_token stop) {
  auto task = std::make_shared<Task>(Task{request, body, {}, false, std::nullopt, nullptr});
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(task);
  }
  wake_.notify_all();
  std::stop_callback forward(stop, [this, &task] { cancel(task); });
  std::unique_lock lock(mutex_);
  wake_.wait(lock, [&] { return task->done; });
  if (task->failure) std::rethrow_exception(task->failure);
  return std::move(*task->reply);
}

void ShareBackgroundSession::setDelegate(std::weak_ptr<ShareBackgroundSessionDelegate> delegate) {
  const std::lock_guard lock(mutex_);
  delegate_ = std::move(delegate);
}

void ShareBackgroundSession::cancel(const std::shared_ptr<Task>& task) {
  task->cancel.request_stop();  // reaches the transfer if it is already running
  std::lock_guard lock(mutex_);
  // A transfer still waiting its turn ends now, without waiting for the one ahead of it.
  const auto queued = std::find(tasks_.begin(), tasks_.end(), task);
  if (queued == tasks_.end()) return;
  tasks_.erase(queued);
  task->failure = std::make_exception_ptr(ShareURLError(ShareURLError::Code::cancelled));
  task->done = true;
  wake_.notify_all();
}

void ShareBackgroundSession::work(std::stop_token stop) {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, stop, [&] { return !tasks_.empty(); });
    if (tasks_.empty()) return;  // stopping with nothing left to fail
    auto task = std::move(tasks_.front());
    tasks_.pop_front();
    const auto taskNumber = ++taskCount_;
    lock.unlock();
    std::stop_callback cancelOnShutdown(stop, [&task] { task->cancel.request_stop(); });
    try {
      task->reply = session_.perform(task->request, task->body, task->cancel.get_token());
    } catch (...) {
      task->failure = std::current_exception();
    }
    const auto failure = task->failure;
    lock.lock();
    task->done = true;
    const auto delegate = delegate_.lock();
    wake_.notify_all();
    lock.unlock();
    if (delegate && failure) report(*delegate, taskNumber, failure);
    lock.lock();
  }
}

}  // namespace lumo
