#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace lumo::service {

/// A token bucket per caller (a verified account or device, a client address, an address and a
/// share): `burst` requests at once, refilled at `perSecond`. Thread-safe.
///
/// Its memory is bounded whatever callers send: a caller is remembered by a keyed hash of its
/// key (16 bytes, however long the key), and at most `capacity` callers are; past that the least
/// recently seen one is forgotten, never everyone at once (a bucket that filled up again holds
/// nothing worth keeping; one still draining is the caller that waited longest).
class RateLimiter {
 public:
  /// Seconds on some steady clock.
  using Clock = std::function<double()>;
  static constexpr std::size_t defaultCapacity = 65536;

  /// A burst of 0 admits everything.
  RateLimiter(double burst, double perSecond, Clock clock = steadySeconds,
              std::size_t capacity = defaultCapacity);

  /// Nothing when the request of `key` is admitted; else the whole seconds until it would be.
  std::optional<std::int64_t> admit(std::string_view key);

  static double steadySeconds();

 private:
  using Digest = std::array<unsigned char, 16>;
  struct DigestHash {
    std::size_t operator()(const Digest& digest) const {
      std::size_t value = 0;
      std::memcpy(&value, digest.data(), sizeof value);
      return value;
    }
  };
  struct Bucket {
    Digest key{};
    double tokens = 0;
    double at = 0;
  };
  using Recency = std::list<Bucket>;  ///< most recently seen first

  Digest digest(std::string_view key) const;

  double burst_;
  double perSecond_;
  Clock clock_;
  std::size_t capacity_;
  std::array<unsigned char, 32> hashKey_{};
  std::mutex mutex_;
  Recency recency_;
  std::unordered_map<Digest, Recency::iterator, DigestHash> buckets_;
};

/// The part of a client address that names one client: an IPv4 address whole (also when written
/// as an IPv4-mapped IPv6 address), an IPv6 address by its /64 prefix (a client holds a whole
/// /64). Text that is no address is its own client.
std::string clientOfAddress(std::string_view address);
/// An address as one host has it: IPv4 (also when written as an IPv4-mapped IPv6 address) or
/// IPv6, in the canonical text; nothing when the text is no address.
std::optional<std::string> exactAddress(std::string_view address);

}  // namespace lumo::service
