#pragma once

#include <memory>
#include <optional>
#include <string>

#include "ShareApple.hpp"
#include "ShareKeychain.hpp"
#include "ShareStorage.hpp"
#include "ShareToken.hpp"

namespace lumo {

/// The access token: "token.json" (mode 0600) under the storage root and, when `usesKeychain`,
/// a keychain item. Reading never fails loudly: anything damaged reads as no token.
struct ShareTokenStore {
  ShareStorage storage;
  std::optional<std::string> keychainAccessGroup;
  bool usesKeychain = false;
  std::string keychainService;
  std::shared_ptr<ShareKeychain> keychain;  ///< required when `usesKeychain`

  explicit ShareTokenStore(ShareStorage storage,
                           std::optional<std::string> keychainAccessGroup = std::nullopt,
                           bool usesKeychain = false,
                           std::shared_ptr<ShareKeychain> keychain = nullptr,
                           std::string keychainService = ShareApple::keychainService);

  std::optional<ShareToken> load() const;
  /// Writes the mirror, then the keychain item. Throws filesystem_error or ShareTokenError.
  void save(const ShareToken& token) const;
  void clear() const;

 private:
  ShareKeychainItem item() const;
  std::optional<std::string> readKeychain() const;
  void writeKeychain(const std::string& data) const;
};

}  // namespace lumo
