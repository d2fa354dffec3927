#pragma once

#include <cstdint>
#include <functional>

namespace lumo {

/// A source of uniform random numbers in [0, 1]; injectable so that tests can pin the jitter.
using ShareRandom = std::function<double()>;

/// The default random source: a seeded Mersenne Twister, safe to call from any thread.
ShareRandom systemRandom();

namespace ShareRetry {

/// Exponential back-off: baseMs × 2^(attempt − 1) (exponent clamped to 0…16), capped at maxMs.
/// With jitter above 0 the value is scaled by a factor drawn from [1 − jitter, 1 + jitter],
/// truncated, and kept within [1000, maxMs]; with jitter 0 it is returned as is.
std::int64_t backoffMs(std::int64_t attempt, std::int64_t baseMs, std::int64_t maxMs, double jitter,
                       const ShareRandom& random);

}  // namespace ShareRetry
}  // namespace lumo
