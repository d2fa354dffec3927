#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>

#include "ShareURLSession.hpp"

namespace lumo {

/// The ordinary URL session, over libcurl. Connections stay open between requests and are
/// reused; DNS answers and TLS sessions are shared between concurrent requests. TLS
/// certificates and host names are always verified; nothing turns that off.
///
/// A request's `timeout` bounds the connection set-up and every stretch without progress in
/// either direction, like a platform request time-out; a slow but moving transfer may take as
/// long as it needs. A stop request ends the transfer within moments with
/// ShareURLError::cancelled.
class ShareCurlSession final : public ShareURLSession {
 public:
  struct Configuration {
    /// Longest reply body accepted: API replies are small JSON, so anything larger is refused
    /// (ShareURLError::dataLengthExceedsMaximum) rather than held in memory.
    std::size_t maximumReplyBytes = 32 * 1024 * 1024;
    /// A PEM bundle of authorities trusted instead of the system's store, for deployments with
    /// a private authority. Verification stays on either way.
    std::optional<std::filesystem::path> trustedAuthorities;
  };

  ShareCurlSession();
  explicit ShareCurlSession(Configuration configuration);
  ~ShareCurlSession() override;
  ShareCurlSession(const ShareCurlSession&) = delete;
  ShareCurlSession& operator=(const ShareCurlSession&) = delete;

  ShareHTTPReply perform(const ShareHTTPRequest& request, const ShareRequestBody& body,
                         std::stop_token stop) override;

 private:
  struct Shared;
  std::unique_ptr<Shared> shared_;
};

}  // namespace lumo
