#pragma once

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>

namespace lumo {

/// Where the panel's delayed steps (auto submit, the copy button's reset, the long-reading note)
/// are scheduled. Each step belongs to an owner and is dropped when the owner is gone by the time
/// it is due, so a closed panel never runs one. Tests replace the clock with their own.
class ShareDelayedSteps {
 public:
  virtual ~ShareDelayedSteps() = default;
  /// Runs `step` on the UI thread `delay` from now, unless `owner` has been destroyed.
  virtual void after(std::chrono::milliseconds delay, QObject* owner,
                     std::function<void()> step) = 0;

  /// Qt's single-shot timers.
  static std::shared_ptr<ShareDelayedSteps> timers();
};

}  // namespace lumo
