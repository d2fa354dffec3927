#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "ShareBackgroundSession.hpp"
#include "ShareCurlSession.hpp"
#include "ShareHybridTransport.hpp"

namespace lumo {

/// The process's owner of the background session: its transport sends plain requests on an
/// ordinary session and uploads on the background one, and it logs the background transfers
/// that fail. The background drain (`lumo-share drain`, started by a systemd user timer) runs
/// over it. A Linux process is never woken for a background session's events: the session is a
/// thread of the process and ends with it, so there is no events entry point to answer.
class ShareBackgroundUploader final : public ShareBackgroundSessionDelegate {
 public:
  static constexpr const char* sessionIdentifier = "com.lumo.share.apple.upload";
  /// Longest one request of the live session may take as a whole (its resource time-out).
  static constexpr std::chrono::milliseconds liveResourceTimeout = std::chrono::seconds(600);

  /// A new uploader with sessions of `configuration`. The live session allows each request at
  /// most `liveResourceTimeout`, or the configuration's resource time-out when that is shorter.
  static std::shared_ptr<ShareBackgroundUploader> make(
      ShareCurlSession::Configuration configuration = {});

  /// Live requests on the ordinary session, uploads on the background session.
  std::shared_ptr<ShareHTTPTransport> transport() const { return transport_; }

  void didCompleteWithError(std::int64_t taskNumber, const std::string& error) override;

 private:
  explicit ShareBackgroundUploader(ShareCurlSession::Configuration configuration);

  std::shared_ptr<ShareBackgroundSession> backgroundSession_;
  std::shared_ptr<ShareHybridTransport> transport_;
};

}  // namespace lumo
