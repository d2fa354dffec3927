// The compose form's model: the initial draft, validation order and short-circuits, and the
// options a draft publishes for each kind of share.
#include <gtest/gtest.h>

#include "ShareComposeDraft.hpp"

namespace lumo {
namespace {

using Issue = ShareComposeIssue;

SharePlan plan(const std::string& key) {
  SharePlan plan;
  plan.plan = key;
  return plan;
}

TEST(ShareComposeDraftTest, StartsFromTheSettingsAndPublishesWhatEachKindOfShareCanCarry) {
  ShareSettings settings;
  settings.expiresInSeconds = 3600;  // not a preset
  settings.password = "  hunter2  ";
  const auto signedIn = ShareComposeDraft::make(settings, false, false, "  报告\n", plan("pro"));
  EXPECT_EQ(std::tuple(signedIn.expiresInSeconds, signedIn.password, signedIn.passwordEnabled,
                       signedIn.title),
            std::tuple(604800, "hunter2", true, "报告"));
  const auto hobby = ShareComposeDraft::make(settings, false, false, {}, plan(" Hobby "));
  EXPECT_EQ(std::tuple(hobby.password, hobby.passwordEnabled), std::tuple("", false));
  settings.expiresInSeconds = 2592000;
  const auto anonymous = ShareComposeDraft::make(settings, true, true, "title", std::nullopt);
  EXPECT_EQ(std::tuple(anonymous.expiresInSeconds, anonymous.password, anonymous.title),
            std::tuple(86400, "", ""));
  EXPECT_EQ(ShareComposeDraft::make(settings, false, false, {}, {}).expiresInSeconds, 2592000);
  const auto longTitle = ShareComposeDraft::make(settings, false, false, std::string(300, 'x'), {});
  EXPECT_EQ(longTitle.title.size(), 200u);
  EXPECT_EQ(longTitle.watermarkText, "Lumo Share");

  ShareComposeDraft draft;
  draft.title = "  Title ";
  draft.note = " note ";
  draft.expiresInSeconds = 2592000;
  draft.passwordEnabled = true;
  draft.password = " secret ";
  draft.slug = " my-slug ";
  draft.disableDownload = true;
  draft.maxDownloadsText = " 42 ";
  draft.watermarkEnabled = true;
  draft.watermarkText = " 机密 ";
  draft.watermarkPosition = ShareComposeWatermarkPosition::diagonal;
  draft.watermarkOpacityPercent = 250;

  const auto document = draft.makeOptions(false, false, true);
  EXPECT_EQ(std::tuple(document.expiresInSeconds, document.password, document.title, document.note,
                       document.slug, document.disableDownload, document.maxDownloads),
            std::tuple(2592000, "secret", "Title", "note", "my-slug", true, 42));
  EXPECT_EQ(document.watermark,
            (WatermarkSettings{true, "机密", "diagonal", 1.0, "#ffffff", 48, -30, true}));

  const auto link = draft.makeOptions(true, false, false);
  EXPECT_EQ(
      std::tuple(link.password, link.title, link.note, link.slug, link.disableDownload,
                 link.maxDownloads, link.watermark.has_value()),
      std::tuple(std::nullopt, std::nullopt, std::nullopt, "my-slug", false, std::nullopt, false));
  const auto anonymousDocument = draft.makeOptions(false, true, true);
  EXPECT_EQ(std::tuple(anonymousDocument.expiresInSeconds, anonymousDocument.password,
                       anonymousDocument.slug),
            std::tuple(86400, std::nullopt, std::nullopt));

  draft.maxDownloadsText = "0";
  draft.watermarkOpacityPercent = 0;
  draft.watermarkPosition = ShareComposeWatermarkPosition::fromWireValue("Diagonal");
  const auto noLimit = draft.makeOptions(false, false, true);
  EXPECT_EQ(noLimit.maxDownloads, std::nullopt) << "0 is accepted and publishes no limit";
  EXPECT_EQ(std::tuple(noLimit.watermark->opacity, noLimit.watermark->position),
            std::tuple(0.01, "center"));
}

TEST(ShareComposeDraftTest, ReportsIssuesInOrderWhereTheShareCarriesThemLimitsLinksAndSlugs) {
  ShareComposeDraft bad;
  bad.note = std::string(2001, 'n');
  bad.maxDownloadsText = "100001";
  bad.watermarkEnabled = true;
  bad.watermarkText = "   ";
  bad.passwordEnabled = true;
  bad.password = "abc";
  bad.slug = "bad_slug";
  const std::vector all{Issue::noteTooLong, Issue::invalidMaxDownloads,
                        Issue::watermarkTextRequired, Issue::passwordTooShort, Issue::invalidSlug};
  EXPECT_EQ(bad.issues(false, false), all);
  EXPECT_EQ(bad.issues(false, true), std::vector(all.begin(), all.begin() + 3));
  EXPECT_EQ(bad.issues(true, false), std::vector(all.begin() + 3, all.end()));
  EXPECT_EQ(bad.issues(true, true), std::vector<Issue>{});

  ShareComposeDraft good;
  good.note = std::string(2000, 'n') + "  ";
  good.maxDownloadsText = " 100000 ";
  good.watermarkEnabled = true;
  good.watermarkText = std::string(256, 'w');
  good.passwordEnabled = true;
  good.password = "    ";  // blank: published without a password, no issue
  good.slug = "a-B-3-d-e-";
  EXPECT_EQ(good.issues(false, false), std::vector<Issue>{});
  good.watermarkText += "w";
  good.password = std::string(129, 'p');
  good.slug = "ünïcode";
  EXPECT_EQ(good.issues(false, false),
            (std::vector{Issue::watermarkTextTooLong, Issue::passwordTooLong, Issue::invalidSlug}));

  const std::vector<std::pair<std::string, std::optional<std::int64_t>>> cases{
      {"", std::nullopt},
      {" 42 ", 42},
      {"+5", 5},
      {"-1", -1},
      {"+-5", std::nullopt},
      {"1e3", std::nullopt},
      {"4.0", std::nullopt},
      {"abc", std::nullopt},
      {"99999999999999999999", std::nullopt}};
  for (const auto& [text, expected] : cases) {
    ShareComposeDraft draft;
    draft.maxDownloadsText = text;
    EXPECT_EQ(draft.parsedMaxDownloads(), expected) << text;
  }
  ShareComposeDraft negative;
  negative.maxDownloadsText = "-1";
  EXPECT_EQ(negative.issues(false, false), std::vector{Issue::invalidMaxDownloads});

  StagedShare link;
  link.payload.url = "https://example.org";
  link.payload.text = "https://example.org";
  EXPECT_TRUE(ShareCompose::isLinkOnly(link));
  auto withText = link;
  withText.payload.text = "look: https://example.org";
  auto withFile = link;
  withFile.attachments.emplace_back();
  auto empty = link;
  empty.payload.url = "";
  for (const auto& share : {withText, withFile, empty})
    EXPECT_FALSE(ShareCompose::isLinkOnly(share));

  for (const auto* slug : {"abcd", "ABCD-1234-abcd-1234-abcd-1234-ab"}) {
    EXPECT_TRUE(ShareCompose::isValidSlug(slug)) << slug;
  }
  for (const auto* slug : {"abc", "ABCD-1234-abcd-1234-abcd-1234-abc", "a_bcd", "abcé", " abcd"}) {
    EXPECT_FALSE(ShareCompose::isValidSlug(slug)) << slug;
  }
}

}  // namespace
}  // namespace lumo
