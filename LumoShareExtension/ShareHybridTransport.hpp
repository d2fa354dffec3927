#pragma once

#include <memory>

#include "ShareHTTPTransport.hpp"
#include "ShareURLSession.hpp"

namespace lumo {

/// The transport of the background uploader: plain requests run on the `live` session, uploads
/// (from bytes or from a file) on the `background` one.
class ShareHybridTransport final : public ShareHTTPTransport {
 public:
  ShareHybridTransport(std::shared_ptr<ShareURLSession> live,
                       std::shared_ptr<ShareURLSession> background);

  const std::shared_ptr<ShareURLSession>& live() const { return live_; }
  const std::shared_ptr<ShareURLSession>& background() const { return background_; }

  ShareHTTPReply data(const ShareHTTPRequest& request, std::stop_token stop = {}) override;
  ShareHTTPReply upload(const ShareHTTPRequest& request, std::string_view body,
                        std::stop_token stop = {}) override;
  ShareHTTPReply uploadFile(const ShareHTTPRequest& request, const std::filesystem::path& file,
                            std::stop_token stop = {}) override;

 private:
  std::shared_ptr<ShareURLSession> live_;
  std::shared_ptr<ShareURLSession> background_;
};

}  // namespace lumo
