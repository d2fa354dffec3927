#pragma once

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <stop_token>
#include <string_view>
#include <variant>

#include "ShareHTTPRequest.hpp"
#include "ShareHTTPTransport.hpp"

namespace lumo {

/// Where a request's body comes from: nothing, bytes the caller keeps alive until the call
/// returns, or a file streamed from disk.
using ShareRequestBody = std::variant<std::monostate, std::string_view, std::filesystem::path>;

/// The body a request carries itself, if any.
inline ShareRequestBody requestOwnBody(const ShareHTTPRequest& request) {
  if (request.body) return std::string_view(*request.body);
  return std::monostate{};
}

/// A URL session: runs one request at a time per call, from any number of threads at once, and
/// blocks until the whole reply is in. Throws ShareURLError for failures of loading itself and
/// ShareUploadError::invalidResponse for a reply that is not HTTP.
class ShareURLSession {
 public:
  virtual ~ShareURLSession() = default;
  virtual ShareHTTPReply perform(const ShareHTTPRequest& request, const ShareRequestBody& body,
                                 std::stop_token stop) = 0;
};

/// `session`, refusing a missing one: a transport without a session is a programming error.
inline std::shared_ptr<ShareURLSession> requiredSession(std::shared_ptr<ShareURLSession> session) {
  if (!session) throw std::invalid_argument("a transport needs a URL session");
  return session;
}

}  // namespace lumo
