#pragma once

#include <cstdint>

#include "ShareRetry.hpp"

namespace lumo {

/// How often and how patiently a publish request is retried: at most `maxAttempts` tries,
/// waiting an exponentially growing, jittered time between them.
struct RetryPolicy {
  std::int64_t maxAttempts = 3;
  std::int64_t baseDelayMs = 500;
  std::int64_t maxDelayMs = 8000;
  double jitterRatio = 0.2;

  /// 3 attempts, 500 ms base, 8000 ms cap, jitter 0.2.
  static RetryPolicy defaultValue() { return RetryPolicy{}; }

  /// The wait after the failed attempt `attempt` (1-based): base × 2^(attempt − 1) with the
  /// exponent clamped to 0…12, capped at `maxDelayMs`; with jitter, scaled by a factor drawn
  /// from [1 − jitter, 1 + jitter], truncated, raised to at least 100 and capped again.
  std::int64_t delayMs(std::int64_t attempt, const ShareRandom& random = systemRandom()) const;

  bool operator==(const RetryPolicy&) const = default;
};

}  // namespace lumo
