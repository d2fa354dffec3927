#include "ShareHTTPRequest.hpp"

#include <algorithm>

#include "ShareHTTPResponse.hpp"

namespace lumo {

void ShareHTTPRequest::setValue(std::string value, std::string_view field) {
  std::erase_if(headerFields,
                [&](const auto& entry) { return headerNamesEqual(entry.first, field); });
  headerFields.emplace_back(std::string(field), std::move(value));
}

std::optional<std::string> ShareHTTPRequest::value(std::string_view field) const {
  return headerValue(headerFields, field);
}

}  // namespace lumo
