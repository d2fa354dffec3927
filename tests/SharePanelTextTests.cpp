// The panel's words and pictures: failure guidance, expiry and result texts, the reader's
// language, and a QR code that a real decoder reads back.
#include <gtest/gtest.h>

#include <clocale>
#include <functional>

#include "ShareArchiveError.hpp"
#include "ShareIngestError.hpp"
#include "SharePanelText.hpp"
#include "ShareQRCode.hpp"
#include "ShareURLError.hpp"
#include "TemporaryDirectory.hpp"
#include "TestCommand.hpp"
#include "UnicodeText.hpp"

namespace lumo {
namespace {

namespace Text = SharePanelText;
using State = ShareUploadSession::TokenState;
using E = ShareUploadError;

constexpr std::int64_t now = 1'000'000'000'000, hour = 3'600'000;

/// The expiry text of a share that has `remainingMs` left.
std::string expiry(std::int64_t remainingMs) {
  ShareUploadOutcome outcome;
  outcome.expiresAtMs = now + remainingMs;
  return Text::expiryText(outcome, now);
}

/// The guidance line alone: what follows the error's message in `text`.
std::string guidanceLine(const E& error, const std::string& text) {
  const auto message = error.message();
  EXPECT_EQ(text.rfind(message, 0), 0u) << text;
  return text == message ? "" : text.substr(message.size() + 1);
}

TEST(SharePanelTextTest, GuidanceExpiryAndFailuresInTheReadersLanguageWithChineseAsFallback) {
  const std::string expired =
      "登录状态已过期：打开 Lumo Share App 会自动刷新登录，并把这条内容补传出去。";
  const std::string notSynced =
      "如果 App 里已登录，说明登录状态还没同步到分享扩展：打开 Lumo Share App "
      "会自动刷新并补传这条内容。";
  const std::string retry = "可以点“重试”再发一次。";
  const std::string queue = "可以点“重试”，或打开 Lumo Share App 查看队列。";
  const std::string tooLarge = "应用包会先压缩；仍然过大请拆分或换更小的内容再分享。";
  // The terminal's lines name the command that retries the share, never the panel's buttons.
  const std::string loginAgain =
      "登录状态已过期：用 `lumo-share login` 重新登录后，运行 `lumo-share queue retry ID-1` 补传。";
  const std::string signIn =
      "登录 Lumo（`lumo-share login`）后，运行 `lumo-share queue retry ID-1` 补传这条内容。";
  const std::string runRetry = "可以运行 `lumo-share queue retry ID-1` 再发一次。";
  const std::string runQueue =
      "可以运行 `lumo-share queue retry ID-1` 再发一次，或运行 `lumo-share queue` 查看队列。";
  const std::vector<std::tuple<E, State, std::string, std::string>> cases{
      {E::unauthorized("x"), State::expired, expired, loginAgain},
      {E::unauthorized("x"), State::signedOut, notSynced, signIn},
      {E::quotaExceeded(5, true), State::expired, expired, loginAgain},
      {E::quotaExceeded(std::nullopt, false), State::expired, queue, runQueue},
      {E::paidPlanRequired(PaidPlanFeature::password), State::signedIn,
       "这是套餐限制，不是登录问题：取消勾选「口令」后再点“重试”，或升级到 Pro "
       "套餐。内容已保留在本地队列。",
       "这是套餐限制，不是登录问题：不带 `--password` 重新分享，或升级到 Pro 套餐后运行 "
       "`lumo-share queue retry ID-1`。内容已保留在本地队列。"},
      {E::paidPlanRequired(PaidPlanFeature::logo), State::signedIn,
       "这是套餐限制，不是登录问题：去掉对应的 Pro "
       "选项后再点“重试”，或升级套餐。内容已保留在本地队列。",
       "这是套餐限制，不是登录问题：去掉对应的 Pro 选项重新分享，或升级套餐后运行 "
       "`lumo-share queue retry ID-1`。内容已保留在本地队列。"},
      {E::payloadTooLarge("a", 2, 1), State::signedIn, tooLarge, tooLarge},
      {E::http(500, std::nullopt, true), State::signedIn, retry, runRetry},
      {E::http(404, std::nullopt, false), State::signedIn, queue, runQueue},
      {E::rateLimited(std::nullopt), State::signedIn, retry, runRetry},
      {E::invalidResponse(), State::signedIn, retry, runRetry},
      {E::transport("没有可分享的内容"), State::signedIn, "", ""},
      {E::invalidMetadata("没有可分享的内容"), State::signedIn, "", ""},
      {E::cancelled(), State::signedIn, queue, runQueue},
  };
  for (const auto& [error, state, panel, terminal] : cases) {
    EXPECT_EQ(guidanceLine(error, Text::failureGuidance(error, state)), panel) << error.message();
    EXPECT_EQ(guidanceLine(error, Text::commandLineGuidance(error, state, "ID-1")), terminal)
        << error.message();
  }

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

  EXPECT_EQ(Text::readableMessage(ShareIngestError::stagingFailed("坏了")), "读取失败：坏了");
  EXPECT_EQ(Text::readableMessage(ShareIngestError::queueFailed("满了")), "写入本地队列失败：满了");
  EXPECT_EQ(Text::readableMessage(ShareIngestError::emptyPayload()), "没有读到可分享的内容。");
  EXPECT_EQ(Text::readableMessage(std::runtime_error("disk")), "读取失败：disk");

  testing::ScopedEnvironment environment;
  environment.unset("LANGUAGE");
  const std::string saved = std::setlocale(LC_MESSAGES, nullptr);
  const auto unreachable = ShareURLError(ShareURLError::Code::cannotConnectToHost, "curl: 7");
  // Each row: the text as an English reader and as a Chinese reader sees it.
  const std::vector<std::tuple<std::function<std::string()>, std::string, std::string>> rows{
      {[] { return Text::message(ShareComposeIssue::noteTooLong); },
       "The note can have at most 2000 characters", "备注最多 2000 字"},
      {[] { return ShareL10n::tr(Text::hintFreePlan, "Hobby"); },
       "Password protection needs the Pro plan: you are on Hobby, so this share goes out "
       "without a password; upgrade to set one.",
       "口令保护需要 Pro 计划：当前是 Hobby 套餐，这条内容不会带口令；升级后可设置。"},
      {[] { return ShareL10n::trn(Text::summaryAttachments, 1); }, "1 attachment", "1 个附件"},
      {[] { return ShareL10n::trn(Text::summaryAttachments, 3); }, "3 attachments", "3 个附件"},
      {[] { return expiry(hour + 1); }, "Expires in 1 hour", "1 小时后过期"},
      {[] { return expiry(23 * hour + 1); }, "Expires in 23 hours", "23 小时后过期"},
      {[] { return expiry(7 * 24 * hour); }, "Expires in 7 days", "7 天后过期"},
      {[&] { return E::transport(unreachable.localizedDescription()).message(); },
       "Network error: Could not connect to the server.", "网络错误：无法连接服务器。"},
      {[] {
         const auto text = E::quotaExceeded(1, true).message();
         return text.substr(0, text.find("24"));
       },
       "Anonymous sharing has reached its limit (at most 1 share in ",
       "匿名分享已达上限（最多 1 条 / "},
      {[] { return E::paidPlanRequired(PaidPlanFeature::logo).message(); },
       "A custom logo needs the Pro plan or higher (the free Hobby plan does not include it); "
       "the service refused this upload.",
       "自定义 Logo需要 Pro 计划或更高套餐（Hobby 免费套餐不支持），服务端已拒绝本次上传。"},
      {[] { return E::payloadTooLarge("%@.bin", 15 << 20, 10 << 20).message(); },
       "“%@.bin” is 15.0 MB, over the 10.0 MB limit for a file shared anonymously: sign in "
       "to Lumo to upload it.",
       "「%@.bin」15.0 MB，超过匿名分享单文件上限 10.0 MB：登录 Lumo 后可继续上传。"},
      {[] { return E::rateLimited(1000).message(); }, "Rate limited; try again in 1 second",
       "被限流，建议 1s 后重试"},
      {[] { return ShareArchiveError::timedOut("Projekt", 1).readableReason(); },
       "Could not zip Projekt: not finished after 1 second; stopped",
       "无法压缩应用包 Projekt：超过 1 秒未完成，已终止"},
  };
  for (const auto& [text, english, chinese] : rows) {
    ASSERT_NE(std::setlocale(LC_MESSAGES, "en_US.UTF-8"), nullptr) << "en_US is not installed";
    const auto inEnglish = text();
    ASSERT_NE(std::setlocale(LC_MESSAGES, "zh_CN.UTF-8"), nullptr) << "zh_CN is not installed";
    const auto inChinese = text();
    std::setlocale(LC_MESSAGES, saved.c_str());
    EXPECT_EQ(inEnglish, english);
    EXPECT_EQ(inChinese, chinese);
  }
  EXPECT_EQ(unreachable.what(), std::string("Could not connect to the server. (curl: 7)"))
      << "the logs keep English and the transport's detail";
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
