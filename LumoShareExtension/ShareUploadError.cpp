#include "ShareUploadError.hpp"

#include <fmt/format.h>

namespace lumo {
namespace {

constexpr std::int64_t anonymousFileLimitBytes = 10485760;
constexpr std::int64_t defaultAnonymousActiveLimit = 5;

/// Bytes as mebibytes with one decimal and a full stop, whatever the locale.
std::string mebibytes(std::int64_t bytes) {
  return fmt::format("{:.1f}", static_cast<double>(bytes) / 1024.0 / 1024.0);
}

std::string payloadTooLargeText(const std::string& item, std::int64_t size, std::int64_t limit) {
  const auto head = "「" + item + "」" + mebibytes(size);
  if (limit == anonymousFileLimitBytes) {
    return head + " MB，超过匿名分享单文件上限 " + mebibytes(limit) +
           " MB：登录 Lumo 后可继续上传。";
  }
  return head + " MB，超过单次分享上限 " + mebibytes(limit) +
         " MB（应用包会先压缩，仍然过大请拆分后分享）。";
}

}  // namespace

ShareUploadError ShareUploadError::unauthorized(std::string text) {
  ShareUploadError error(Kind::unauthorized);
  error.text_ = std::move(text);
  return error.finished();
}
ShareUploadError ShareUploadError::quotaExceeded(std::optional<std::int64_t> activeLimit,
                                                 bool loginRequired) {
  ShareUploadError error(Kind::quotaExceeded);
  error.number_ = activeLimit;
  error.flag_ = loginRequired;
  return error.finished();
}
ShareUploadError ShareUploadError::paidPlanRequired(PaidPlanFeature feature) {
  ShareUploadError error(Kind::paidPlanRequired);
  error.feature_ = feature;
  return error.finished();
}
ShareUploadError ShareUploadError::http(int status, std::optional<std::string> code,
                                        bool retryable) {
  ShareUploadError error(Kind::http);
  error.status_ = status;
  error.code_ = std::move(code);
  error.flag_ = retryable;
  return error.finished();
}
ShareUploadError ShareUploadError::rateLimited(std::optional<std::int64_t> retryAfterMs) {
  ShareUploadError error(Kind::rateLimited);
  error.number_ = retryAfterMs;
  return error.finished();
}
ShareUploadError ShareUploadError::transport(std::string text) {
  ShareUploadError error(Kind::transport);
  error.text_ = std::move(text);
  return error.finished();
}
ShareUploadError ShareUploadError::decoding(std::string text) {
  ShareUploadError error(Kind::decoding);
  error.text_ = std::move(text);
  return error.finished();
}
ShareUploadError ShareUploadError::payloadTooLarge(std::string item, std::int64_t size,
                                                   std::int64_t limit) {
  ShareUploadError error(Kind::payloadTooLarge);
  error.text_ = std::move(item);
  error.size_ = size;
  error.limit_ = limit;
  return error.finished();
}
ShareUploadError ShareUploadError::invalidMetadata(std::string text) {
  ShareUploadError error(Kind::invalidMetadata);
  error.text_ = std::move(text);
  return error.finished();
}
ShareUploadError ShareUploadError::invalidResponse() {
  return ShareUploadError(Kind::invalidResponse).finished();
}
ShareUploadError ShareUploadError::cancelled() {
  return ShareUploadError(Kind::cancelled).finished();
}

ShareUploadError& ShareUploadError::finished() {
  what_ = message();
  return *this;
}

std::string ShareUploadError::message() const {
  switch (kind_) {
    case Kind::unauthorized:
      return "鉴权失败，需要重新登录：" + text_;
    case Kind::quotaExceeded:
      if (!flag_)
        return "分享数量已达上限：请升级套餐或删除部分历史分享后重试。内容已保留在本地队列。";
      return "匿名分享已达上限（最多 " +
             std::to_string(number_.value_or(defaultAnonymousActiveLimit)) +
             " 条 / 24 小时）：如果 App 里已登录，说明登录状态还没同步到分享扩展——打开 Lumo Share "
             "App "
             "会自动刷新并补传这条内容；否则请登录 Lumo 后再发送。内容已保留在本地队列。";
    case Kind::paidPlanRequired:
      return std::string(displayName(feature_)) +
             "需要 Pro 计划或更高套餐（Hobby 免费套餐不支持），服务端已拒绝本次上传。";
    case Kind::http:
      return "HTTP " + std::to_string(status_) + (code_ ? " · " + *code_ : "");
    case Kind::rateLimited:
      return number_ ? "被限流，建议 " + std::to_string(*number_ / 1000) + "s 后重试" : "被限流";
    case Kind::transport:
      return "网络错误：" + text_;
    case Kind::decoding:
      return "解析响应失败：" + text_;
    case Kind::payloadTooLarge:
      return payloadTooLargeText(text_, size_, limit_);
    case Kind::invalidMetadata:
      return "分享参数不被接受：" + text_;
    case Kind::invalidResponse:
      return "服务器响应格式无效";
    case Kind::cancelled:
      return "已取消";
  }
  return {};
}

bool ShareUploadError::isRetryable() const noexcept {
  return (kind_ == Kind::http && flag_) || kind_ == Kind::rateLimited ||
         kind_ == Kind::invalidResponse;
}

bool ShareUploadError::requiresLogin() const noexcept {
  return kind_ == Kind::unauthorized || (kind_ == Kind::quotaExceeded && flag_);
}

bool ShareUploadError::operator==(const ShareUploadError& other) const {
  return kind_ == other.kind_ && text_ == other.text_ && number_ == other.number_ &&
         flag_ == other.flag_ && feature_ == other.feature_ && status_ == other.status_ &&
         code_ == other.code_ && size_ == other.size_ && limit_ == other.limit_;
}

std::string queueErrorText(const ShareUploadError& error) {
  if (error.kind() != ShareUploadError::Kind::quotaExceeded) return error.message();
  if (!error.loginRequired()) return "分享配额已满：需要删除历史分享或升级套餐后重试";
  return "匿名分享已达上限（" +
         std::to_string(error.activeLimit().value_or(defaultAnonymousActiveLimit)) +
         " 条）：打开 Lumo Share App 会自动刷新登录并补传；否则登录 Lumo 后可继续";
}

}  // namespace lumo
