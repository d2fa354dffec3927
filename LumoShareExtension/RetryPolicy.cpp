#include "RetryPolicy.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace lumo {

std::int64_t RetryPolicy::delayMs(std::int64_t attempt, const ShareRandom& random) const {
  const auto exponent = std::clamp<std::int64_t>(attempt - 1, 0, 12);
  const auto factor = std::int64_t{1} << exponent;
  const auto base = std::max<std::int64_t>(baseDelayMs, 0);
  const auto grown = base > std::numeric_limits<std::int64_t>::max() / factor
                         ? std::numeric_limits<std::int64_t>::max()
                         : base * factor;
  const auto delay = std::min(grown, maxDelayMs);
  if (!(jitterRatio > 0)) return delay;
  const auto draw = std::clamp(random(), 0.0, 1.0);
  const auto ratio = -jitterRatio + 2 * jitterRatio * draw;
  const auto scaled = std::trunc(static_cast<double>(delay) * (1 + ratio));
  // Converted only where it fits: a jitter that leaves no number (infinite ratios) counts as 0.
  const auto jittered = !(scaled > 0)      ? std::int64_t{0}
                        : scaled >= 9.2e18 ? std::numeric_limits<std::int64_t>::max()
                                           : static_cast<std::int64_t>(scaled);
  return std::min(std::max<std::int64_t>(jittered, 100), maxDelayMs);
}

}  // namespace lumo
