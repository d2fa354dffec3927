#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "LumoShare.hpp"
#include "TemporaryDirectory.hpp"
#include "TestCommand.hpp"

namespace lumo {
namespace {

namespace fs = std::filesystem;
using testing::modeOf;

/// A keychain in memory, with scriptable statuses.
class MemoryKeychain : public ShareKeychain {
 public:
  ReadResult read(const ShareKeychainItem& item) override {
    if (readStatus) return {*readStatus, ""};
    const auto found = items.find(item);
    if (found == items.end()) return {itemNotFound, ""};
    return {success, found->second};
  }
  std::int32_t update(const ShareKeychainItem& item, const std::string& data) override {
    if (updateStatus) return *updateStatus;
    const auto found = items.find(item);
    if (found == items.end()) return itemNotFound;
    found->second = data;
    return success;
  }
  std::int32_t add(const ShareKeychainItem& item, const std::string& data) override {
    if (addStatus) return *addStatus;
    items[item] = data;
    return success;
  }
  std::int32_t remove(const ShareKeychainItem& item) override {
    return items.erase(item) ? success : itemNotFound;
  }

  std::map<ShareKeychainItem, std::string> items;
  std::optional<std::int32_t> readStatus, updateStatus, addStatus;
};

class StoresTest : public ::testing::Test {
 protected:
  testing::TemporaryDirectory folder;
  ShareStorage storage{folder / "root", ShareStorageLocation::injected};
  ShareToken token{"a.b.c", "refresh", 2000, "user-1", 1000};

