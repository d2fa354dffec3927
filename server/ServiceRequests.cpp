#include "ServiceRequests.hpp"

#include <algorithm>
#include <charconv>

#include "ShareApple.hpp"
#include "ShareVocabularies.hpp"

namespace lumo::service {
namespace {

constexpr std::size_t maxSlugLength = 64;
constexpr std::size_t maxDeviceNameBytes = 100;
constexpr std::size_t maxCapabilities = 32;
constexpr std::size_t maxCapabilityBytes = 64;
constexpr std::int64_t maxNoticeLimit = 200;

std::optional<std::int64_t> decimal(const std::string& text) {
  std::int64_t value = 0;
  const auto* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
}

bool isKnownPlatform(const std::string& platform) {
  namespace P = PlatformValues;
  for (const char* known : {P::windows, P::macos, P::linux, P::android, P::ios, P::web,
                            P::browserExt, P::cli, P::esp32}) {
    if (platform == known) return true;
  }
  return false;
}

}  // namespace

bool isValidSlug(std::string_view slug, std::int64_t minLength) {
  const auto isAllowed = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
  };
  return static_cast<std::int64_t>(slug.size()) >= minLength && slug.size() <= maxSlugLength &&
         std::all_of(slug.begin(), slug.end(), isAllowed);
}

std::string normalizedPairingCode(std::string_view typed) {
  std::string code;
  for (const char c : typed.substr(0, 64)) {
    if (c == ' ' || c == '-') continue;
    code += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return code;
}

std::optional<std::string> pairClaimProblem(const PairClaimRequest& request) {
  if (request.name.empty() || request.name.size() > maxDeviceNameBytes) {
    return "a device name is 1 to 100 bytes";
  }
  if (!isKnownPlatform(request.platform)) return "unknown platform " + request.platform;
  const auto& capabilities = request.capabilities;
  if (capabilities && (capabilities->size() > maxCapabilities ||
                       std::any_of(capabilities->begin(), capabilities->end(), [](const auto& c) {
                         return c.empty() || c.size() > maxCapabilityBytes;
                       }))) {
    return "at most 32 capabilities of 1 to 64 bytes";
  }
  return std::nullopt;
}

std::optional<std::string> bindRequestProblem(const BindRequest& request) {
  if (request.items.size() > ShareApple::bindMaxBatchSize) {
    return "at most " + std::to_string(ShareApple::bindMaxBatchSize) + " items per request, not " +
           std::to_string(request.items.size());
  }
  return std::nullopt;
}

std::optional<NoticeQuery> parseNoticeQuery(const std::optional<std::string>& limit,
                                            const std::optional<std::string>& since) {
  NoticeQuery query;
  if (limit) {
    const auto value = decimal(*limit);
    if (!value || *value < 1) return std::nullopt;
    query.limit = std::min(*value, maxNoticeLimit);
  }
  if (since) {
    const auto value = decimal(*since);
    if (!value || *value < 0) return std::nullopt;
    query.since = *value;
  }
  return query;
}

}  // namespace lumo::service
