#pragma once

#include <memory>

#include "ShareCurlSession.hpp"
#include "ShareHybridTransport.hpp"

namespace lumo {

/// The transport over one URL session: all three operations run on `session`.
class URLSessionTransport final : public ShareHybridTransport {
 public:
  explicit URLSessionTransport(const std::shared_ptr<ShareURLSession>& session)
      : ShareHybridTransport(session, session) {}

  /// The default transport: one libcurl session with `configuration`.
  static std::shared_ptr<ShareHTTPTransport> makeDefault(
      ShareCurlSession::Configuration configuration = {}) {
    return std::make_shared<URLSessionTransport>(
        std::make_shared<ShareCurlSession>(std::move(configuration)));
  }

  const std::shared_ptr<ShareURLSession>& session() const { return live(); }
};

}  // namespace lumo
