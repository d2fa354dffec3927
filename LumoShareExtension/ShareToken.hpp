#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>

#include "ShareJSONCoding.hpp"

namespace lumo {

/// The signed-in account's credentials, as the host application hands them over.
struct ShareToken {
  std::string accessToken;
  std::optional<std::string> refreshToken;
  std::optional<std::int64_t> expiresAt;  ///< ms since the epoch
  std::optional<std::string> userId;      ///< the token's "sub" claim
  std::int64_t updatedAt = 0;             ///< when it was stored, ms

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("accessToken", self.accessToken),
                      JSONKey("refreshToken", self.refreshToken),
                      JSONKey("expiresAt", self.expiresAt), JSONKey("userId", self.userId),
                      JSONKey("updatedAt", self.updatedAt));
  }
  bool operator==(const ShareToken&) const = default;
};

/// Why a token could not be stored. Carries no user text.
class ShareTokenError : public std::exception {
 public:
  enum class Kind { keychain, invalidData, noStorage };

  static ShareTokenError keychain(std::int32_t status) { return {Kind::keychain, status}; }
  static ShareTokenError invalidData() { return {Kind::invalidData, 0}; }
  static ShareTokenError noStorage() { return {Kind::noStorage, 0}; }

  Kind kind() const noexcept { return kind_; }
  std::int32_t status() const noexcept { return status_; }
  const char* what() const noexcept override { return message_.c_str(); }
  bool operator==(const ShareTokenError& other) const {
    return kind_ == other.kind_ && status_ == other.status_;
  }

 private:
  ShareTokenError(Kind kind, std::int32_t status);
  Kind kind_;
  std::int32_t status_;
  std::string message_;
};

}  // namespace lumo
