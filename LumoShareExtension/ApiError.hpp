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

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("code", self.code), JSONKey("message", self.message),
                      JSONKey("retryable", self.retryable), JSONKey("details", self.details));
  }
  bool operator==(const ApiError&) const = default;
};

}  // namespace lumo
