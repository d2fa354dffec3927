#include "UnicodeText.hpp"

#include <unicode/brkiter.h>
#include <unicode/bytestream.h>
#include <unicode/casemap.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <memory>

namespace lumo::UnicodeText {
namespace {

// U8_NEXT/U8_PREV index with int32_t; longer texts are walked in pieces by the callers' limits.
using Predicate = bool (*)(char32_t);

bool isBlankOrLineBreak(char32_t scalar) {
  return isBlank(scalar) || isLineBreak(scalar);
}

std::size_t leadingSpan(std::string_view text, Predicate matches) {
  std::size_t offset = 0;
  while (offset < text.size()) {
    std::size_t length = 0;
    // Ill-formed bytes read as U+FFFD, which is no blank: trimming stops there.
    if (!matches(detail::scalarAt(text, offset, length))) break;
    offset += length;
  }
  return offset;
}

std::size_t trailingSpan(std::string_view text, Predicate matches) {
  std::size_t end = text.size();
  while (end > 0) {
    const auto start = end > 4 ? end - 4 : 0;
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data() + start);
    auto index = static_cast<int32_t>(end - start);
    UChar32 scalar = 0;
    U8_PREV(bytes, 0, index, scalar);
    if (scalar < 0 || !matches(static_cast<char32_t>(scalar))) break;
    end = start + static_cast<std::size_t>(index);
  }
  return text.size() - end;
}

std::string_view trimmedBy(std::string_view text, Predicate matches) {
  const auto head = leadingSpan(text, matches);
  text.remove_prefix(head);
  text.remove_suffix(trailingSpan(text, matches));
  return text;
}

// BreakIterator instances are costly to create and not thread-safe: one per thread.
icu::BreakIterator* characterIterator() {
  thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> created(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    return U_SUCCESS(status) ? std::move(created) : nullptr;
  }();
  return iterator.get();
}

// Calls `visit(byteOffset)` for every grapheme boundary after the start until it returns false.
template <class Visitor>
void forEachCharacterEnd(std::string_view text, Visitor visit) {
  auto* iterator = characterIterator();
  UErrorCode status = U_ZERO_ERROR;
  UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
  if (iterator == nullptr || U_FAILURE(status)) {
    utext_close(utext);
    return;
  }
  iterator->setText(utext, status);
  if (U_SUCCESS(status)) {
    for (int32_t end = iterator->next(); end != icu::BreakIterator::DONE; end = iterator->next()) {
      if (!visit(static_cast<std::size_t>(end))) break;
    }
  }
  // Detach the iterator from the UText before closing it.
  iterator->setText(icu::UnicodeString());
  utext_close(utext);
}

}  // namespace

namespace detail {

char32_t scalarAt(std::string_view text, std::size_t offset, std::size_t& length) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data() + offset);
  const auto remaining = static_cast<int32_t>(std::min<std::size_t>(text.size() - offset, 4));
  int32_t index = 0;
  UChar32 scalar = 0;
  U8_NEXT(bytes, index, remaining, scalar);
  length = static_cast<std::size_t>(index);
  return scalar < 0 ? U'\uFFFD' : static_cast<char32_t>(scalar);
}

}  // namespace detail

std::string wellFormed(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  std::size_t runStart = 0;  // start of the well-formed bytes not yet copied
  std::size_t offset = 0;
  while (offset < text.size()) {
    if (static_cast<unsigned char>(text[offset]) < 0x80) {
      ++offset;
      continue;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data() + offset);
    const auto remaining = static_cast<int32_t>(std::min<std::size_t>(text.size() - offset, 4));
    int32_t length = 0;
    UChar32 scalar = 0;
    U8_NEXT(bytes, length, remaining, scalar);
    if (scalar < 0) {
      result.append(text.data() + runStart, offset - runStart);
      result += "\xEF\xBF\xBD";
      runStart = offset + static_cast<std::size_t>(length);
    }
    offset += static_cast<std::size_t>(length);
  }
  result.append(text.data() + runStart, text.size() - runStart);
  return result;
}

bool isWhiteSpace(char32_t scalar) {
  return u_isUWhiteSpace(static_cast<UChar32>(scalar)) != 0;
}

bool isBlank(char32_t scalar) {
  return scalar == U'\t' || u_charType(static_cast<UChar32>(scalar)) == U_SPACE_SEPARATOR;
}

bool isLineBreak(char32_t scalar) {
  return (scalar >= 0x0A && scalar <= 0x0D) || scalar == 0x85 || scalar == 0x2028 ||
         scalar == 0x2029;
}

std::string_view trimmed(std::string_view text) {
  return trimmedBy(text, isBlankOrLineBreak);
}

std::string_view trimmedBlanks(std::string_view text) {
  return trimmedBy(text, isBlank);
}

std::size_t characterCount(std::string_view text) {
  std::size_t count = 0;
  forEachCharacterEnd(text, [&count](std::size_t) {
    ++count;
    return true;
  });
  return count;
}

std::string_view prefixCharacters(std::string_view text, std::size_t count) {
  if (count == 0) return text.substr(0, 0);
  std::size_t seen = 0;
  std::size_t cut = text.size();
  forEachCharacterEnd(text, [&](std::size_t end) {
    if (++seen < count) return true;
    cut = end;
    return false;
  });
  return text.substr(0, cut);
}

std::string_view prefixFittingBytes(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  std::size_t cut = 0;
  forEachCharacterEnd(text, [&](std::size_t end) {
    if (end > maxBytes) return false;
    cut = end;
    return true;
  });
  return text.substr(0, cut);
}

std::vector<std::string_view> lines(std::string_view text) {
  std::vector<std::string_view> result;
  std::size_t lineStart = 0;
  forEachScalar(text, [&](char32_t scalar, std::size_t offset, std::size_t length) {
    if (!isLineBreak(scalar)) return;
    result.push_back(text.substr(lineStart, offset - lineStart));
    lineStart = offset + length;
  });
  result.push_back(text.substr(lineStart));
  return result;
}

std::string lowercased(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  icu::StringByteSink<std::string> sink(&result);
  UErrorCode status = U_ZERO_ERROR;
  icu::CaseMap::utf8ToLower("", 0, icu::StringPiece(text.data(), static_cast<int32_t>(text.size())),
                            sink, nullptr, status);
  return U_SUCCESS(status) ? result : std::string(text);
}

}  // namespace lumo::UnicodeText
