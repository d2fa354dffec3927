#include "TokenImport.hpp"

#include <openssl/evp.h>

#include <cmath>
#include <limits>
#include <vector>

#include "ShareJSON.hpp"
#include "UnicodeText.hpp"
#include "Url.hpp"

namespace lumo::TokenImport {
namespace {

constexpr std::string_view callbackPrefix = "lumoshare://auth?";

std::vector<std::string_view> nonEmptyPieces(std::string_view text) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  while (start <= text.size()) {
    const auto dot = text.find('.', start);
    const auto end = dot == std::string_view::npos ? text.size() : dot;
    if (end > start) pieces.push_back(text.substr(start, end - start));
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return pieces;
}

/// Standard Base64 through OpenSSL; nothing when the text is not valid Base64.
std::optional<std::string> base64Decoded(const std::string& text) {
  if (text.size() % 4 != 0 ||
      text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    return std::nullopt;
  }
  std::string bytes(text.size() / 4 * 3, '\0');
  const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                     reinterpret_cast<const unsigned char*>(text.data()),
                                     static_cast<int>(text.size()));
  if (length < 0) return std::nullopt;
  // EVP_DecodeBlock counts the bytes that padding stands for; drop them.
  std::size_t padding = 0;
  for (auto index = text.size(); index > 0 && text[index - 1] == '='; --index) ++padding;
  bytes.resize(static_cast<std::size_t>(length) -
               std::min<std::size_t>(padding, static_cast<std::size_t>(length)));
  return bytes;
}

std::optional<std::string> firstNonEmptyText(const JSONValue& object,
                                             std::initializer_list<const char*> keys) {
  for (const auto* key : keys) {
    const auto found = object.find(key);
    if (found != object.end() && found->is_string() && !found->get<std::string>().empty()) {
      return found->get<std::string>();
    }
  }
  return std::nullopt;
}

std::optional<std::string> firstText(const JSONValue& object,
                                     std::initializer_list<const char*> keys) {
  for (const auto* key : keys) {
    const auto found = object.find(key);
    if (found != object.end() && found->is_string()) return found->get<std::string>();
  }
  return std::nullopt;
}

/// Seconds (possibly fractional) as milliseconds, when finite and within int64.
std::optional<std::int64_t> secondsToMs(const JSONValue& value) {
  if (!value.is_number()) return std::nullopt;
  const double ms = std::trunc(value.get<double>() * 1000.0);
  if (!std::isfinite(ms) || std::fabs(ms) >= 9.2e18) return std::nullopt;
  return static_cast<std::int64_t>(ms);
}

ShareToken makeToken(std::string accessToken, std::optional<std::string> refreshToken,
                     std::optional<std::int64_t> expiresAt, const ShareClock& now) {
  const auto claims = jwtClaims(accessToken);
  if (!expiresAt) {
    if (const auto exp = claims.find("exp"); exp != claims.end()) expiresAt = secondsToMs(*exp);
  }
  std::optional<std::string> userId;
  if (const auto sub = claims.find("sub"); sub != claims.end() && sub->is_string()) {
    userId = sub->get<std::string>();
  }
  return ShareToken{std::move(accessToken), std::move(refreshToken), expiresAt, std::move(userId),
                    now()};
}

std::optional<ShareToken> fromJSONObject(const JSONValue& object, const ShareClock& now) {
  auto access = firstNonEmptyText(object, {"access_token", "accessToken", "token"});
  if (!access) return std::nullopt;
  std::optional<std::int64_t> expiresAt;
  if (const auto expiresIn = object.find("expires_in"); expiresIn != object.end()) {
    if (const auto ms = secondsToMs(*expiresIn)) {
      std::int64_t sum = 0;
      if (!__builtin_add_overflow(now(), *ms, &sum)) expiresAt = sum;
    }
  }
  return makeToken(*std::move(access), firstText(object, {"refresh_token", "refreshToken"}),
                   expiresAt, now);
}

}  // namespace

JSONValue jwtClaims(std::string_view token) {
  const auto pieces = nonEmptyPieces(token);
  if (pieces.size() != 3) return JSONValue::object();
  std::string payload(pieces[1]);
  for (auto& character : payload) {
    if (character == '-') character = '+';
    if (character == '_') character = '/';
  }
  while (payload.size() % 4 != 0) payload += '=';
  const auto bytes = base64Decoded(payload);
  if (!bytes) return JSONValue::object();
  try {
    auto claims = ShareJSONDecoder::parse(*bytes);
    return claims.is_object() ? claims : JSONValue::object();
  } catch (const ShareJSONError&) {
    return JSONValue::object();
  }
}

std::optional<ShareToken> parse(std::string_view text, const ShareClock& now) {
  const auto trimmed = UnicodeText::trimmed(text);
  if (trimmed.empty()) return std::nullopt;
  if (trimmed.front() == '{') {
    try {
      const auto object = ShareJSONDecoder::parse(trimmed);
      if (object.is_object()) return fromJSONObject(object, now);
    } catch (const ShareJSONError&) {
      // not JSON after all: maybe a token
    }
  }
  if (nonEmptyPieces(trimmed).size() == 3) {
    return makeToken(std::string(trimmed), std::nullopt, std::nullopt, now);
  }
  return std::nullopt;
}

std::optional<ShareToken> token(std::string_view fromCallbackURL, const ShareClock& now) {
  if (fromCallbackURL.substr(0, callbackPrefix.size()) != callbackPrefix) return std::nullopt;
  const auto url = Url::parse(fromCallbackURL);
  if (!url) return std::nullopt;
  auto items = JSONValue::object();
  for (const auto& item : url->queryItems()) {
    if (item.value && !items.contains(item.name)) items[item.name] = *item.value;
  }
  auto access = firstNonEmptyText(items, {"access_token", "accessToken", "token"});
  if (!access) return std::nullopt;
  return makeToken(*std::move(access), firstText(items, {"refresh_token", "refreshToken"}),
                   std::nullopt, now);
}

std::optional<ShareToken> anyForm(std::string_view text, const ShareClock& now) {
  const auto trimmed = UnicodeText::trimmed(text);
  return trimmed.rfind("lumoshare://", 0) == 0 ? token(trimmed, now) : parse(trimmed, now);
}

}  // namespace lumo::TokenImport
