// The panel's workers with Qt's core alone (no widgets), so that ThreadSanitizer runs them too:
// tasks run on threads of their own, what they bring comes back on the UI thread in the order it
// was sent and only while its owner lives, and destroying the workers stops and waits for every
// task still running.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "SharePanelWorkers.hpp"

namespace lumo {
namespace {

class SharePanelWorkersTest : public ::testing::Test {
 protected:
  /// What reached the UI thread, in order, and whether all of it arrived there.
  std::vector<std::string> delivered;
  bool allOnTheUIThread = true;

  void deliver(std::string what) {
    allOnTheUIThread = allOnTheUIThread && std::this_thread::get_id() == uiThread_;
    delivered.push_back(std::move(what));
  }
  /// Runs the UI thread's event loop until `done` holds; false if it did not within a minute.
  template <class Condition>
  bool runEventsUntil(Condition done) {
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.start(std::chrono::minutes(1));
    // A worker marks itself finished after its last post, with nothing to wake this loop: look
    // again every few milliseconds.
    QTimer recheck;
    recheck.start(std::chrono::milliseconds(5));
    while (!done() && deadline.isActive()) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return done();
  }

 private:
  int argc_ = 1;
  char name_[20] = "panel_workers_tests";
  char* argv_[2] = {name_, nullptr};
  QCoreApplication application_{argc_, argv_};
  std::thread::id uiThread_ = std::this_thread::get_id();
};

TEST_F(SharePanelWorkersTest, ResultsAndStepsComeBackOnTheUIThreadWhileTheirOwnerLives) {
  auto workers = std::make_unique<SharePanelWorkers>();
  QObject kept;
  auto closed = std::make_unique<QObject>();
  constexpr int tasks = 8;
  for (int task = 0; task < tasks; ++task) {
    QObject* owner = task % 2 == 0 ? &kept : closed.get();
    const QPointer<QObject> guarded(owner);
    workers->run(
        owner,
        [this, guarded, task](std::stop_token) {
          SharePanelWorkers::post(guarded,
                                  [this, task] { deliver("step " + std::to_string(task)); });
          return std::to_string(task);
        },
        [this](std::string result) { deliver("result " + result); });
  }
  closed.reset();  // before the UI thread has seen anything: all of its tasks' news is dropped
  std::vector<std::pair<std::string, std::string>> expected;  // a step, then its task's result
  for (int task = 0; task < tasks; task += 2) {
    expected.emplace_back("step " + std::to_string(task), "result " + std::to_string(task));
  }
  ASSERT_TRUE(runEventsUntil([&] { return delivered.size() == 2 * expected.size(); }));
  workers.reset();
  QCoreApplication::sendPostedEvents();  // nothing more arrives
  EXPECT_EQ(delivered.size(), 2 * expected.size());
  EXPECT_TRUE(allOnTheUIThread);
  for (const auto& [step, result] : expected) {
    const auto stepAt = std::find(delivered.begin(), delivered.end(), step);
    const auto resultAt = std::find(delivered.begin(), delivered.end(), result);
    EXPECT_LT(stepAt, resultAt) << step;
    EXPECT_NE(resultAt, delivered.end()) << result;
  }
}

TEST_F(SharePanelWorkersTest, DestroyingTheWorkersStopsAndWaitsForEveryTask) {
  auto workers = std::make_unique<SharePanelWorkers>();
  QObject owner;
  constexpr int tasks = 4;
  for (int task = 0; task < tasks; ++task) {  // one after the other, then the waiting ones
    workers->run(
        &owner, [](std::stop_token) { return std::string("quick"); },
        [this](std::string result) { deliver(result); });
    EXPECT_EQ(workers->threadCount(), 1u)
        << "a finished task's thread is joined as the next starts";
    ASSERT_TRUE(runEventsUntil([&] { return delivered.size() == task + 1u && workers->idle(); }));
  }
  std::mutex mutex;
  std::condition_variable_any wake;
  int waiting = 0;
  for (int task = 0; task < tasks; ++task) {
    workers->run(
        &owner,
        [&, task](std::stop_token stop) {
          std::unique_lock lock(mutex);
          ++waiting;
          wake.notify_all();
          wake.wait(lock, stop, [] { return false; });  // until stopped
          return std::to_string(task) + (stop.stop_requested() ? " was stopped" : " ran on");
        },
        [this](std::string result) { deliver(result); });
  }
  {
    std::unique_lock lock(mutex);
    wake.wait(lock, [&] { return waiting == tasks; });
  }
  workers.reset();  // returns once every task has seen its stop and ended
  QCoreApplication::sendPostedEvents();
  EXPECT_TRUE(allOnTheUIThread);
  std::sort(delivered.begin(), delivered.end());
  EXPECT_EQ(delivered,
            (std::vector<std::string>{"0 was stopped", "1 was stopped", "2 was stopped",
                                      "3 was stopped", "quick", "quick", "quick", "quick"}));
}

}  // namespace
}  // namespace lumo
