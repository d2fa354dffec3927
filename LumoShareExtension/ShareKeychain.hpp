#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>

namespace lumo {

/// Identity of the token's keychain item: a generic password by service, account and, when
/// present, access group.
struct ShareKeychainItem {
  std::string service;
  std::string account;
  std::optional<std::string> accessGroup;
  bool operator==(const ShareKeychainItem&) const = default;
  bool operator<(const ShareKeychainItem& other) const {
    return std::tie(service, account, accessGroup) <
           std::tie(other.service, other.account, other.accessGroup);
  }
};

/// A secure credential store with the keychain's outcomes: success (0), item not found
/// (−25300), or another numeric status.
class ShareKeychain {
 public:
  static constexpr std::int32_t success = 0;
  static constexpr std::int32_t itemNotFound = -25300;

  struct ReadResult {
    std::int32_t status = itemNotFound;
    std::string data;  ///< when status is success
  };

  virtual ~ShareKeychain() = default;
  virtual ReadResult read(const ShareKeychainItem& item) = 0;
  /// Replaces the data of an existing item.
  virtual std::int32_t update(const ShareKeychainItem& item, const std::string& data) = 0;
  /// Adds a new item, readable after the first unlock.
  virtual std::int32_t add(const ShareKeychainItem& item, const std::string& data) = 0;
  virtual std::int32_t remove(const ShareKeychainItem& item) = 0;
};

}  // namespace lumo
