#include "ShareUploadError.hpp"

#include <fmt/format.h>

#include "ShareApple.hpp"
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

std::string textOf(const Error::QuotaExceeded& quota) {
  if (!quota.loginRequired)
    return "分享数量已达上限：请升级套餐或删除部分历史分享后重试。内容已保留在本地队列。";
  return "匿名分享已达上限（最多 " +
         std::to_string(quota.activeLimit.value_or(ShareApple::anonymousActiveLimit)) +
         " 条 / 24 小时）：如果 App 里已登录，说明登录状态还没同步到分享扩展——打开 Lumo Share "
         "App 会自动刷新并补传这条内容；否则请登录 Lumo 后再发送。内容已保留在本地队列。";
}

std::string textOf(const Error::PayloadTooLarge& payload) {
  const auto head = "「" + payload.item + "」" + mebibytes(payload.size);
  if (payload.limit == ShareApple::anonymousMaxFileBytes) {
    return head + " MB，超过匿名分享单文件上限 " + mebibytes(payload.limit) +
           " MB：登录 Lumo 后可继续上传。";
  }
  return head + " MB，超过单次分享上限 " + mebibytes(payload.limit) +
         " MB（应用包会先压缩，仍然过大请拆分后分享）。";
}

std::string textOf(const Error::Http& http) {
  return "HTTP " + std::to_string(http.status) + (http.code ? " · " + *http.code : "");
}

std::string textOf(const Error::RateLimited& limited) {
  if (!limited.retryAfterMs) return "被限流";
  return "被限流，建议 " + std::to_string(*limited.retryAfterMs / 1000) + "s 后重试";
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
          [](const Unauthorized& error) { return "鉴权失败，需要重新登录：" + error.text; },
          [](const QuotaExceeded& error) { return textOf(error); },
          [](const PaidPlanRequired& error) {
            return std::string(displayName(error.feature)) +
                   "需要 Pro 计划或更高套餐（Hobby 免费套餐不支持），服务端已拒绝本次上传。";
          },
          [](const Http& error) { return textOf(error); },
          [](const RateLimited& error) { return textOf(error); },
          [](const Transport& error) { return "网络错误：" + error.text; },
          [](const Decoding& error) { return "解析响应失败：" + error.text; },
          [](const PayloadTooLarge& error) { return textOf(error); },
          [](const InvalidMetadata& error) { return "分享参数不被接受：" + error.text; },
          [](const InvalidResponse&) { return std::string("服务器响应格式无效"); },
          [](const Cancelled&) { return std::string("已取消"); },
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
  if (!quota->loginRequired) return "分享配额已满：需要删除历史分享或升级套餐后重试";
  return "匿名分享已达上限（" +
         std::to_string(quota->activeLimit.value_or(ShareApple::anonymousActiveLimit)) +
         " 条）：打开 Lumo Share App 会自动刷新登录并补传；否则登录 Lumo 后可继续";
}

}  // namespace lumo
