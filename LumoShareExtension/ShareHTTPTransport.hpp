#pragma once

#include <filesystem>
#include <stop_token>
#include <string>
#include <string_view>

#include "ShareHTTPRequest.hpp"
#include "ShareHTTPResponse.hpp"
#include "ShareRequestParts.hpp"

namespace lumo {

/// What a transport answers: the reply body's bytes and the HTTP response they came with.
struct ShareHTTPReply {
  std::string body;
  ShareHTTPResponse response;

  bool operator==(const ShareHTTPReply&) const = default;
};

/// Sends one prepared request and waits for the whole reply. A transport does not judge the
/// status: a 4xx or 5xx reply is returned like a 2xx one. Failures of the loading system itself
/// (no connection, time-out, TLS, an unreadable file, a stop request) throw ShareURLError; a
/// reply that is not HTTP throws ShareUploadError::invalidResponse. Implementations may be used
/// from many threads at once.
class ShareHTTPTransport {
 public:
  virtual ~ShareHTTPTransport() = default;

  /// Sends the request with its own body, if it has one.
  virtual ShareHTTPReply data(const ShareHTTPRequest& request, std::stop_token stop = {}) = 0;
  /// Sends the request with `body` as its body.
  virtual ShareHTTPReply upload(const ShareHTTPRequest& request, std::string_view body,
                                std::stop_token stop = {}) = 0;
  /// Sends the request with the contents of `file` as its body, streamed from disk.
  virtual ShareHTTPReply uploadFile(const ShareHTTPRequest& request,
                                    const std::filesystem::path& file,
                                    std::stop_token stop = {}) = 0;
  /// Sends the request with `body`'s pieces as its body. A transport that can stream sends them
  /// as they are read; by default they are joined in memory and sent as `upload` sends bytes.
  virtual ShareHTTPReply uploadParts(const ShareHTTPRequest& request,
                                     const ShareRequestParts& body, std::stop_token stop = {}) {
    const auto bytes = body.joined();
    return upload(request, bytes, std::move(stop));
  }
};

}  // namespace lumo
