#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
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
/// Told how much of a request's body has gone out: bytes sent and the body's whole size. Called
/// on the transfer's thread, often; an observer, so it takes no part in comparing requests.
struct ShareUploadProgress {
  std::function<void(std::int64_t sent, std::int64_t total)> report;

  void operator()(std::int64_t sent, std::int64_t total) const {
    if (report) report(sent, total);
  }
  bool operator==(const ShareUploadProgress&) const { return true; }
};

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
  /// Whether a redirect is followed; off, the redirect itself is the reply.
  bool followsRedirects = true;
  ShareUploadProgress uploadProgress;

  void setValue(std::string value, std::string_view field);
  std::optional<std::string> value(std::string_view field) const;

  bool operator==(const ShareHTTPRequest&) const = default;
};

}  // namespace lumo
