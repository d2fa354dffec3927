#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "ApiError.hpp"
#include "ShareAPIError.hpp"
#include "ShareHTTPResponse.hpp"
#include "ShareTime.hpp"
#include "ShareUploadError.hpp"

// Request conventions of the service client: reading retry hints and error bodies, and turning
// replies that are not successes into typed errors.
namespace lumo::ShareHTTP {

/// "Retry-After" in milliseconds: whole seconds ("+7", " 3 "), or an HTTP date measured from
/// `nowMs`; negative results are 0. Nothing when absent or unreadable (or beyond int64).
std::optional<std::int64_t> retryAfterMs(const ShareHTTPResponse& response,
                                         std::int64_t nowMs = currentTimeMs());

/// The service's error body ({"error": code, "message": text}) as an ApiError; nothing when the
/// body does not decode or names no code. A missing message becomes "HTTP <status>".
std::optional<ApiError> apiError(std::string_view body, int status);

/// The publishing mapping: nothing for 2xx, otherwise throws the ShareUploadError the reply
/// stands for (server codes first, then 401, 429 and the status).
void validate(std::string_view body, const ShareHTTPResponse& response,
              std::int64_t nowMs = currentTimeMs());

/// The account mapping for a reply outside 2xx.
ShareAPIError accountError(std::string_view body, int status);

/// The entitlements (plan fetch) mapping for a reply outside 2xx: always `http`, retryable for
/// 429 and 5xx.
ShareUploadError entitlementsError(std::string_view body, int status);

}  // namespace lumo::ShareHTTP
