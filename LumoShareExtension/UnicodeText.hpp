#pragma once

#include <cstddef>
#include <string>
#include <string_view>

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

/// Locale-independent full Unicode lower-casing.
std::string lowercased(std::string_view text);

}  // namespace lumo::UnicodeText
