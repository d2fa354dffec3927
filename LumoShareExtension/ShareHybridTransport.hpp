#pragma once

#include <memory>

#include "ShareHTTPTransport.hpp"
#include "ShareURLSession.hpp"

namespace lumo {

/// The one transport body: plain requests run on the `live` session, uploads (from bytes, a
/// file or pieces) on the `background` one. The background uploader gives it two sessions; a
/// URLSessionTransport is the same with one session for both.
class ShareHybridTransport : public ShareHTTPTransport {
 public:
  /// Throws std::invalid_argument for a missing session: that is a programming error.
  ShareHybridTransport(std::shared_ptr<ShareURLSession> live,
                       std::shared_ptr<ShareURLSession> background);

  const std::shared_ptr<ShareURLSession>& live() const { return live_; }
  const std::shared_ptr<ShareURLSession>& background() const { return background_; }

  ShareHTTPReply data(const ShareHTTPRequest& request, std::stop_token stop = {}) final;
  ShareHTTPReply upload(const ShareHTTPRequest& request, std::string_view body,
                        std::stop_token stop = {}) final;
  ShareHTTPReply uploadFile(const ShareHTTPRequest& request, const std::filesystem::path& file,
                            std::stop_token stop = {}) final;
  ShareHTTPReply uploadParts(const ShareHTTPRequest& request, const ShareRequestParts& body,
                             std::stop_token stop = {}) final;

 private:
  std::shared_ptr<ShareURLSession> live_;
  std::shared_ptr<ShareURLSession> background_;
};

}  // namespace lumo
