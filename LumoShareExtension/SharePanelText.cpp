#include "SharePanelText.hpp"

#include <algorithm>
#include <utility>

#include "ShareAPIError.hpp"
#include "ShareByteCount.hpp"
#include "ShareIngestError.hpp"

namespace lumo::SharePanelText {
namespace {

using ShareL10n::tr;
using ShareL10n::trn;
using Kind = ShareUploadError::Kind;

constexpr const char* guidanceExpired =
    marked("登录状态已过期：打开 Lumo Share App 会自动刷新登录，并把这条内容补传出去。");
constexpr const char* guidanceNotSynced = marked(
    "如果 App 里已登录，说明登录状态还没同步到分享扩展：打开 Lumo Share App "
    "会自动刷新并补传这条内容。");
constexpr const char* guidancePasswordPlan = marked(
    "这是套餐限制，不是登录问题：取消勾选「口令」后再点“重试”，或升级到 Pro "
    "套餐。内容已保留在本地队列。");
constexpr const char* guidanceOtherPlan = marked(
    "这是套餐限制，不是登录问题：去掉对应的 Pro "
    "选项后再点“重试”，或升级套餐。内容已保留在本地队列。");
constexpr const char* guidanceTooLarge =
    marked("应用包会先压缩；仍然过大请拆分或换更小的内容再分享。");
constexpr const char* guidanceRetry = marked("可以点“重试”再发一次。");
constexpr const char* guidanceQueue = marked("可以点“重试”，或打开 Lumo Share App 查看队列。");
/// A message with this text explains itself: no guidance follows.
constexpr const char* nothingToShare = marked("没有可分享的内容");

// The command line's lines: the command that retries ("%@": the share's id) where the panel
// has its buttons.
constexpr const char* commandExpired = marked(
    "登录状态已过期：用 `lumo-share login` 重新登录后，运行 `lumo-share queue retry %@` 补传。");
constexpr const char* commandSignIn =
    marked("登录 Lumo（`lumo-share login`）后，运行 `lumo-share queue retry %@` 补传这条内容。");
constexpr const char* commandPasswordPlan = marked(
    "这是套餐限制，不是登录问题：不带 `--password` 重新分享，或升级到 Pro 套餐后运行 "
    "`lumo-share queue retry %@`。内容已保留在本地队列。");
constexpr const char* commandOtherPlan = marked(
    "这是套餐限制，不是登录问题：去掉对应的 Pro 选项重新分享，或升级套餐后运行 "
    "`lumo-share queue retry %@`。内容已保留在本地队列。");
constexpr const char* commandRetry = marked("可以运行 `lumo-share queue retry %@` 再发一次。");
constexpr const char* commandQueue =
    marked("可以运行 `lumo-share queue retry %@` 再发一次，或运行 `lumo-share queue` 查看队列。");

/// The kinds of advice an upload failure gets, wherever it is shown.
enum class Advice {
  signInExpired,
  signInNotSynced,
  passwordPlan,
  otherPlan,
  tooLarge,
  retry,
  queue
};

Advice adviceFor(const ShareUploadError& error, ShareUploadSession::TokenState state) {
  const auto* quota = error.as<ShareUploadError::QuotaExceeded>();
  if (error.kind() == Kind::unauthorized || (quota && quota->loginRequired)) {
    return state == ShareUploadSession::TokenState::expired ? Advice::signInExpired
                                                            : Advice::signInNotSynced;
  }
  if (const auto* paid = error.as<ShareUploadError::PaidPlanRequired>()) {
    return paid->feature == PaidPlanFeature::password ? Advice::passwordPlan : Advice::otherPlan;
  }
  if (error.kind() == Kind::payloadTooLarge) return Advice::tooLarge;
  const auto* http = error.as<ShareUploadError::Http>();
  if ((http && http->retryable) || error.kind() == Kind::rateLimited ||
      error.kind() == Kind::invalidResponse) {
    return Advice::retry;
  }
  return Advice::queue;
}

/// The advice's line in the panel and in the terminal, in the order of `Advice`.
struct AdviceLines {
  const char* panel;
  const char* terminal;
};
constexpr AdviceLines adviceLines[] = {
    {guidanceExpired, commandExpired},
    {guidanceNotSynced, commandSignIn},
    {guidancePasswordPlan, commandPasswordPlan},
    {guidanceOtherPlan, commandOtherPlan},
    {guidanceTooLarge, guidanceTooLarge},
    {guidanceRetry, commandRetry},
    {guidanceQueue, commandQueue},
};
static_assert(std::size(adviceLines) == std::size_t(Advice::queue) + 1);

/// Whether the message explains itself and stands alone: the queue advice is left out then.
bool standsAlone(const ShareUploadError& error, Advice advice) {
  return advice == Advice::queue && error.message().find(tr(nothingToShare)) != std::string::npos;
}

}  // namespace

PhaseTexts phaseTexts(SharePanelPhase phase) {
  switch (phase) {
    case SharePanelPhase::reading: {
      const auto* hint =
          marked("应用和文件夹会先压缩成 zip 再上传；内容只发送到你在分享面板里选中的 Lumo。");
      return {readingStatus, hint, hint, ""};
    }
    case SharePanelPhase::ready:
      return {marked("准备发布"), marked("发布后会生成一条链接，可在控制台随时查看或删除。"),
              marked("未配置 App Group：本次只做即时上传，失败后无法在 App 里补传。"),
              publishButton};
    case SharePanelPhase::uploading:
      return {uploading, marked("上传期间可以取消，内容已保存在本地队列，打开 App 会自动补传。"),
              marked("上传期间请不要关闭面板。"), marked("上传中…")};
    case SharePanelPhase::success: {
      const auto* hint = marked("链接已生成，可复制或直接在浏览器打开。");
      return {marked("发布成功"), hint, hint, marked("完成")};
    }
    case SharePanelPhase::failure: {
      const auto* hint = marked("内容已保留，可重试或打开 App 查看。");
      return {marked("发布失败"), hint, hint, marked("完成")};
    }
  }
  return phaseTexts(SharePanelPhase::reading);
}

std::string kindLabel(const std::string& kind) {
  static constexpr std::pair<const char*, const char*> labels[] = {
      {"text", marked("文本")},     {"link", marked("链接")},      {"image", marked("图片")},
      {"video", marked("视频")},    {"audio", marked("音频")},     {"file", marked("文件")},
      {"chat", marked("聊天记录")}, {"mixed", marked("混合内容")},
  };
  for (const auto& [key, label] : labels) {
    if (kind == key) return tr(label);
  }
  return kind;
}

std::string readableMessage(const std::exception& error) {
  if (const auto* ingest = dynamic_cast<const ShareIngestError*>(&error)) {
    switch (ingest->kind()) {
      case ShareIngestError::Kind::stagingFailed:
        return tr(marked("读取失败：%@"), ingest->message());
      case ShareIngestError::Kind::queueFailed:
        return tr(marked("写入本地队列失败：%@"), ingest->message());
      case ShareIngestError::Kind::emptyPayload:
        return tr(marked("没有读到可分享的内容。"));
    }
  }
  return tr(marked("读取失败：%@"), error.what());
}

std::string failureGuidance(const ShareUploadError& error, ShareUploadSession::TokenState state) {
  const auto advice = adviceFor(error, state);
  if (standsAlone(error, advice)) return error.message();
  return error.message() + "\n" + tr(adviceLines[static_cast<std::size_t>(advice)].panel);
}

std::string commandLineGuidance(const ShareUploadError& error, ShareUploadSession::TokenState state,
                                const std::string& clientShareId) {
  const auto advice = adviceFor(error, state);
  if (standsAlone(error, advice)) return error.message();
  const auto* line = adviceLines[static_cast<std::size_t>(advice)].terminal;
  return error.message() + "\n" + tr(line, clientShareId);
}

std::string expiryText(const ShareUploadOutcome& outcome, std::int64_t nowMs) {
  const auto remaining = outcome.expiresAtMs - nowMs;
  if (remaining > 176399999) return trn("%d 天后过期", remaining / 86400000);
  return trn("%d 小时后过期", std::max<std::int64_t>(1, remaining / 3600000));
}

std::string resultMetaText(const ShareUploadOutcome& outcome, const StagedShare& staged,
                           std::int64_t nowMs) {
  // The service calls every document "doc"; the reader knows it by the share's own kind.
  const auto& kind = outcome.kind == "doc" ? staged.payload.kind : outcome.kind;
  auto text = kindLabel(kind);
  const auto& title = staged.displayTitle;
  if (!title.empty() && title != staged.payload.kind) text += " · " + title;
  text += " · " + expiryText(outcome, nowMs);
  if (outcome.anonymous) text += " · " + tr(marked("匿名发布，登录后可认领"));
  return text;
}

std::string composeHint(const ShareComposeFacts& facts) {
  if (facts.isLinkOnly) return tr(facts.isAnonymous() ? hintAnonymousLink : hintSignedInLink);
  if (facts.isAnonymous()) {
    const bool expired = facts.tokenState == ShareUploadSession::TokenState::expired;
    return tr(expired ? hintLoginExpired : hintAnonymous);
  }
  return facts.isFreePlan() ? tr(hintFreePlan, facts.plan->displayName()) : std::string();
}

std::string message(ShareComposeIssue issue) {
  // One text a case, in the order of the cases.
  static constexpr const char* texts[] = {
      marked("备注最多 2000 字"),
      marked("口令至少 4 位"),
      marked("口令最多 128 位"),
      marked("短链需 4–32 位字母、数字或连字符"),
      marked("下载次数需为 0–100000 的整数"),
      marked("开启水印需要填写文字"),
      marked("水印文字最多 256 字"),
  };
  static_assert(std::size(texts) == std::size_t(ShareComposeIssue::watermarkTextTooLong) + 1);
  return tr(texts[static_cast<std::size_t>(issue)]);
}

std::string byteCountText(std::int64_t bytes) {
  return ShareByteCount::fileStyle(bytes);
}

std::string TakeBack::failureText(const std::exception& error) {
  const auto* api = dynamic_cast<const ShareAPIError*>(&error);
  if (!api) return error.what();
  switch (api->status()) {
    case 0:  // the network's own words
      return api->message();
    case 401:
      return tr(marked("需要登录 Lumo 账号才能撤回这条分享。"));
    case 429:
      return ShareUploadError::rateLimited(std::nullopt).message();
    default:
      return ShareUploadError::http(api->status(), api->code(), false).message();
  }
}

}  // namespace lumo::SharePanelText
