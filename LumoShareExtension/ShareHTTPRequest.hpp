#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ShareHTTPResponse.hpp"
#include "Url.hpp"

namespace lumo {

/// One prepared HTTP request: what a transport sends. Header names are matched without regard
/// to ASCII case; setting a header replaces every earlier value of that name.
struct ShareHTTPRequest {
  /// The platform's default request time-out, which every API request keeps.
  static constexpr std::chrono::milliseconds defaultTimeout{60'000};

  explicit ShareHTTPRequest(Url target) : url(std::move(target)) {}

  Url url;
  std::string method = "GET";
  HTTPHeaderFields headerFields;
  /// The request's own body, sent by `ShareHTTPTransport::data`.
  std::optional<std::string> body;
  /// Both the longest wait for a connection and the longest stretch without any progress.
  std::chrono::milliseconds timeout = defaultTimeout;

  void setValue(std::string value, std::string_view field);
  std::optional<std::string> value(std::string_view field) const;

  bool operator==(const ShareHTTPRequest&) const = default;
};

}  // namespace lumo
