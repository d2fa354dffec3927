#include "ShareText.hpp"

#include <unicode/uchar.h>

#include <algorithm>

#include "ChatTranscriptParser.hpp"
#include "UnicodeText.hpp"

namespace lumo::ShareText {
namespace {

constexpr std::string_view ellipsisText = "\u2026";
constexpr std::size_t maxFileNameCharacters = 120;

bool isContinuationByte(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

bool isForbiddenInFileName(char32_t scalar) {
  static constexpr std::u32string_view forbidden = U"/\\:?%*|\"<>";
  if (forbidden.find(scalar) != std::u32string_view::npos) return true;
  const auto category = u_charType(static_cast<UChar32>(scalar));
  return category == U_CONTROL_CHAR || category == U_FORMAT_CHAR;
}

std::string replacingForbidden(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  UnicodeText::forEachScalar(text, [&](char32_t scalar, std::size_t offset, std::size_t length) {
    if (isForbiddenInFileName(scalar)) {
      result += '-';
    } else {
      result.append(text.data() + offset, length);
    }
  });
  return result;
}

std::string_view lastPathComponent(std::string_view path) {
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  const auto slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string_view pathExtension(std::string_view name) {
  name = lastPathComponent(name);
  const auto dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) return {};
  return name.substr(dot + 1);
}

std::string fitFileName(std::string_view name, std::size_t maxBytes) {
  if (name.size() <= maxBytes) return std::string(name);
  const auto extension = pathExtension(name);
  const auto suffixBytes = extension.empty() ? 0 : extension.size() + 1;
  if (suffixBytes >= maxBytes / 2)
    return std::string(UnicodeText::prefixFittingBytes(name, maxBytes));
  const auto stem = name.substr(0, name.size() - suffixBytes);
  return std::string(UnicodeText::prefixFittingBytes(stem, maxBytes - suffixBytes)) +
         std::string(name.substr(name.size() - suffixBytes));
}

std::optional<std::string> title(const std::optional<std::string>& from,
                                 const std::optional<std::string>& fallback,
                                 std::size_t maxCharacters) {
  if (from) {
    for (const auto line : UnicodeText::lines(*from)) {
      const auto visible = UnicodeText::trimmedBlanks(line);
      if (!visible.empty()) return clamp(visible, maxCharacters);
    }
  }
  if (fallback && !fallback->empty()) return clamp(*fallback, maxCharacters);
  return std::nullopt;
}

TruncatedText truncateUTF8(std::string_view text, std::int64_t maxBytes, bool ellipsis) {
  if (maxBytes <= 0) return {"", !text.empty()};
  auto valid = UnicodeText::wellFormed(text);
  if (static_cast<std::uint64_t>(valid.size()) <= static_cast<std::uint64_t>(maxBytes)) {
    return {std::move(valid), false};
  }
  auto cut = static_cast<std::size_t>(std::max<std::int64_t>(
      ellipsis ? maxBytes - std::int64_t(ellipsisText.size()) : maxBytes, 0));
  while (cut > 0 && isContinuationByte(valid[cut])) --cut;
  valid.resize(cut);
  if (ellipsis) valid += ellipsisText;
  return {std::move(valid), true};
}

std::string safeFileName(std::string_view name,
                         const std::optional<std::string>& fallbackExtension) {
  const auto wellFormedName = UnicodeText::wellFormed(UnicodeText::trimmed(name));
  auto result = replacingForbidden(lastPathComponent(wellFormedName));
  if (result.empty() || result == "." || result == "..") result = "share";
  if (UnicodeText::characterCount(result) > maxFileNameCharacters) {
    result = std::string(UnicodeText::prefixCharacters(result, maxFileNameCharacters));
  }
  if (fallbackExtension && !fallbackExtension->empty() && pathExtension(result).empty()) {
    result += '.' + replacingForbidden(UnicodeText::wellFormed(*fallbackExtension));
  }
  return result;
}

std::optional<Url> singleURL(std::string_view text) {
  const auto candidate = UnicodeText::trimmed(text);
  bool hasWhiteSpace = false;
  UnicodeText::forEachScalar(candidate, [&](char32_t scalar, std::size_t, std::size_t) {
    hasWhiteSpace = hasWhiteSpace || UnicodeText::isWhiteSpace(scalar);
  });
  if (hasWhiteSpace) return std::nullopt;
  auto url = Url::parseEncodingNonASCII(candidate);
  if (!url) return std::nullopt;
  const auto scheme = UnicodeText::lowercased(url->scheme());
  if (scheme != "http" && scheme != "https") return std::nullopt;
  if (!url->host()) return std::nullopt;
  return url;
}

bool looksLikeChatTranscript(std::string_view text) {
  return ChatTranscriptParser::parse(text, std::nullopt).has_value();
}

std::string clamp(std::string_view text, std::size_t maxCharacters) {
  return std::string(UnicodeText::prefixCharacters(text, maxCharacters));
}

}  // namespace lumo::ShareText
