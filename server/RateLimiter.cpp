#include "RateLimiter.hpp"

#include <algorithm>
#include <cmath>

namespace lumo::service {
namespace {

/// Beyond this many callers, full buckets are forgotten: a full bucket is what a new caller gets.
constexpr std::size_t maxRemembered = 50000;

}  // namespace

RateLimiter::RateLimiter(double burst, double perSecond, Clock clock)
    : burst_(burst), perSecond_(perSecond), clock_(std::move(clock)) {}

double RateLimiter::steadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::optional<std::int64_t> RateLimiter::admit(const std::string& key) {
  if (burst_ <= 0) return std::nullopt;
  const auto now = clock_();
  const std::lock_guard lock(mutex_);
  if (buckets_.size() >= maxRemembered) forgetIdle(now);
  auto& bucket = buckets_.try_emplace(key, Bucket{burst_, now}).first->second;
  bucket.tokens = std::min(burst_, bucket.tokens + (now - bucket.at) * perSecond_);
  bucket.at = now;
  if (bucket.tokens >= 1) {
    bucket.tokens -= 1;
    return std::nullopt;
  }
  if (perSecond_ <= 0) return std::int64_t{86400};
  return static_cast<std::int64_t>(std::ceil((1 - bucket.tokens) / perSecond_));
}

void RateLimiter::forgetIdle(double now) {
  std::erase_if(buckets_, [&](const auto& entry) {
    return entry.second.tokens + (now - entry.second.at) * perSecond_ >= burst_;
  });
  // Callers that all stay busy: forgetting them errs towards admitting, never towards refusing.
  if (buckets_.size() >= maxRemembered) buckets_.clear();
}

}  // namespace lumo::service
