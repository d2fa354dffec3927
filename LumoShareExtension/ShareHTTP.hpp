#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "ApiError.hpp"
#include "ShareAPIError.hpp"
#include "ShareHTTPRequest.hpp"
#include "ShareHTTPResponse.hpp"
#include "ShareJSON.hpp"
#include "ShareTime.hpp"
#include "ShareUploadError.hpp"

// Request conventions of the service client: endpoints, the headers every request carries,
// decoding replies, reading retry hints and error bodies, and turning replies that are not
// successes into typed errors.
namespace lumo::ShareHTTP {

/// `path` joined onto the API base: each non-empty piece between slashes becomes one escaped
/// path component, so "/devices//notices/" and "devices/notices" give the same URL.
Url endpoint(const Url& base, std::string_view path);

/// A request with the service's conventions: the 60-second time-out, "Authorization: Bearer"
/// for a non-empty token, "Accept: application/json", the body and its "Content-Type", then
/// `extraHeaders`, which replace any of those of the same name. The client's "User-Agent" is the
/// session's (ShareCurlSession::Configuration::userAgent), unless `extraHeaders` names one.
ShareHTTPRequest makeRequest(const Url& url, std::string method,
                             const std::optional<std::string>& token = std::nullopt,
                             std::optional<std::string> body = std::nullopt,
                             const std::optional<std::string>& contentType = std::nullopt,
                             const std::map<std::string, std::string>& extraHeaders = {});

/// A reply body decoded as `T`; any failure throws ShareUploadError::decoding with the
/// decoder's full description.
template <class T>
T decode(std::string_view bytes) {
  try {
    return ShareJSON::decoder().decode<T>(bytes);
  } catch (const ShareJSONError& error) {
    throw ShareUploadError::decoding(error.what());
  }
}

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
