#pragma once

#include <filesystem>
#include <stop_token>
#include <string_view>
#include <variant>

#include "ShareHTTPRequest.hpp"
#include "ShareHTTPTransport.hpp"
#include "ShareRequestParts.hpp"

namespace lumo {

/// Where a request's body comes from: nothing, bytes the caller keeps alive until the call
/// returns, a file streamed from disk, or pieces (kept alive by the caller as well) streamed in
/// order.
using ShareRequestBody = std::variant<std::monostate, std::string_view, std::filesystem::path,
                                      const ShareRequestParts*>;

/// A URL session: runs one request at a time per call, from any number of threads at once, and
/// blocks until the whole reply is in. Throws ShareURLError for failures of loading itself and
/// ShareUploadError::invalidResponse for a reply that is not HTTP.
class ShareURLSession {
 public:
  virtual ~ShareURLSession() = default;
  virtual ShareHTTPReply perform(const ShareHTTPRequest& request, const ShareRequestBody& body,
                                 std::stop_token stop) = 0;
};

}  // namespace lumo
