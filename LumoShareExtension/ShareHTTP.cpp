#include "ShareHTTP.hpp"

#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>

#include "ShareJSON.hpp"
#include "ShareServerErrorCodes.hpp"

namespace lumo::ShareHTTP {
namespace {

/// A signed decimal integer that fits int64, else nothing.
std::optional<std::int64_t> decimalInteger(std::string_view text) {
  const auto digits = text.substr(!text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos)
    return std::nullopt;
  const std::string copy(text);
  errno = 0;
  const long long value = std::strtoll(copy.c_str(), nullptr, 10);
  if (errno == ERANGE) return std::nullopt;
  return value;
}

/// An HTTP date ("Wed, 21 Oct 2015 07:28:00 GMT") in epoch milliseconds.
std::optional<double> httpDateMs(std::string_view text) {
  thread_local std::unique_ptr<icu::SimpleDateFormat> format = [] {
    UErrorCode status = U_ZERO_ERROR;
    auto created = std::make_unique<icu::SimpleDateFormat>(
        icu::UnicodeString::fromUTF8("EEE, dd MMM yyyy HH:mm:ss zzz"), icu::Locale("en_US_POSIX"),
        status);
    if (U_FAILURE(status)) return std::unique_ptr<icu::SimpleDateFormat>();
    created->adoptTimeZone(icu::TimeZone::createTimeZone("GMT"));
    created->setLenient(false);
    return created;
  }();
  if (!format) return std::nullopt;
  const auto input = icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  icu::ParsePosition position(0);
  const UDate date = format->parse(input, position);
  if (position.getIndex() != input.length() || position.getErrorIndex() >= 0) return std::nullopt;
  return date;
}

/// The service's error body as it is read: both keys optional, other keys ignored.
struct WireError {
  std::optional<std::string> error;
  std::optional<std::string> message;

  static WireError decode(const JSONObjectReader& reader) {
    return {reader.optional<std::string>("error"), reader.optional<std::string>("message")};
  }
};

}  // namespace

Url endpoint(const Url& base, std::string_view path) {
  Url url = base;
  std::size_t start = 0;
  while (start <= path.size()) {
    const auto end = std::min(path.find('/', start), path.size());
    if (end > start) url = url.appendingPathComponent(path.substr(start, end - start));
    start = end + 1;
  }
  return url;
}

ShareHTTPRequest makeRequest(const Url& url, std::string method,
                             const std::optional<std::string>& token,
                             std::optional<std::string> body,
                             const std::optional<std::string>& contentType,
                             const std::map<std::string, std::string>& extraHeaders) {
  ShareHTTPRequest request(url);
  request.method = std::move(method);
  request.timeout = ShareHTTPRequest::defaultTimeout;
  if (token && !token->empty()) request.setValue("Bearer " + *token, "Authorization");
  request.setValue("application/json", "Accept");
  request.body = std::move(body);
  if (contentType) request.setValue(*contentType, "Content-Type");
  for (const auto& [name, value] : extraHeaders) request.setValue(value, name);
  return request;
}

std::optional<std::int64_t> retryAfterMs(const ShareHTTPResponse& response, std::int64_t nowMs) {
  const auto header = response.value("Retry-After");
  if (!header) return std::nullopt;
  const auto text = trimmedFieldValue(*header);
  if (text.empty()) return std::nullopt;
  if (const auto seconds = decimalInteger(text)) {
    std::int64_t ms = 0;
    if (__builtin_mul_overflow(*seconds, std::int64_t{1000}, &ms)) return std::nullopt;
    return std::max<std::int64_t>(ms, 0);
  }
  const auto date = httpDateMs(text);
  if (!date) return std::nullopt;
  const double distance = std::trunc(*date - static_cast<double>(nowMs));
  // Beyond int64 (or no number at all): no usable hint. Any past date, however far, is 0.
  if (!(distance < 9.2e18)) return std::nullopt;
  return distance > 0 ? static_cast<std::int64_t>(distance) : 0;
}

std::optional<ApiError> apiError(std::string_view body, int status) {
  WireError wire;
  try {
    wire = ShareJSON::decoder().decode<WireError>(body);
  } catch (const ShareJSONError&) {
    return std::nullopt;  // not an object, or "error" or "message" of another type
  }
  if (!wire.error) return std::nullopt;
  return ApiError{*wire.error, wire.message.value_or("HTTP " + std::to_string(status)),
                  std::nullopt, std::nullopt};
}

void validate(std::string_view body, const ShareHTTPResponse& response, std::int64_t nowMs) {
  const int status = response.status;
  if (status >= 200 && status <= 299) return;
  const auto record = apiError(body, status);
  std::optional<std::string> code;
  if (!record) {
    if (status == 401) throw ShareUploadError::unauthorized("HTTP " + std::to_string(status));
  } else {
    namespace Codes = ShareServerErrorCodes;
    if (record->code == Codes::featureRequiresPaidPlan) {
      throw ShareUploadError::paidPlanRequired(paidPlanFeature(record->message));
    }
    if (record->code == Codes::anonQuotaExceeded) throw ShareUploadError::quotaExceeded(5, true);
    if (record->code == Codes::docShareLimitReached || record->code == Codes::linkLimitReached) {
      throw ShareUploadError::quotaExceeded(std::nullopt, false);
    }
    if (record->code == Codes::authRequired || status == 401)
      throw ShareUploadError::unauthorized(record->message);
    code = record->code;
  }
  if (status == 429) throw ShareUploadError::rateLimited(retryAfterMs(response, nowMs));
  throw ShareUploadError::http(status, code, status >= 500);
}

ShareAPIError accountError(std::string_view body, int status) {
  if (const auto record = apiError(body, status))
    return ShareAPIError(status, record->code, record->message);
  return ShareAPIError(status, "http_" + std::to_string(status), "HTTP " + std::to_string(status));
}

ShareUploadError entitlementsError(std::string_view body, int status) {
  const auto record = apiError(body, status);
  return ShareUploadError::http(status, record ? std::optional(record->code) : std::nullopt,
                                status == 429 || status >= 500);
}

}  // namespace lumo::ShareHTTP
