#include "SharePanelWorkers.hpp"

namespace lumo {

SharePanelWorkers::~SharePanelWorkers() {
  std::vector<std::jthread> threads;
  {
    const std::lock_guard lock(mutex_);
    threads.swap(threads_);
  }
  for (auto& thread : threads) thread.request_stop();
  // jthread joins as it goes.
}

void SharePanelWorkers::start(std::function<void(std::stop_token)> task) {
  const std::lock_guard lock(mutex_);
  threads_.emplace_back(std::move(task));
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
