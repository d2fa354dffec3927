#pragma once

#include <string>

#include "ShareKeychain.hpp"

namespace lumo {

/// The keychain on the desktop's Secret Service (GNOME Keyring, KWallet) through libsecret: one
/// password item per service, account and access group, in the default collection. Statuses
/// keep the keychain's numbers: 0 success, −25300 not found, −25299 duplicate on add, −25308
/// when the service could not be asked (no Secret Service, a locked keyring, a refused prompt).
/// Calls block on D-Bus; run them off the UI thread.
class ShareSecretKeychain final : public ShareKeychain {
 public:
  static constexpr std::int32_t duplicateItem = -25299;
  static constexpr std::int32_t interactionNotAllowed = -25308;

  ReadResult read(const ShareKeychainItem& item) override;
  std::int32_t update(const ShareKeychainItem& item, const std::string& data) override;
  std::int32_t add(const ShareKeychainItem& item, const std::string& data) override;
  std::int32_t remove(const ShareKeychainItem& item) override;

 private:
  std::int32_t store(const ShareKeychainItem& item, const std::string& data);
};

}  // namespace lumo
