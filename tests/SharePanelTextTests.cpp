// The panel's words and pictures: failure guidance, expiry and result texts, the reader's
// language, and a QR code that a real decoder reads back.
#include <gtest/gtest.h>

#include <clocale>

#include "ShareIngestError.hpp"
#include "SharePanelText.hpp"
#include "ShareQRCode.hpp"
#include "TemporaryDirectory.hpp"
#include "TestCommand.hpp"
#include "UnicodeText.hpp"

namespace lumo {
namespace {

namespace Text = SharePanelText;
using State = ShareUploadSession::TokenState;
using E = ShareUploadError;

/// The guidance line alone: what follows the error's message.
std::string guidanceLine(const E& error, State state) {
  const auto text = Text::failureGuidance(error, state);
  const auto message = error.message();
  return text == message ? "" : text.substr(message.size() + 1);
}

TEST(SharePanelTextTest, GuidanceFollowsTheErrorAndTheSignInState) {
  const std::string expired =
      "登录状态已过期：打开 Lumo Share App 会自动刷新登录，并把这条内容补传出去。";
  const std::string notSynced =
      "如果 App 里已登录，说明登录状态还没同步到分享扩展：打开 Lumo Share App "
      "会自动刷新并补传这条内容。";
  const std::string retry = "可以点“重试”再发一次。";
  const std::string queue = "可以点“重试”，或打开 Lumo Share App 查看队列。";
  const std::vector<std::tuple<E, State, std::string>> cases{
      {E::unauthorized("x"), State::expired, expired},
      {E::unauthorized("x"), State::signedOut, notSynced},
      {E::quotaExceeded(5, true), State::expired, expired},
      {E::quotaExceeded(std::nullopt, false), State::expired, queue},
      {E::paidPlanRequired(PaidPlanFeature::password), State::signedIn,
       "这是套餐限制，不是登录问题：取消勾选「口令」后再点“重试”，或升级到 Pro "
       "套餐。内容已保留在本地队列。"},
      {E::paidPlanRequired(PaidPlanFeature::logo), State::signedIn,
       "这是套餐限制，不是登录问题：去掉对应的 Pro "
       "选项后再点“重试”，或升级套餐。内容已保留在本地队列。"},
      {E::payloadTooLarge("a", 2, 1), State::signedIn,
       "应用包会先压缩；仍然过大请拆分或换更小的内容再分享。"},
      {E::http(500, std::nullopt, true), State::signedIn, retry},
      {E::http(404, std::nullopt, false), State::signedIn, queue},
      {E::rateLimited(std::nullopt), State::signedIn, retry},
      {E::invalidResponse(), State::signedIn, retry},
      {E::transport("没有可分享的内容"), State::signedIn, ""},
      {E::invalidMetadata("没有可分享的内容"), State::signedIn, ""},
      {E::cancelled(), State::signedIn, queue},
  };
  for (const auto& [error, state, line] : cases) {
    EXPECT_EQ(guidanceLine(error, state), line) << error.message();
  }
}

TEST(SharePanelTextTest, ExpiryCountsDaysFromFortyNineHoursOn) {
  const std::int64_t now = 1'000'000'000'000;
  const auto expiry = [&](std::int64_t remainingMs) {
    ShareUploadOutcome outcome;
    outcome.expiresAtMs = now + remainingMs;
    return Text::expiryText(outcome, now);
  };
  const std::int64_t hour = 3600000;
  EXPECT_EQ(expiry(48 * hour + 59 * 60000), "48 小时后过期");
  EXPECT_EQ(expiry(49 * hour + 1), "2 天后过期");
  EXPECT_EQ(expiry(49 * hour - 1), "48 小时后过期");
  EXPECT_EQ(expiry(49 * hour), "2 天后过期");
  EXPECT_EQ(expiry(7 * 24 * hour - 1), "6 天后过期");
  EXPECT_EQ(expiry(-5), "1 小时后过期");

  ShareUploadOutcome anonymousLink{"link",  "s", "u", std::nullopt, true, now + 24 * hour - 1,
                                   "claim", now};
  StagedShare staged;
  staged.payload.kind = "link";
  staged.displayTitle = "link";
  EXPECT_EQ(Text::resultMetaText(anonymousLink, staged, now),
            "链接 · 23 小时后过期 · 匿名发布，登录后可认领");
  ShareUploadOutcome document{"doc", "s", "u", "t", false, now + 7 * 24 * hour, {}, now};
  staged.payload.kind = "image";
  staged.displayTitle = "trip.jpg";
  EXPECT_EQ(Text::resultMetaText(document, staged, now), "图片 · trip.jpg · 7 天后过期");
  EXPECT_EQ(Text::kindLabel("Text"), "Text");
}

TEST(SharePanelTextTest, ReadingFailuresSayWhatWentWrong) {
  EXPECT_EQ(Text::readableMessage(ShareIngestError::stagingFailed("坏了")), "读取失败：坏了");
  EXPECT_EQ(Text::readableMessage(ShareIngestError::queueFailed("满了")), "写入本地队列失败：满了");
  EXPECT_EQ(Text::readableMessage(ShareIngestError::emptyPayload()), "没有读到可分享的内容。");
  EXPECT_EQ(Text::readableMessage(std::runtime_error("disk")), "读取失败：disk");
}

TEST(SharePanelTextTest, SpeaksTheReadersLanguageWithChineseAsTheFallback) {
  testing::ScopedEnvironment environment;
  environment.unset("LANGUAGE");
  const std::string saved = std::setlocale(LC_MESSAGES, nullptr);
  std::vector<std::string> texts;
  for (const auto* locale : {"en_US.UTF-8", "zh_CN.UTF-8"}) {
    ASSERT_NE(std::setlocale(LC_MESSAGES, locale), nullptr) << locale << " is not installed";
    texts.push_back(Text::message(ShareComposeIssue::noteTooLong) + "|" +
                    ShareL10n::tr(Text::summaryAttachments, 3) + "|" +
                    ShareL10n::tr(Text::hintFreePlan, "Hobby"));
  }
  std::setlocale(LC_MESSAGES, saved.c_str());
  EXPECT_EQ(texts[0],
            "The note can have at most 2000 characters|3 attachments|Password protection needs "
            "the Pro plan: you are on Hobby, so this share goes out without a password; upgrade "
            "to set one.");
  EXPECT_EQ(texts[1],
            "备注最多 2000 字|3 个附件|口令保护需要 Pro 计划：当前是 Hobby "
            "套餐，这条内容不会带口令；升级后可设置。");
}

TEST(ShareQRCodeTest, ADecoderReadsTheLinkBackFromTheImageAndTheTerminal) {
  const std::string link = "http://127.0.0.1:8787/s/Ab3-xyz9";
  const auto image = qrImage(link, 132);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->innerSide(), 116.0);
  testing::TemporaryDirectory folder;
  image->writePNG(folder / "qr.png", 2);
  const auto decoded =
      testing::runCommand("zbarimg --raw -q " + testing::shellQuoted(folder / "qr.png"));
  EXPECT_EQ(decoded.output, link + "\n");

