#pragma once

#include <cstdint>
#include <limits>

namespace lumo {

/// `value + delta`, held at the int64 limits instead of overflowing: times and sizes read from
/// files or replies may be anything.
inline std::int64_t saturatingAdd(std::int64_t value, std::int64_t delta) {
  std::int64_t sum = 0;
  if (!__builtin_add_overflow(value, delta, &sum)) return sum;
  return delta > 0 ? std::numeric_limits<std::int64_t>::max()
                   : std::numeric_limits<std::int64_t>::min();
}

/// `value - delta`, held at the int64 limits instead of overflowing.
inline std::int64_t saturatingSubtract(std::int64_t value, std::int64_t delta) {
  std::int64_t difference = 0;
  if (!__builtin_sub_overflow(value, delta, &difference)) return difference;
  return delta > 0 ? std::numeric_limits<std::int64_t>::min()
                   : std::numeric_limits<std::int64_t>::max();
}

}  // namespace lumo
