#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>

#include "PaidPlanFeature.hpp"

namespace lumo {

/// The error of everything that publishes content. `message` is the text the panel shows;
/// `queueErrorText` the one the queue stores.
class ShareUploadError : public std::exception {
 public:
  enum class Kind {
    unauthorized,
    quotaExceeded,
    paidPlanRequired,
    http,
    rateLimited,
    transport,
    decoding,
    payloadTooLarge,
    invalidMetadata,
    invalidResponse,
    cancelled,
  };

  static ShareUploadError unauthorized(std::string text);
  static ShareUploadError quotaExceeded(std::optional<std::int64_t> activeLimit,
                                        bool loginRequired);
  static ShareUploadError paidPlanRequired(PaidPlanFeature feature);
  static ShareUploadError http(int status, std::optional<std::string> code, bool retryable);
  static ShareUploadError rateLimited(std::optional<std::int64_t> retryAfterMs);
  static ShareUploadError transport(std::string text);
  static ShareUploadError decoding(std::string text);
  static ShareUploadError payloadTooLarge(std::string item, std::int64_t size, std::int64_t limit);
  static ShareUploadError invalidMetadata(std::string text);
  static ShareUploadError invalidResponse();
  static ShareUploadError cancelled();

  Kind kind() const noexcept { return kind_; }
  /// The text of `unauthorized`, `transport`, `decoding`, `invalidMetadata`; the item of
  /// `payloadTooLarge`.
  const std::string& text() const noexcept { return text_; }
  const std::optional<std::int64_t>& activeLimit() const noexcept { return number_; }
  const std::optional<std::int64_t>& retryAfterMs() const noexcept { return number_; }
  bool loginRequired() const noexcept { return flag_; }
  bool retryable() const noexcept { return flag_; }
  PaidPlanFeature feature() const noexcept { return feature_; }
  int status() const noexcept { return status_; }
  const std::optional<std::string>& code() const noexcept { return code_; }
  std::int64_t size() const noexcept { return size_; }
  std::int64_t limit() const noexcept { return limit_; }

  /// The user text.
  std::string message() const;
  /// Worth another attempt: `http` marked retryable, `rateLimited`, `invalidResponse`.
  bool isRetryable() const noexcept;
  /// The user must sign in: `unauthorized`, and `quotaExceeded` with `loginRequired`.
  bool requiresLogin() const noexcept;
  const char* what() const noexcept override { return what_.c_str(); }

  bool operator==(const ShareUploadError& other) const;

 private:
  explicit ShareUploadError(Kind kind) : kind_(kind) {}
  ShareUploadError& finished();

  Kind kind_;
  std::string text_;
  std::optional<std::int64_t> number_;
  bool flag_ = false;
  PaidPlanFeature feature_ = PaidPlanFeature::unknown;
  int status_ = 0;
  std::optional<std::string> code_;
  std::int64_t size_ = 0;
  std::int64_t limit_ = 0;
  std::string what_;
};

/// The wording the pending queue stores for an error: the user text, shortened for quotas.
std::string queueErrorText(const ShareUploadError& error);

}  // namespace lumo
