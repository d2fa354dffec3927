#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "ShareURLSession.hpp"

namespace lumo {

/// The ordinary URL session, over libcurl. Connections stay open between requests and are
/// reused; DNS answers and TLS sessions are shared between concurrent requests. TLS
/// certificates and host names are always verified; nothing turns that off.
///
/// A request's `timeout` bounds the connection set-up and every stretch without progress in
/// either direction, like a platform request time-out. The session's `resourceTimeout` bounds
/// the whole transfer, however steadily it moves: a peer that trickles a byte now and then
/// cannot hold its caller for ever. Either ends the transfer with ShareURLError::timedOut. A
/// stop request ends the transfer within moments with ShareURLError::cancelled.
class ShareCurlSession final : public ShareURLSession {
 public:
  /// Seven days: what a platform session allows one resource unless told otherwise.
  static constexpr std::chrono::milliseconds defaultResourceTimeout = std::chrono::hours(7 * 24);

  struct Configuration {
    /// Longest reply body accepted: API replies are small JSON, so anything larger is refused
    /// (ShareURLError::dataLengthExceedsMaximum) rather than held in memory.
    std::size_t maximumReplyBytes = 32 * 1024 * 1024;
    /// A PEM bundle of authorities trusted instead of the system's store, for deployments with
    /// a private authority. Verification stays on either way.
    std::optional<std::filesystem::path> trustedAuthorities;
    /// Longest one transfer may take, from its start to the reply's last byte, redirects
    /// included; one that is not positive means the default.
    std::chrono::milliseconds resourceTimeout = defaultResourceTimeout;
    /// Sent as "User-Agent" with every request that names none itself; empty sends none. Who
    /// builds the session hands it the client's text (ShareAppleBundle::userAgent).
    std::string userAgent{};
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
