#include "SharePanelWorkers.hpp"

#include <algorithm>
#include <iterator>

namespace lumo {

SharePanelWorkers::~SharePanelWorkers() {
  std::vector<Worker> workers;
  {
    const std::lock_guard lock(mutex_);
    workers.swap(threads_);
  }
  for (auto& worker : workers) worker.thread.request_stop();
  // jthread joins as it goes.
}

void SharePanelWorkers::start(std::function<void(std::stop_token)> task) {
  std::vector<Worker> finished;  // joined once the lock is released, as it goes
  const std::lock_guard lock(mutex_);
  const auto firstFinished = std::stable_partition(
      threads_.begin(), threads_.end(), [](const Worker& worker) { return !worker.done->load(); });
  std::move(firstFinished, threads_.end(), std::back_inserter(finished));
  threads_.erase(firstFinished, threads_.end());

  auto done = std::make_shared<std::atomic<bool>>(false);
  threads_.push_back({done, std::jthread([task = std::move(task), done](std::stop_token stop) {
                        task(stop);
                        done->store(true);
                      })});
}

std::size_t SharePanelWorkers::threadCount() const {
  const std::lock_guard lock(mutex_);
  return threads_.size();
}

bool SharePanelWorkers::idle() const {
  const std::lock_guard lock(mutex_);
  return std::none_of(threads_.begin(), threads_.end(),
                      [](const Worker& worker) { return !worker.done->load(); });
}

void SharePanelWorkers::post(const QPointer<QObject>& owner, std::function<void()> step) {
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [owner, step = std::move(step)] {
        if (owner) step();
      },
      Qt::QueuedConnection);
}

}  // namespace lumo
