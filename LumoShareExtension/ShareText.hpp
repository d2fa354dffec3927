#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Url.hpp"

namespace lumo {

/// A text cut to a byte budget, and whether anything was cut.
struct TruncatedText {
  std::string text;
  bool truncated = false;
  bool operator==(const TruncatedText&) const = default;
};

// Text helpers shared by intake, staging and publishing. All functions are total: any input,
// ill-formed UTF-8 included, gives a documented result.
namespace ShareText {

/// The first line of `from` with visible characters, trimmed of blanks and cut to
/// `maxCharacters`; else `fallback` cut the same way when it is not empty; else nothing.
std::optional<std::string> title(const std::optional<std::string>& from,
                                 const std::optional<std::string>& fallback,
                                 std::size_t maxCharacters);

/// `text` cut to at most `maxBytes` UTF-8 bytes without splitting a character, with "…" when
/// `ellipsis` is set (a budget under 4 bytes then gives "…" alone). Ill-formed sequences are
/// first replaced by U+FFFD so that the budget holds for what is returned.
TruncatedText truncateUTF8(std::string_view text, std::int64_t maxBytes, bool ellipsis);

/// A file name that is safe to create in a staging folder: the last path component, each
/// forbidden character (/ \ : ? % * | " < > and control or format characters) turned into "-",
/// "share" when nothing usable is left, at most 120 characters, and `fallbackExtension` appended
/// when the name has no extension.
std::string safeFileName(std::string_view name,
                         const std::optional<std::string>& fallbackExtension = std::nullopt);

/// The extension of a file name: the text after the last "." of its last component. A name
/// whose only dot is its first character (".bashrc") or its last has none.
std::string_view pathExtension(std::string_view name);

/// `name` cut to at most `maxBytes` UTF-8 bytes without splitting a character, shortening the
/// part before the extension so that the extension stays (unless it alone is half the budget).
std::string fitFileName(std::string_view name, std::size_t maxBytes);

/// The http or https link with a host that `text` consists of, trimmed; nothing when the text
/// holds white space, is no valid URL, or has another scheme.
std::optional<Url> singleURL(std::string_view text);

/// Whether the chat transcript parser recognises `text` (with no source application).
bool looksLikeChatTranscript(std::string_view text);

/// `text` cut to its first `maxCharacters` user-perceived characters.
std::string clamp(std::string_view text, std::size_t maxCharacters);

}  // namespace ShareText
}  // namespace lumo
