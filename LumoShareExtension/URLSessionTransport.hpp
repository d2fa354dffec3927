#pragma once

#include <memory>

#include "ShareHTTPTransport.hpp"
#include "ShareURLSession.hpp"

namespace lumo {

/// The transport over one URL session: all three operations run on `session`.
class URLSessionTransport final : public ShareHTTPTransport {
 public:
  explicit URLSessionTransport(std::shared_ptr<ShareURLSession> session);

  const std::shared_ptr<ShareURLSession>& session() const { return session_; }

  ShareHTTPReply data(const ShareHTTPRequest& request, std::stop_token stop = {}) override;
  ShareHTTPReply upload(const ShareHTTPRequest& request, std::string_view body,
                        std::stop_token stop = {}) override;
  ShareHTTPReply uploadFile(const ShareHTTPRequest& request, const std::filesystem::path& file,
                            std::stop_token stop = {}) override;

 private:
  std::shared_ptr<ShareURLSession> session_;
};

}  // namespace lumo
