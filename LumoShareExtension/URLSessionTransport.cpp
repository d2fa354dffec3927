#include "URLSessionTransport.hpp"

#include <utility>

namespace lumo {

URLSessionTransport::URLSessionTransport(std::shared_ptr<ShareURLSession> session)
    : session_(requiredSession(std::move(session))) {}

ShareHTTPReply URLSessionTransport::data(const ShareHTTPRequest& request, std::stop_token stop) {
  return session_->perform(request, requestOwnBody(request), std::move(stop));
}

ShareHTTPReply URLSessionTransport::upload(const ShareHTTPRequest& request, std::string_view body,
                                           std::stop_token stop) {
  return session_->perform(request, body, std::move(stop));
}

ShareHTTPReply URLSessionTransport::uploadFile(const ShareHTTPRequest& request,
                                               const std::filesystem::path& file,
                                               std::stop_token stop) {
  return session_->perform(request, file, std::move(stop));
}

}  // namespace lumo
