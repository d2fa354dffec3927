// The keychain on a Secret Service. Runs only inside with-private-keyring.sh, which starts a D-Bus
// session and a GNOME Keyring of its own in a temporary home: a user's keyring is never touched.
#include <gtest/gtest.h>

#include <cstdlib>

#include "LumoShare.hpp"
#include "TemporaryDirectory.hpp"

namespace lumo {
namespace {

TEST(ShareSecretKeychainTest, SavesLoadsReplacesAndDeletesWithTheKeychainsStatuses) {
  ASSERT_TRUE(std::getenv("LUMO_PRIVATE_KEYRING")) << "run through with-private-keyring.sh";
  ShareSecretKeychain keychain;
  const ShareKeychainItem item{"com.lumo.share.apple.token", "access", "group.com.lumo.share"};
  const ShareKeychainItem otherGroup{item.service, item.account, std::nullopt};

  EXPECT_EQ(keychain.read(item).status, ShareKeychain::itemNotFound);
  EXPECT_EQ(keychain.update(item, "x"), ShareKeychain::itemNotFound);
  EXPECT_EQ(keychain.add(item, "first"), ShareKeychain::success);
  EXPECT_EQ(keychain.add(item, "again"), ShareSecretKeychain::duplicateItem);
  EXPECT_EQ(keychain.read(item).data, "first") << "a duplicate add changes nothing";
  EXPECT_EQ(keychain.update(item, "second"), ShareKeychain::success);
  EXPECT_EQ(keychain.read(item).data, "second");
  EXPECT_EQ(keychain.read(otherGroup).status, ShareKeychain::itemNotFound)
      << "items of another access group are other items";
  EXPECT_EQ(keychain.remove(item), ShareKeychain::success);
  EXPECT_EQ(keychain.remove(item), ShareKeychain::itemNotFound);
}

TEST(ShareSecretKeychainTest, TheTokenStoreKeepsItsTokenInTheKeychain) {
  testing::TemporaryDirectory root;
  const ShareStorage storage{root / "root", ShareStorageLocation::injected};
  const auto keychain = std::make_shared<ShareSecretKeychain>();
  const ShareTokenStore store(storage, std::nullopt, true, keychain);
  const ShareToken token{"secret-token", std::nullopt, std::nullopt, "ana", 0};
  store.save(token);
  std::filesystem::remove(storage.tokenMirrorURL());
  EXPECT_EQ(store.load(), token) << "read back from the keychain, not the mirror";
  store.clear();
  EXPECT_EQ(keychain->read({"com.lumo.share.apple.token", "access", std::nullopt}).status,
            ShareKeychain::itemNotFound);
}

}  // namespace
}  // namespace lumo
