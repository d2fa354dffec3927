#include "ShareHTTPResponse.hpp"

#include <algorithm>

namespace lumo {

bool headerNamesEqual(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) {
             return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
           };
           return lower(x) == lower(y);
         });
}

std::optional<std::string> headerValue(const HTTPHeaderFields& fields, std::string_view name) {
  for (const auto& [field, text] : fields) {
    if (headerNamesEqual(field, name)) return text;
  }
  return std::nullopt;
}

std::string_view trimmedFieldValue(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::optional<std::string> ShareHTTPResponse::value(std::string_view name) const {
  return headerValue(headerFields, name);
}

}  // namespace lumo
