#include "ShareDelayedSteps.hpp"

#include <QTimer>

namespace lumo {
namespace {

class TimerSteps final : public ShareDelayedSteps {
 public:
  void after(std::chrono::milliseconds delay, QObject* owner, std::function<void()> step) override {
    // A timer with a context object is cancelled with it: the step is dropped with the owner.
    QTimer::singleShot(delay, owner, std::move(step));
  }
};

}  // namespace

std::shared_ptr<ShareDelayedSteps> ShareDelayedSteps::timers() {
  return std::make_shared<TimerSteps>();
}

}  // namespace lumo
