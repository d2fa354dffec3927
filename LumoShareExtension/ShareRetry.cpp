#include "ShareRetry.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <random>

namespace lumo {

ShareRandom systemRandom() {
  return [] {
    static std::mutex mutex;
    static std::mt19937_64 engine{std::random_device{}()};
    std::lock_guard lock(mutex);
    return std::uniform_real_distribution<double>(0.0, 1.0)(engine);
  };
}

namespace ShareRetry {

std::int64_t backoffMs(std::int64_t attempt, std::int64_t baseMs, std::int64_t maxMs, double jitter,
                       const ShareRandom& random) {
  const auto exponent = std::clamp<std::int64_t>(attempt - 1, 0, 16);
  std::int64_t raw = 0;
  if (__builtin_mul_overflow(baseMs, std::int64_t{1} << exponent, &raw)) {
    raw = std::numeric_limits<std::int64_t>::max();
  }
  raw = std::min(raw, maxMs);
  if (!(jitter > 0)) return raw;
  const double factor = 1.0 - jitter + 2.0 * jitter * std::clamp(random(), 0.0, 1.0);
  const double scaled = std::trunc(static_cast<double>(raw) * factor);
  // Compare in double before converting: the scaled value may exceed int64.
  const double floored = std::max(scaled, 1000.0);
  if (floored >= static_cast<double>(maxMs)) return maxMs;
  return static_cast<std::int64_t>(floored);
}

}  // namespace ShareRetry
}  // namespace lumo
