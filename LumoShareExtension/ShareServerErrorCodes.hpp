#pragma once

// The service's error codes. The publishing mapping acts on the first five.
namespace lumo::ShareServerErrorCodes {
inline constexpr char featureRequiresPaidPlan[] = "FEATURE_REQUIRES_PAID_PLAN";
inline constexpr char anonQuotaExceeded[] = "ANON_QUOTA_EXCEEDED";
inline constexpr char docShareLimitReached[] = "DOC_SHARE_LIMIT_REACHED";
inline constexpr char linkLimitReached[] = "LINK_LIMIT_REACHED";
inline constexpr char authRequired[] = "AUTH_REQUIRED";
inline constexpr char validationError[] = "VALIDATION_ERROR";
inline constexpr char fileSizeExceeded[] = "FILE_SIZE_EXCEEDED";
inline constexpr char forbidden[] = "FORBIDDEN";
inline constexpr char claimInvalid[] = "CLAIM_INVALID";
inline constexpr char claimExpired[] = "CLAIM_EXPIRED";
inline constexpr char docNotFound[] = "DOC_NOT_FOUND";
inline constexpr char linkNotFound[] = "LINK_NOT_FOUND";
inline constexpr char deviceAuthRequired[] = "DEVICE_AUTH_REQUIRED";
inline constexpr char deviceNotFound[] = "DEVICE_NOT_FOUND";
inline constexpr char pairCodeNotFound[] = "PAIR_CODE_NOT_FOUND";
inline constexpr char pairCodeExpired[] = "PAIR_CODE_EXPIRED";
}  // namespace lumo::ShareServerErrorCodes

// The protocol's generic lower-case error codes; no decision of the client compares them.
namespace lumo::ErrorCodeValues {
inline constexpr char invalidRequest[] = "invalid_request";
inline constexpr char unauthorized[] = "unauthorized";
inline constexpr char forbidden[] = "forbidden";
inline constexpr char notFound[] = "not_found";
inline constexpr char expired[] = "expired";
inline constexpr char quotaExceeded[] = "quota_exceeded";
inline constexpr char payloadTooLarge[] = "payload_too_large";
inline constexpr char rateLimited[] = "rate_limited";
inline constexpr char conflict[] = "conflict";
inline constexpr char internal[] = "internal";
inline constexpr char unavailable[] = "unavailable";
}  // namespace lumo::ErrorCodeValues