  void writeFile(const fs::path& file, const std::string& content) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
  }
};

TEST_F(StoresTest, TokenMirrorIsPrivateAndClearableAndExpiresAMinuteEarly) {
  const ShareTokenStore store(storage);
  EXPECT_FALSE(store.load().has_value());
  writeFile(storage.tokenMirrorURL(), "{}");
  fs::permissions(storage.tokenMirrorURL(), fs::perms::all);
  store.save(token);
  EXPECT_EQ(modeOf(storage.tokenMirrorURL()), 0600u);
  EXPECT_EQ(store.load(), token);
  store.clear();
  EXPECT_FALSE(fs::exists(storage.tokenMirrorURL()));

  const ShareUploadSession session{nullptr, ShareTokenStore(storage), ShareSettingsStore{storage},
                                   nullptr, RetryPolicy::defaultValue()};
  using State = ShareUploadSession::TokenState;
  const auto stateAt = [&](std::int64_t nowMs) {
    const auto resolution = session.resolveToken(nowMs);
    return resolution.token     ? State::signedIn
           : resolution.expired ? State::expired
                                : State::signedOut;
  };
  EXPECT_EQ(stateAt(0), State::signedOut);
  ShareTokenStore(storage).save(token);  // expires at 2000 ms
  EXPECT_EQ(stateAt(2000 - 60001), State::signedIn);
  EXPECT_EQ(stateAt(2000 - 60000), State::expired) << "the margin includes its edge";
  // At the ends of the time range the margin neither overflows nor wraps.
  constexpr auto lowest = std::numeric_limits<std::int64_t>::min();
  constexpr auto highest = std::numeric_limits<std::int64_t>::max();
  const std::tuple<std::int64_t, std::int64_t, State> ends[] = {
      {lowest, 0, State::expired},
      {lowest + 1, lowest, State::expired},
      {highest, highest - 60001, State::signedIn},
      {highest, highest - 60000, State::expired},
      {0, lowest, State::signedIn}};
  for (const auto& [expiresAt, nowMs, state] : ends) {
    ShareTokenStore(storage).save(ShareToken{"t", std::nullopt, expiresAt, std::nullopt, 0});
    EXPECT_EQ(stateAt(nowMs), state) << expiresAt << " at " << nowMs;
  }
  writeFile(storage.tokenMirrorURL(), "{not json");
  EXPECT_EQ(stateAt(0), State::signedOut);
  EXPECT_EQ(session.tokenState(), State::signedOut);
  EXPECT_TRUE(session.isAnonymous());
  EXPECT_EQ(ShareUploadSession::tokenState("expired"), State::expired);
  EXPECT_EQ(ShareUploadSession::tokenState("Expired"), std::nullopt);
}

TEST_F(StoresTest, DamagedFilesReadAsAbsentOrDefaults) {
  const ShareTokenStore tokens(storage);
  const ShareSettingsStore settings{storage};
  const SharePlanStore plans{storage};
  for (const std::string& damage : {std::string("\x00\xff\x13garbage", 10),
                                    std::string(R"({"accessToken":5,"updatedAt":"x"})")}) {
    writeFile(storage.tokenMirrorURL(), damage);
    writeFile(storage.settingsURL(), damage);
    writeFile(storage.planMirrorURL(), damage);
    EXPECT_FALSE(tokens.load().has_value());
    EXPECT_EQ(settings.load(), ShareSettings::defaultValue());
    EXPECT_FALSE(plans.load(0).has_value());
  }
  for (const auto& file :
       {storage.tokenMirrorURL(), storage.settingsURL(), storage.planMirrorURL()}) {
    fs::remove(file);
    fs::create_directory(file);
  }
  EXPECT_FALSE(tokens.load().has_value());
  EXPECT_EQ(settings.load(), ShareSettings::defaultValue());
  EXPECT_FALSE(plans.load(0).has_value());
}

TEST_F(StoresTest, KeychainFirstThenMirrorAndKeychainWriteErrors) {
  auto keychain = std::make_shared<MemoryKeychain>();
  const ShareTokenStore store(storage, "group.team", true, keychain);
  store.save(token);
  const ShareKeychainItem item{"com.lumo.share.apple.token", "user", "group.team"};
  ASSERT_EQ(keychain->items.count(item), 1u);
  EXPECT_EQ(ShareJSON::decoder().decode<ShareToken>(keychain->items[item]), token);

  auto newer = token;
  newer.accessToken = "x.y.z";
  keychain->items[item] = ShareJSON::encoder().encode(newer);
  EXPECT_EQ(store.load(), newer);  // the keychain wins
  keychain->items[item] = "not json";
  EXPECT_EQ(store.load(), token);  // undecodable: the mirror answers

  keychain->readStatus = -25293;
  EXPECT_EQ(store.load(), token);

  keychain->readStatus.reset();
  store.clear();
  EXPECT_TRUE(keychain->items.empty());
  EXPECT_FALSE(store.load().has_value());

  const ShareTokenStore ungrouped(storage, std::string(""), true, keychain);
  keychain->updateStatus = -34018;
  EXPECT_EQ(testing::thrown<ShareTokenError>([&] { ungrouped.save(token); }),
            ShareTokenError::keychain(-34018));
  EXPECT_TRUE(fs::exists(storage.tokenMirrorURL()));  // the mirror is written first
  keychain->updateStatus = ShareKeychain::itemNotFound;
  keychain->addStatus = -25299;
  EXPECT_THROW(ungrouped.save(token), ShareTokenError);
  keychain->updateStatus.reset();
  keychain->addStatus.reset();
  ungrouped.save(token);
  EXPECT_EQ(keychain->items.begin()->first.accessGroup, std::nullopt);  // an empty group is none
}

TEST_F(StoresTest, SettingsRequireAutoUploadAPIBaseFromTheBundleAndPlansAndTheirFreshness) {
  const ShareSettingsStore settings{storage};
  writeFile(storage.settingsURL(), R"({"expiresInSeconds": 3600})");
  EXPECT_EQ(settings.load(), ShareSettings::defaultValue());
  writeFile(storage.settingsURL(),
            R"({"expiresInSeconds": 3600, "password": "pw", "autoUpload": false})");
  const auto loaded = settings.load();
  EXPECT_EQ(loaded, (ShareSettings{3600, "pw", false}));
  EXPECT_EQ(loaded.options().password, "pw");
  settings.save(ShareSettings{std::nullopt, std::nullopt, true});
  EXPECT_EQ(AtomicFile::read(storage.settingsURL()), R"({"autoUpload":true})");

  const auto base = [](const char* value) {
    return ShareSettings::apiBaseURL(ShareAppleBundle(JSONValue{{"LumoShareAPIBase", value}}))
        .absoluteString();
  };
  EXPECT_EQ(base("not a url"), std::string(ShareApple::defaultAPIBase));
  EXPECT_EQ(base("http://127.0.0.1:9/api/v1"), "http://127.0.0.1:9/api/v1");

  const SharePlanStore plans{storage};
  const SharePlan plan{" Hobby ", "  ", 10, 1, 1000};
  plans.save(plan);
  EXPECT_EQ(modeOf(storage.planMirrorURL()), 0600u);
  EXPECT_EQ(plans.load(1000 + 604800000), plan);
  EXPECT_FALSE(plans.load(1000 + 604800001).has_value());
  EXPECT_TRUE(plan.isFreePlan());
  EXPECT_EQ(plan.displayName(), " Hobby ");
  EXPECT_EQ((SharePlan{"pro", " Pro Plan ", {}, {}, 0}).displayName(), "Pro Plan");
  EXPECT_TRUE((SharePlan{"pro", {}, {}, {}, 0}).allowsPassword());
  plans.save(SharePlan{" \n", {}, {}, {}, 1000});
  EXPECT_FALSE(plans.load(1000).has_value());
  plans.save(SharePlan{"pro", {}, {}, {}, std::numeric_limits<std::int64_t>::min()});
  EXPECT_FALSE(plans.load(std::numeric_limits<std::int64_t>::max()).has_value());

  const auto me = ShareJSON::decoder().decode<MeResponse>(
      R"({"plan":"pro","planName":"Pro","planLimits":{"docFileSizeMB":500,"docMaxExpDays":365,"slugMinLength":3},)"
      R"("usage":{"docs":{"used":3,"limit":100},"links":{"used":1}}})");
  EXPECT_EQ(me.usage->at("links"), (PlanUsage{1, std::nullopt}));
  EXPECT_EQ(SharePlan::make(me, 77), (SharePlan{"pro", "Pro", 500, 365, 77}));
  EXPECT_EQ(ShareJSON::decoder().decode<MeResponse>(ShareJSON::encoder().encode(me)), me);
  EXPECT_THROW(ShareJSON::decoder().decode<MeResponse>(R"({"plan":"pro"})"), ShareJSONError);
}

}  // namespace
}  // namespace lumo
