#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace lumo::service {

/// A token bucket per caller (a bearer token or a client address): `burst` requests at once,
/// refilled at `perSecond`. Thread-safe.
class RateLimiter {
 public:
  /// Seconds on some steady clock.
  using Clock = std::function<double()>;

  /// A burst of 0 admits everything.
  RateLimiter(double burst, double perSecond, Clock clock = steadySeconds);

  /// Nothing when the request of `key` is admitted; else the whole seconds until it would be.
  std::optional<std::int64_t> admit(const std::string& key);

  static double steadySeconds();

 private:
  struct Bucket {
    double tokens = 0;
    double at = 0;
  };
  void forgetIdle(double now);

  double burst_;
  double perSecond_;
  Clock clock_;
  std::mutex mutex_;
  std::unordered_map<std::string, Bucket> buckets_;
};

}  // namespace lumo::service