  // Each character cell holds two module rows: reading the blocks back gives the modules.
  const auto terminal = image->terminalText();
  std::vector<std::string> rows;
  for (const auto& line : UnicodeText::lines(terminal)) {
    if (line.empty()) continue;
    std::string top, bottom;
    for (std::size_t at = line.find('m') + 1; at < line.size() && line[at] != '\x1b';) {
      const auto cell = line.substr(at, line[at] == ' ' ? 1 : 3);
      top += (cell == "\u2588" || cell == "\u2580") ? '#' : '.';
      bottom += (cell == "\u2588" || cell == "\u2584") ? '#' : '.';
      at += cell.size();
    }
    rows.push_back(top);
    rows.push_back(bottom);
  }
  const auto quiet = static_cast<std::size_t>(image->modulesPerSide) + 4;  // 2 modules each side
  ASSERT_EQ(rows.size(), quiet + quiet % 2);
  for (int row = 0; row < image->modulesPerSide; ++row) {
    for (int column = 0; column < image->modulesPerSide; ++column) {
      ASSERT_EQ(rows[row + 2][column + 2] == '#', image->isDark(row, column))
          << row << "," << column;
    }
  }
  EXPECT_FALSE(qrImage(std::string(8000, 'x'), 132)) << "too long for any QR code";
}

}  // namespace
}  // namespace lumo
