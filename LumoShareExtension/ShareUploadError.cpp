#include "ShareUploadError.hpp"

#include <fmt/format.h>

#include "ShareApple.hpp"
#include "ShareL10n.hpp"
#include "ShareText.hpp"

namespace lumo {
namespace {

/// Bytes as mebibytes with one decimal and a full stop, whatever the locale.
std::string mebibytes(std::int64_t bytes) {
  return fmt::format("{:.1f}", static_cast<double>(bytes) / 1024.0 / 1024.0);
}

template <class... Handlers>
struct Overloaded : Handlers... {
  using Handlers::operator()...;
};
template <class... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

using Error = ShareUploadError;
using ShareL10n::tr;
using ShareL10n::trn;

std::int64_t anonymousLimit(const Error::QuotaExceeded& quota) {
  return quota.activeLimit.value_or(ShareApple::anonymousActiveLimit);
}

std::string textOf(const Error::QuotaExceeded& quota) {
  if (!quota.loginRequired) {
    return tr("分享数量已达上限：请升级套餐或删除部分历史分享后重试。内容已保留在本地队列。");
  }
  return trn(
      "匿名分享已达上限（最多 %d 条 / 24 小时）：如果 App 里已登录，说明登录状态还没同步到分享"
      "扩展——打开 Lumo Share App 会自动刷新并补传这条内容；否则请登录 Lumo "
      "后再发送。内容已保留在本地队列。",
      anonymousLimit(quota));
}

std::string textOf(const Error::PayloadTooLarge& payload) {
  const auto size = mebibytes(payload.size);
  const auto limit = mebibytes(payload.limit);
  if (payload.limit == ShareApple::anonymousMaxFileBytes) {
    return tr("「%@」%@ MB，超过匿名分享单文件上限 %@ MB：登录 Lumo 后可继续上传。",
              {payload.item, size, limit});
  }
  return tr("「%@」%@ MB，超过单次分享上限 %@ MB（应用包会先压缩，仍然过大请拆分后分享）。",
            {payload.item, size, limit});
}

std::string textOf(const Error::Http& http) {
  return "HTTP " + std::to_string(http.status) + (http.code ? " · " + *http.code : "");
}

std::string textOf(const Error::RateLimited& limited) {
  if (!limited.retryAfterMs) return tr("被限流");
  return trn("被限流，建议 %ds 后重试", *limited.retryAfterMs / 1000);
}

}  // namespace

ShareUploadError::ShareUploadError(Payload payload)
    : payload_(std::move(payload)), what_(message()) {}

ShareUploadError ShareUploadError::unauthorized(std::string text) {
  return ShareUploadError(Unauthorized{std::move(text)});
}
ShareUploadError ShareUploadError::quotaExceeded(std::optional<std::int64_t> activeLimit,
                                                 bool loginRequired) {
  return ShareUploadError(QuotaExceeded{activeLimit, loginRequired});
}
ShareUploadError ShareUploadError::paidPlanRequired(PaidPlanFeature feature) {
  return ShareUploadError(PaidPlanRequired{feature});
}
ShareUploadError ShareUploadError::http(int status, std::optional<std::string> code,
                                        bool retryable) {
  return ShareUploadError(Http{status, std::move(code), retryable});
}
ShareUploadError ShareUploadError::rateLimited(std::optional<std::int64_t> retryAfterMs) {
  return ShareUploadError(RateLimited{retryAfterMs});
}
ShareUploadError ShareUploadError::transport(std::string text) {
  return ShareUploadError(Transport{std::move(text)});
}
ShareUploadError ShareUploadError::decoding(std::string_view text) {
  auto bounded = ShareText::truncateUTF8(text, maxDecodingTextBytes, true).text;
  return ShareUploadError(Decoding{std::move(bounded)});
}
ShareUploadError ShareUploadError::payloadTooLarge(std::string item, std::int64_t size,
                                                   std::int64_t limit) {
  return ShareUploadError(PayloadTooLarge{std::move(item), size, limit});
}
ShareUploadError ShareUploadError::invalidMetadata(std::string text) {
  return ShareUploadError(InvalidMetadata{std::move(text)});
}
ShareUploadError ShareUploadError::invalidResponse() {
  return ShareUploadError(InvalidResponse{});
}
ShareUploadError ShareUploadError::cancelled() {
  return ShareUploadError(Cancelled{});
}

std::string ShareUploadError::message() const {
  return std::visit(
      Overloaded{
          [](const Unauthorized& error) { return tr("鉴权失败，需要重新登录：%@", error.text); },
          [](const QuotaExceeded& error) { return textOf(error); },
          [](const PaidPlanRequired& error) {
            return tr("%@需要 Pro 计划或更高套餐（Hobby 免费套餐不支持），服务端已拒绝本次上传。",
                      tr(displayName(error.feature)));
          },
          [](const Http& error) { return textOf(error); },
          [](const RateLimited& error) { return textOf(error); },
          [](const Transport& error) { return tr("网络错误：%@", error.text); },
          [](const Decoding& error) { return tr("解析响应失败：%@", error.text); },
          [](const PayloadTooLarge& error) { return textOf(error); },
          [](const InvalidMetadata& error) { return tr("分享参数不被接受：%@", error.text); },
          [](const InvalidResponse&) { return tr("服务器响应格式无效"); },
          [](const Cancelled&) { return tr("已取消"); },
      },
      payload_);
}

bool ShareUploadError::isRetryable() const noexcept {
  if (const auto* http = as<Http>()) return http->retryable;
  return as<RateLimited>() != nullptr || as<InvalidResponse>() != nullptr;
}

bool ShareUploadError::requiresLogin() const noexcept {
  if (const auto* quota = as<QuotaExceeded>()) return quota->loginRequired;
  return as<Unauthorized>() != nullptr;
}

std::string queueErrorText(const ShareUploadError& error) {
  const auto* quota = error.as<ShareUploadError::QuotaExceeded>();
  if (quota == nullptr) return error.message();
  if (!quota->loginRequired) return tr("分享配额已满：需要删除历史分享或升级套餐后重试");
  return trn(
      "匿名分享已达上限（%d 条）：打开 Lumo Share App 会自动刷新登录并补传；否则登录 Lumo "
      "后可继续",
      anonymousLimit(*quota));
}

}  // namespace lumo
