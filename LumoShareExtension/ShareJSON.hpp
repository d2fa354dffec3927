#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "AtomicFile.hpp"
#include "ShareJSONCoding.hpp"

namespace lumo {

/// Writes records as compact JSON: keys in each record's own order, absent optionals omitted,
/// "/" unescaped, non-ASCII text as UTF-8. Ill-formed UTF-8 in a string is written as U+FFFD
/// rather than failing the whole record. Throws ShareJSONError for a non-finite number.
struct ShareJSONEncoder {
  template <class T>
  std::string encode(const T& value) const {
    return dump(encodeJSONValue(value));
  }
  static std::string dump(const JSONValue& value);
};

/// Reads records with a standard decoder: unknown keys ignored, required keys strictly typed,
/// integers within their field's range. Throws ShareJSONError.
struct ShareJSONDecoder {
  template <class T>
  T decode(std::string_view text) const {
    return decodeJSONValue<T>(parse(text), "");
  }
  static JSONValue parse(std::string_view text);
};

namespace ShareJSON {

inline ShareJSONEncoder encoder() {
  return {};
}
inline ShareJSONDecoder decoder() {
  return {};
}

/// Mode of files written by `write` unless told otherwise: the store is private to its user.
inline constexpr mode_t defaultFileMode = 0600;

/// Encodes `value` and replaces `file` with it atomically, creating missing parent folders.
/// Encoding happens first, so an unencodable value leaves the file and its folder untouched.
/// Throws ShareJSONError (encoding) or std::filesystem::filesystem_error (folders, writing).
template <class T>
void write(const T& value, const std::filesystem::path& file, mode_t mode = defaultFileMode) {
  const auto bytes = encoder().encode(value);
  AtomicFile::write(file, bytes, mode);
}

/// Reads and decodes `file`. Throws std::filesystem::filesystem_error (reading) or
/// ShareJSONError (decoding).
template <class T>
T read(const std::filesystem::path& file) {
  return decoder().decode<T>(AtomicFile::read(file));
}

}  // namespace ShareJSON
}  // namespace lumo
