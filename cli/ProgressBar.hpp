#pragma once

#include <chrono>
#include <cstdint>

namespace lumo::cli {

/// An upload's progress on standard error, when it is a terminal: a bar, the bytes sent, the
/// rate and the time left, redrawn at most ten times a second. Nothing at all otherwise.
class ProgressBar {
 public:
  ProgressBar();
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void operator()(std::int64_t sent, std::int64_t total);
  /// Clears the bar's line.
  void finish();

 private:
  using Clock = std::chrono::steady_clock;
  bool enabled_;
  bool drawn_ = false;
  Clock::time_point start_ = Clock::now();
  Clock::time_point lastDrawn_{};
};

}  // namespace lumo::cli
