#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Unicode text helpers over UTF-8 strings, built on ICU. Every function is total: ill-formed
// UTF-8 never throws; ill-formed bytes count as ordinary (non-blank) characters and are kept.
namespace lumo::UnicodeText {

/// Blank: a space separator (Unicode Zs) or a horizontal tab.
bool isBlank(char32_t scalar);

/// Line break: U+000A to U+000D, U+0085, U+2028, U+2029.
bool isLineBreak(char32_t scalar);

/// `text` without blanks and line breaks at either end.
std::string_view trimmed(std::string_view text);

/// `text` without blanks at either end; line breaks stay.
std::string_view trimmedBlanks(std::string_view text);

/// Number of user-perceived characters (extended grapheme clusters).
std::size_t characterCount(std::string_view text);

/// The first `count` user-perceived characters of `text` (all of it when it is shorter).
std::string_view prefixCharacters(std::string_view text, std::size_t count);

/// The longest prefix of whole user-perceived characters that fits `maxBytes` bytes.
std::string_view prefixFittingBytes(std::string_view text, std::size_t maxBytes);

/// The lines of `text`, split at every line break (see `isLineBreak`); breaks are not kept. A
/// text without breaks is one line; an empty text is one empty line.
std::vector<std::string_view> lines(std::string_view text);

/// `text` as well-formed UTF-8: each ill-formed sequence becomes U+FFFD.
std::string wellFormed(std::string_view text);

/// Unicode White_Space property (blanks, line breaks and a few more).
bool isWhiteSpace(char32_t scalar);

/// Calls `visit(scalar, byteOffset, byteLength)` for every scalar of `text`; an ill-formed
/// sequence is reported as U+FFFD with its own length.
template <class Visitor>
void forEachScalar(std::string_view text, Visitor visit);

/// Locale-independent full Unicode lower-casing.
std::string lowercased(std::string_view text);

namespace detail {
/// Decodes the scalar at `offset`; sets `length` to its byte count. U+FFFD when ill-formed.
char32_t scalarAt(std::string_view text, std::size_t offset, std::size_t& length);
}  // namespace detail

template <class Visitor>
void forEachScalar(std::string_view text, Visitor visit) {
  std::size_t offset = 0;
  while (offset < text.size()) {
    std::size_t length = 0;
    const char32_t scalar = detail::scalarAt(text, offset, length);
    visit(scalar, offset, length);
    offset += length;
  }
}

}  // namespace lumo::UnicodeText
