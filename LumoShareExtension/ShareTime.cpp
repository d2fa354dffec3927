#include "ShareTime.hpp"

#include <chrono>

namespace lumo {

std::int64_t currentTimeMs() noexcept {
  // Integer arithmetic: a floating-point seconds value would lose the last millisecond to
  // rounding for present-day timestamps. duration_cast truncates toward zero.
  const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count();
}

ShareClock systemClock() {
  return [] { return currentTimeMs(); };
}

}  // namespace lumo
