#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <variant>

#include "PaidPlanFeature.hpp"

namespace lumo {

/// The error of everything that publishes content. `message` is the text the panel shows;
/// `queueErrorText` the one the queue stores. Each case carries its own payload record, so that
/// a value of one case can never be read as another's (`as<Case>()` answers nothing then).
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

  struct Unauthorized {
    std::string text;  ///< the server's message, or "HTTP " and the status
    bool operator==(const Unauthorized&) const = default;
  };
  struct QuotaExceeded {
    std::optional<std::int64_t> activeLimit;
    bool loginRequired = false;
    bool operator==(const QuotaExceeded&) const = default;
  };
  struct PaidPlanRequired {
    PaidPlanFeature feature = PaidPlanFeature::unknown;
    bool operator==(const PaidPlanRequired&) const = default;
  };
  struct Http {
    int status = 0;
    std::optional<std::string> code;
    bool retryable = false;
    bool operator==(const Http&) const = default;
  };
  struct RateLimited {
    std::optional<std::int64_t> retryAfterMs;
    bool operator==(const RateLimited&) const = default;
  };
  struct Transport {
    std::string text;
    bool operator==(const Transport&) const = default;
  };
  struct Decoding {
    std::string text;
    bool operator==(const Decoding&) const = default;
  };
  struct PayloadTooLarge {
    std::string item;
    std::int64_t size = 0;
    std::int64_t limit = 0;
    bool operator==(const PayloadTooLarge&) const = default;
  };
  struct InvalidMetadata {
    std::string text;
    bool operator==(const InvalidMetadata&) const = default;
  };
  struct InvalidResponse {
    bool operator==(const InvalidResponse&) const = default;
  };
  struct Cancelled {
    bool operator==(const Cancelled&) const = default;
  };
  /// The cases, in the order of `Kind`.
  using Payload =
      std::variant<Unauthorized, QuotaExceeded, PaidPlanRequired, Http, RateLimited, Transport,
                   Decoding, PayloadTooLarge, InvalidMetadata, InvalidResponse, Cancelled>;

  /// Longest decoding description kept: the decoder may quote a whole hostile reply.
  static constexpr std::size_t maxDecodingTextBytes = 300;

  static ShareUploadError unauthorized(std::string text);
  static ShareUploadError quotaExceeded(std::optional<std::int64_t> activeLimit,
                                        bool loginRequired);
  static ShareUploadError paidPlanRequired(PaidPlanFeature feature);
  static ShareUploadError http(int status, std::optional<std::string> code, bool retryable);
  static ShareUploadError rateLimited(std::optional<std::int64_t> retryAfterMs);
  static ShareUploadError transport(std::string text);
  /// The description is made valid UTF-8 and cut to `maxDecodingTextBytes` (with "…").
  static ShareUploadError decoding(std::string_view text);
  static ShareUploadError payloadTooLarge(std::string item, std::int64_t size, std::int64_t limit);
  static ShareUploadError invalidMetadata(std::string text);
  static ShareUploadError invalidResponse();
  static ShareUploadError cancelled();

  Kind kind() const noexcept { return static_cast<Kind>(payload_.index()); }
  const Payload& payload() const noexcept { return payload_; }
  /// The payload of case `Case`; nothing when the error is of another case.
  template <class Case>
  const Case* as() const noexcept {
    return std::get_if<Case>(&payload_);
  }

  /// The user text.
  std::string message() const;
  /// Worth another attempt: `http` marked retryable, `rateLimited`, `invalidResponse`.
  bool isRetryable() const noexcept;
  /// The user must sign in: `unauthorized`, and `quotaExceeded` with `loginRequired`.
  bool requiresLogin() const noexcept;
  const char* what() const noexcept override { return what_.c_str(); }

  bool operator==(const ShareUploadError& other) const { return payload_ == other.payload_; }

 private:
  explicit ShareUploadError(Payload payload);

  Payload payload_;
  std::string what_;
};

/// The wording the pending queue stores for an error: the user text, shortened for quotas.
std::string queueErrorText(const ShareUploadError& error);

}  // namespace lumo
