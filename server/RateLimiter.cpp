#include "RateLimiter.hpp"

#include <arpa/inet.h>
#include <sodium.h>

#include <algorithm>
#include <cmath>

namespace lumo::service {

RateLimiter::RateLimiter(double burst, double perSecond, Clock clock, std::size_t capacity)
    : burst_(burst), perSecond_(perSecond), clock_(std::move(clock)), capacity_(capacity) {
  if (sodium_init() < 0) throw std::runtime_error("libsodium cannot start");
  randombytes_buf(hashKey_.data(), hashKey_.size());
}

double RateLimiter::steadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

RateLimiter::Digest RateLimiter::digest(std::string_view key) const {
  Digest digest;
  crypto_generichash(digest.data(), digest.size(),
                     reinterpret_cast<const unsigned char*>(key.data()), key.size(),
                     hashKey_.data(), hashKey_.size());
  return digest;
}

std::optional<std::int64_t> RateLimiter::admit(std::string_view key) {
  if (burst_ <= 0) return std::nullopt;
  const auto hashed = digest(key);
  const auto now = clock_();
  const std::lock_guard lock(mutex_);
  if (const auto found = buckets_.find(hashed); found != buckets_.end()) {
    recency_.splice(recency_.begin(), recency_, found->second);
  } else {
    if (buckets_.size() >= std::max<std::size_t>(capacity_, 1)) {
      buckets_.erase(recency_.back().key);
      recency_.pop_back();
    }
    recency_.push_front(Bucket{hashed, burst_, now});
    buckets_.emplace(hashed, recency_.begin());
  }
  auto& bucket = recency_.front();
  bucket.tokens = std::min(burst_, bucket.tokens + (now - bucket.at) * perSecond_);
  bucket.at = now;
  if (bucket.tokens >= 1) {
    bucket.tokens -= 1;
    return std::nullopt;
  }
  if (perSecond_ <= 0) return std::int64_t{86400};
  return static_cast<std::int64_t>(std::ceil((1 - bucket.tokens) / perSecond_));
}

std::optional<std::string> exactAddress(std::string_view address) {
  const std::string text(address);
  unsigned char bytes[16];
  char shown[INET6_ADDRSTRLEN];
  if (::inet_pton(AF_INET, text.c_str(), bytes) == 1) {
    return ::inet_ntop(AF_INET, bytes, shown, sizeof shown);
  }
  if (::inet_pton(AF_INET6, text.c_str(), bytes) != 1) return std::nullopt;
  constexpr unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  if (std::equal(std::begin(mapped), std::end(mapped), bytes)) {
    return ::inet_ntop(AF_INET, bytes + 12, shown, sizeof shown);
  }
  return ::inet_ntop(AF_INET6, bytes, shown, sizeof shown);
}

std::string clientOfAddress(std::string_view address) {
  const auto exact = exactAddress(address);
  unsigned char bytes[16];
  if (!exact) return std::string(address);
  if (::inet_pton(AF_INET6, exact->c_str(), bytes) != 1) return *exact;  // IPv4
  std::fill(bytes + 8, bytes + 16, 0);
  char shown[INET6_ADDRSTRLEN];
  return std::string(::inet_ntop(AF_INET6, bytes, shown, sizeof shown)) + "/64";
}

}  // namespace lumo::service
