#pragma once
// Every word the share panel and the command-line tool show around a share, as Chinese message
// ids (look them up with ShareL10n::tr; "%@" and "%d" are filled after the lookup), and the pure
// operations that turn a kind, an error, an outcome or a compose issue into text.
#include <cstdint>
#include <exception>
#include <string>

#include "ShareCompose.hpp"
#include "ShareComposeFacts.hpp"
#include "ShareL10n.hpp"
#include "ShareUploadError.hpp"
#include "ShareUploadOutcome.hpp"
#include "ShareUploadSession.hpp"
#include "StagedShare.hpp"

namespace lumo {

/// The panel's phases, in the order a share goes through them.
enum class SharePanelPhase { reading, ready, uploading, success, failure };

namespace SharePanelText {

using ShareL10n::marked;

// Fixed labels.
inline constexpr const char* titleLabel = marked("Lumo Share");
inline constexpr const char* readingStatus = marked("正在读取分享内容…");
inline constexpr const char* readyTitle = marked("即将发布到 Lumo");
inline constexpr const char* resultTitle = marked("发布成功");
inline constexpr const char* resultCaption = marked("链接");
inline constexpr const char* copyButton = marked("复制链接");
inline constexpr const char* copiedButton = marked("已复制");
inline constexpr const char* browseButton = marked("在浏览器打开");
inline constexpr const char* errorTitle = marked("这次没有发出去");
inline constexpr const char* retryButton = marked("重试");
inline constexpr const char* openHostButton = marked("打开 Lumo Share App");
inline constexpr const char* cancelButton = marked("取消");
inline constexpr const char* publishButton = marked("发布");
inline constexpr const char* initialOpacityLabel = "35%";

/// What a phase shows: the status, the hint (the second one when the share has no shared
/// container) and the primary button's title (empty: the button is hidden).
struct PhaseTexts {
  const char* status;
  const char* hint;
  const char* hintWithoutContainer;
  const char* primaryButton;
};
PhaseTexts phaseTexts(SharePanelPhase phase);

// Status texts outside phase changes.
inline constexpr const char* uploadingWithSize = marked("正在上传 %@…");
inline constexpr const char* uploading = marked("正在上传…");
inline constexpr const char* retrying = marked("正在重试…");
inline constexpr const char* stillReading = marked("仍在读取…（应用包/大文件会先压缩，请稍候）");
inline constexpr const char* hostAppMissing =
    marked("未找到宿主 App（%@），请先安装 Lumo Share App");
inline constexpr const char* hostAppFailed = marked("打开宿主 App 失败：%@");

// Reading failures.
inline constexpr const char* nothingProvided = marked("分享面板没有传来可读取的文本、链接或文件。");
inline constexpr const char* emptyPayload = marked(
    "没有读到可分享的内容。系统没有提供文本/链接/图片/文件；如果是文件夹或应用包，压缩失败也会这样"
    "。");

// Ready summary lines.
inline constexpr const char* summaryKind = marked("类型：%@");
inline constexpr ShareL10n::Plural summaryAttachments = ShareL10n::markedPlural("%d 个附件");
inline constexpr const char* summarySize = marked("大小：%@");
inline constexpr const char* summaryName = marked("名称：%@");

// Compose hints.
inline constexpr const char* hintAnonymousLink = marked("匿名短链固定 24 小时，无额外配置");
inline constexpr const char* hintSignedInLink = marked("纯链接分享仅支持保留期、口令与短链");
inline constexpr const char* hintLoginExpired = marked(
    "登录状态已过期：打开 Lumo Share App 刷新后即可按账号上传；本次会先按匿名发送（固定 24 "
    "小时，登录后可认领）");
inline constexpr const char* hintAnonymous =
    marked("匿名分享固定 24 小时，且不支持口令与自定义短链");
inline constexpr const char* hintFreePlan =
    marked("口令保护需要 Pro 计划：当前是 %@ 套餐，这条内容不会带口令；升级后可设置。");

/// The compose form's hint for what `facts` keep the share from carrying; empty when none.
std::string composeHint(const ShareComposeFacts& facts);

// Password checkbox titles.
inline constexpr const char* passwordTitle = marked("口令");
inline constexpr const char* passwordTitleFreePlan = marked("口令（Pro）");

// The compose form's row labels, menu items and placeholders.
namespace Form {
inline constexpr const char* title = marked("标题");
inline constexpr const char* titlePlaceholder = marked("分享标题（可选）");
inline constexpr const char* note = marked("备注");
inline constexpr const char* retention = marked("保留期");
/// The retention menu, one item per retention preset, in the presets' order.
inline constexpr const char* retentionItems[] = {marked("1 天"), marked("7 天"), marked("30 天")};
inline constexpr const char* passwordPlaceholder = marked("至少 4 位");
inline constexpr const char* slug = marked("自定义短链");
inline constexpr const char* slugPlaceholder = marked("例如 lumo-2026");
inline constexpr const char* securityHeading = marked("文档安全");
inline constexpr const char* disableDownload = marked("禁止下载");
inline constexpr const char* burnAfterReading = marked("阅后即焚");
inline constexpr const char* maxDownloads = marked("下载次数上限");
inline constexpr const char* maxDownloadsPlaceholder = marked("0 表示不限");
inline constexpr const char* watermark = marked("添加水印");
inline constexpr const char* watermarkText = marked("水印文字");
inline constexpr const char* watermarkTextPlaceholder = "Lumo Share";
inline constexpr const char* watermarkPosition = marked("位置");
/// The position menu, in the order of ShareComposeWatermarkPosition::allCases().
inline constexpr const char* watermarkPositionItems[] = {marked("居中"), marked("对角线")};
inline constexpr const char* watermarkOpacity = marked("不透明度");
}  // namespace Form

/// The label of a payload kind ("text" → "文本", …); another kind text comes back unchanged.
std::string kindLabel(const std::string& kind);
/// A reading or staging failure as the panel shows it.
std::string readableMessage(const std::exception& error);
/// An upload failure: the error's message, then one line of what to do about it.
std::string failureGuidance(const ShareUploadError& error, ShareUploadSession::TokenState state);
/// An upload failure as the command-line tool reports it: the error's message, then one line of
/// what to do about it in the terminal, with the command that retries the queued share
/// `clientShareId` instead of the panel's buttons.
std::string commandLineGuidance(const ShareUploadError& error, ShareUploadSession::TokenState state,
                                const std::string& clientShareId);
/// "N 天后过期" from 49 hours on, else "N 小时后过期" (at least 1), as of `nowMs`.
std::string expiryText(const ShareUploadOutcome& outcome, std::int64_t nowMs);
/// Kind, title, expiry and the claim note of an anonymous share, joined by " · ".
std::string resultMetaText(const ShareUploadOutcome& outcome, const StagedShare& staged,
                           std::int64_t nowMs);
/// The text of a compose issue.
std::string message(ShareComposeIssue issue);
/// A size as the ready summary and the uploading status write it.
std::string byteCountText(std::int64_t bytes);

/// Taking a published share back: the panel's success card says "撤回", the host window's recent
/// uploads "删除"; both ask first.
namespace TakeBack {
inline constexpr const char* button = marked("撤回");
inline constexpr const char* question = marked("撤回这条分享？");
/// What the confirmation warns of, under the link.
inline constexpr const char* warning = marked("链接会立即失效，无法恢复。");
inline constexpr const char* running = marked("正在撤回…");
inline constexpr const char* takenBack = marked("已撤回");
inline constexpr const char* takenBackNote = marked("这条分享已撤回，链接不再有效。");
inline constexpr const char* gone = marked("链接已失效");
inline constexpr const char* goneNote = marked("这条分享已过期或已被删除，链接不再有效。");
inline constexpr const char* closeHint = marked("别人已无法打开这条分享，可以关闭面板了。");
inline constexpr const char* unsupported = marked("这个服务不能删除分享，请到它的网站上删除。");
/// Why the service refused, after "没有撤回：" or the host window's "没有删除 …：".
inline constexpr const char* refused =
    marked("这条分享不属于当前登录的账号，或它的认领凭证已失效。");
inline constexpr const char* failed = marked("没有撤回：%@");
/// Why a deletion failed, in plain words: sign-in needed, the network's own text, a rate limit,
/// else the reply's status and code.
std::string failureText(const std::exception& error);
}  // namespace TakeBack

}  // namespace SharePanelText
}  // namespace lumo
