#pragma once

#include <QObject>
#include <QPointer>

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <utility>
#include <vector>

namespace lumo {

/// The worker threads that read and publish for the panel, so the window never waits on a disk
/// or the network. A task's result comes back on the UI thread, and only while the object that
/// asked for it still exists: a closed panel drops what its tasks bring. Destroying the workers
/// asks every task to stop (an upload in flight is cancelled and stays queued) and waits for
/// them; create them after the application object so that they go first.
class SharePanelWorkers {
 public:
  SharePanelWorkers() = default;
  ~SharePanelWorkers();
  SharePanelWorkers(const SharePanelWorkers&) = delete;
  SharePanelWorkers& operator=(const SharePanelWorkers&) = delete;

  /// Runs `work(stop)` on a worker thread, then `done(result)` on the UI thread if `owner` still
  /// exists. `owner` is only ever looked at on the UI thread.
  template <class Work, class Done>
  void run(QObject* owner, Work work, Done done) {
    start([owner = QPointer<QObject>(owner), work = std::move(work),
           done = std::move(done)](std::stop_token stop) mutable {
      auto result = std::make_shared<decltype(work(stop))>(work(stop));
      post(owner, [done = std::move(done), result] { done(std::move(*result)); });
    });
  }

  /// Runs `step` on the UI thread if `owner` still exists; callable from any thread. Steps run
  /// in the order they were posted, and the UI thread alone runs and releases them.
  static void post(const QPointer<QObject>& owner, std::function<void()> step);

  /// Worker threads kept: the running ones, and finished ones not yet joined (the next task's
  /// start joins them).
  std::size_t threadCount() const;
  /// Whether no task is running.
  bool idle() const;

 private:
  /// A task's thread; `done` is set as the thread's last step, so joining it then is quick.
  struct Worker {
    std::shared_ptr<std::atomic<bool>> done;
    std::jthread thread;
  };

  void start(std::function<void(std::stop_token)> task);

  mutable std::mutex mutex_;
  std::vector<Worker> threads_;
};

}  // namespace lumo
