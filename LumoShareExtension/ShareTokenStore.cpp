#include "ShareTokenStore.hpp"

#include <sys/stat.h>

#include "ShareApple.hpp"
#include "ShareJSON.hpp"
#include "ShareLogMessages.hpp"

namespace lumo {

ShareTokenStore::ShareTokenStore(ShareStorage storage,
                                 std::optional<std::string> keychainAccessGroup, bool usesKeychain,
                                 std::shared_ptr<ShareKeychain> keychain,
                                 std::string keychainService)
    : storage(std::move(storage)),
      keychainAccessGroup(std::move(keychainAccessGroup)),
      usesKeychain(usesKeychain),
      keychainService(std::move(keychainService)),
      keychain(std::move(keychain)) {}

ShareKeychainItem ShareTokenStore::item() const {
  const bool hasGroup = keychainAccessGroup && !keychainAccessGroup->empty();
  return ShareKeychainItem{keychainService, ShareApple::keychainAccount,
                           hasGroup ? keychainAccessGroup : std::nullopt};
}

std::optional<ShareToken> ShareTokenStore::load() const {
  if (usesKeychain) {
    if (const auto data = readKeychain()) {
      try {
        return ShareJSON::decoder().decode<ShareToken>(*data);
      } catch (const ShareJSONError&) {
        // fall back to the mirror
      }
    }
  }
  try {
    return ShareJSON::read<ShareToken>(storage.tokenMirrorURL());
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

void ShareTokenStore::save(const ShareToken& token) const {
  const auto data = ShareJSON::encoder().encode(token);
  storage.ensureDirectories();
  // Written 0600 from the start: a world-readable file left by someone else is replaced.
  AtomicFile::write(storage.tokenMirrorURL(), data, 0600);
  if (usesKeychain) writeKeychain(data);
}

void ShareTokenStore::clear() const {
  if (usesKeychain && keychain) keychain->remove(item());
  std::error_code ignored;
  std::filesystem::remove(storage.tokenMirrorURL(), ignored);
}

std::optional<std::string> ShareTokenStore::readKeychain() const {
  if (!keychain) return std::nullopt;
  auto result = keychain->read(item());
  if (result.status == ShareKeychain::success) return std::move(result.data);
  if (result.status != ShareKeychain::itemNotFound)
    ShareLogMessages::keychainReadStatus(result.status);
  return std::nullopt;
}

void ShareTokenStore::writeKeychain(const std::string& data) const {
  if (!keychain) throw ShareTokenError::noStorage();
  const auto updated = keychain->update(item(), data);
  if (updated == ShareKeychain::success) return;
  if (updated != ShareKeychain::itemNotFound) throw ShareTokenError::keychain(updated);
  const auto added = keychain->add(item(), data);
  if (added != ShareKeychain::success) throw ShareTokenError::keychain(added);
}

}  // namespace lumo
