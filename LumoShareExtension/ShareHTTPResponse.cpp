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

std::optional<std::string> ShareHTTPResponse::value(std::string_view name) const {
  for (const auto& [field, text] : headerFields) {
    if (headerNamesEqual(field, name)) return text;
  }
  return std::nullopt;
}

}  // namespace lumo
