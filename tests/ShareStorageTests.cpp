#include <gtest/gtest.h>

#include <fstream>

#include "LumoShare.hpp"
#include "TemporaryDirectory.hpp"

namespace lumo {
namespace {

namespace fs = std::filesystem;
using testing::modeOf;

class ShareStorageResolve : public ::testing::Test {
 protected:
  void SetUp() override {
    ContainerProbeCache::shared().clear();
    environment.set("XDG_DATA_HOME", (folder / "data").string());
    environment.set("XDG_RUNTIME_DIR", (folder / "run").string());
    fs::create_directories(folder / "run");
  }
  void TearDown() override { ContainerProbeCache::shared().clear(); }

  testing::TemporaryDirectory folder;
  testing::ScopedEnvironment environment;
};

TEST(ShareStorageLayout, APrivateTreeListingRealFoldersInNameOrderAndAProbeLeavingNothing) {
  testing::TemporaryDirectory folder;
  const ShareStorage storage{folder / "root", ShareStorageLocation::injected};
  EXPECT_TRUE(storage.pendingDirectories().empty());
  storage.ensureDirectories();
  EXPECT_TRUE(fs::is_directory(folder / "root/pending"));
  EXPECT_EQ(modeOf(folder / "root"), 0700u);
  storage.ensureDirectories();  // an existing tree is no error
  for (const auto* name : {"b", "a", "c-10", "c-9"})
    fs::create_directory(storage.pendingDirectory(name));
  std::ofstream(storage.pendingDirectory("stray.json")) << "{}";
  fs::create_directory(folder / "elsewhere");
  fs::create_directory_symlink(folder / "elsewhere", storage.pendingDirectory("linked"));
  std::vector<std::string> names;
  for (const auto& directory : storage.pendingDirectories()) names.push_back(directory.filename());
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "c-10", "c-9"}));

  testing::TemporaryDirectory probed;
  EXPECT_TRUE(ShareStorage::isUsableDirectory(probed.path()));
  EXPECT_TRUE(fs::is_empty(probed.path())) << "the probe file was left behind";
  EXPECT_FALSE(ShareStorage::isUsableDirectory(probed / "missing"));
  std::ofstream(probed / "file") << "x";
  EXPECT_FALSE(ShareStorage::isUsableDirectory(probed / "file"));
}

TEST_F(ShareStorageResolve, GroupContainerUnderTheDataHomeAndAFallbackNeverPlanted) {
  const ShareAppleBundle bundle(JSONValue{{"LumoShareAppGroup", " \n\t "}});
  const auto storage = ShareStorage::resolve(bundle);
  EXPECT_EQ(storage.location, ShareStorageLocation::appGroup);
  EXPECT_EQ(storage.rootURL, folder / "data/group.com.lumo.share");
  EXPECT_EQ(modeOf(storage.rootURL), 0700u);

  const ShareAppleBundle custom(JSONValue{{"LumoShareAppGroup", " group.example.test "}});
  EXPECT_EQ(ShareStorage::resolve(custom).rootURL, folder / "data/group.example.test");

  fs::create_directory(folder / "attacker");
  fs::create_directory_symlink(folder / "attacker", folder / "run/lumo-share");
  EXPECT_NE(ShareStorage::privateFallbackRoot(), folder / "run/lumo-share");
  // A root that turned into a symlink meanwhile is refused when the tree is made.
  const ShareStorage planted{folder / "run/lumo-share", ShareStorageLocation::unavailable};
  EXPECT_THROW(planted.ensureDirectories(), fs::filesystem_error);
  EXPECT_FALSE(fs::exists(folder / "attacker/pending"));

  environment.unset("XDG_RUNTIME_DIR");
  const auto shared = ShareStorage::privateFallbackRoot();
  EXPECT_EQ(shared.parent_path(), fs::path("/tmp"));
  // Planted in /tmp as well: the next name, the same one for every program of the user.
  if (fs::exists(fs::symlink_status(shared))) return;
  fs::create_directory_symlink(folder / "attacker", shared);
  const auto next = ShareStorage::privateFallbackRoot();
  EXPECT_EQ(next.string(), shared.string() + "-1");
  EXPECT_EQ(ShareStorage::privateFallbackRoot(), next);
  fs::remove(shared);
}

TEST_F(ShareStorageResolve, ARefusedContainerIsRememberedAndTheBundleKeysHaveDefaultsAndRules) {
  fs::create_directories(folder / "data");
  std::ofstream(folder / "data/group.com.lumo.share") << "not a folder";
  const ShareAppleBundle bundle(JSONValue::object());
  const auto first = ShareStorage::resolve(bundle);
  EXPECT_EQ(first.location, ShareStorageLocation::unavailable);
  EXPECT_EQ(first.rootURL, folder / "run/lumo-share");

  // Even once the container became usable, the refusal stands without a second probe.
  fs::remove(folder / "data/group.com.lumo.share");
  fs::create_directory(folder / "data/group.com.lumo.share");
  EXPECT_EQ(ShareStorage::resolve(bundle).location, ShareStorageLocation::unavailable);
  ContainerProbeCache::shared().clear();
  EXPECT_EQ(ShareStorage::resolve(bundle).location, ShareStorageLocation::appGroup);

  const auto system = ShareAppleBundle::operatingSystemVersion();
  const ShareAppleBundle empty(JSONValue::object());
  EXPECT_EQ(empty.appGroupIdentifier(), "group.com.lumo.share");
  // Without a short version in the dictionary, the version is the programs' own.
  const std::string version = lumoShareVersion;
  EXPECT_EQ(empty.userAgent(), "lumo-share-apple/" + version + " (1) (linux; " + system + ")");
  EXPECT_EQ(empty.hostBundleIdentifier(), "lumo.share");
  EXPECT_EQ(ShareAppleBundle(JSONValue::array()).clientVersion(), version + " (1)");

  const ShareAppleBundle set(JSONValue{{"CFBundleShortVersionString", "2.3.0\r\nX-Evil: 1"},
                                       {"CFBundleVersion", "45"},
                                       {"LumoShareKeychainAccessGroup", " group "},
                                       {"LumoShareHostBundleID", ""},
                                       {"LumoShareAutoSubmit", "yes"}});
  // A version with a line break still gives a one-line header value.
  EXPECT_EQ(set.userAgent(), "lumo-share-apple/2.3.0X-Evil: 1 (45) (linux; " + system + ")");
  EXPECT_EQ(set.keychainAccessGroup(), " group ");
  EXPECT_EQ(set.hostBundleIdentifier(), "");
  EXPECT_FALSE(set.autoSubmit());  // a string is not a Boolean
  EXPECT_TRUE(ShareAppleBundle(JSONValue{{"LumoShareAutoSubmit", true}}).autoSubmit());
}

}  // namespace
}  // namespace lumo
