#include "SharePanelWorkers.hpp"

#include <QCoreApplication>
#include <QEvent>

#include <algorithm>
#include <deque>
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

namespace {

/// The UI thread's receiver of steps; it lives as long as the process. Steps wait in a queue of
/// its own under a standard mutex, and the event posted for each step carries nothing but a
/// wake-up: what a step captured is handed over under that mutex, and it is run and released on
/// the UI thread alone. (Qt's event queue synchronises with a lock that ThreadSanitizer cannot
/// see, so handing a step over inside the event would look like a race to it.)
class UIStepReceiver : public QObject {
 public:
  void post(const QPointer<QObject>& owner, std::function<void()> step) {
    {
      const std::lock_guard lock(mutex_);
      steps_.push_back({owner, std::move(step)});
    }
    QCoreApplication::postEvent(this, new QEvent(wakeUp()));
  }

  bool event(QEvent* event) override {
    if (event->type() != wakeUp()) return QObject::event(event);
    runWaitingSteps();
    return true;
  }

 private:
  struct Step {
    QPointer<QObject> owner;
    std::function<void()> run;
  };

  static QEvent::Type wakeUp() {
    static const auto registered = static_cast<QEvent::Type>(QEvent::registerEventType());
    return registered;
  }

  void runWaitingSteps() {
    std::deque<Step> waiting;
    {
      const std::lock_guard lock(mutex_);
      waiting.swap(steps_);
    }
    for (auto& step : waiting) {
      if (step.owner) step.run();
    }
  }

  std::mutex mutex_;
  std::deque<Step> steps_;
};

UIStepReceiver& uiStepReceiver() {
  static UIStepReceiver* const receiver = [] {
    auto* created = new UIStepReceiver;
    created->moveToThread(QCoreApplication::instance()->thread());
    return created;
  }();
  return *receiver;
}

}  // namespace

void SharePanelWorkers::post(const QPointer<QObject>& owner, std::function<void()> step) {
  uiStepReceiver().post(owner, std::move(step));
}

}  // namespace lumo
