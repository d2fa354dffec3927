#pragma once

#include <map>
#include <optional>
#include <string>

#include "ShareJSONCoding.hpp"

namespace lumo {

/// The protocol's error record.
struct ApiError {
  std::string code;
  std::string message;
  std::optional<bool> retryable;
  std::optional<std::map<std::string, std::string>> details;

  static ApiError decode(const JSONObjectReader& reader);
  JSONValue encode() const;
  bool operator==(const ApiError&) const = default;
};

}  // namespace lumo
