#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumo {

/// Whether two header field names are the same field: HTTP compares them without regard to
/// ASCII case.
bool headerNamesEqual(std::string_view a, std::string_view b);

using HTTPHeaderFields = std::vector<std::pair<std::string, std::string>>;

/// The value of header `name` among `fields`, names compared without regard to ASCII case; the
/// first one wins.
std::optional<std::string> headerValue(const HTTPHeaderFields& fields, std::string_view name);

/// A field value without the spaces and tabs HTTP allows around it.
std::string_view trimmedFieldValue(std::string_view text);

/// The status line and header fields of an HTTP reply.
struct ShareHTTPResponse {
  int status = 0;
  HTTPHeaderFields headerFields;

  /// The value of header `name`, compared without regard to ASCII case; the first one wins.
  std::optional<std::string> value(std::string_view name) const;
  bool operator==(const ShareHTTPResponse&) const = default;
};

}  // namespace lumo
