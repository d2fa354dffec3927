#pragma once

#include <cstdint>
#include <functional>

namespace lumo {

/// Milliseconds since the Unix epoch on the system clock, truncated toward zero.
std::int64_t currentTimeMs() noexcept;

/// A source of "now" in epoch milliseconds. Components that keep time (the pending queue) take
/// one so that tests can fix or advance their clock.
using ShareClock = std::function<std::int64_t()>;

/// The clock that reads `currentTimeMs`.
ShareClock systemClock();

}  // namespace lumo
