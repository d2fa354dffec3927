#include "ShareHybridTransport.hpp"

#include <stdexcept>
#include <utility>

namespace lumo {
namespace {

std::shared_ptr<ShareURLSession> requiredSession(std::shared_ptr<ShareURLSession> session) {
  if (!session) throw std::invalid_argument("a transport needs a URL session");
  return session;
}

}  // namespace

ShareHybridTransport::ShareHybridTransport(std::shared_ptr<ShareURLSession> live,
                                           std::shared_ptr<ShareURLSession> background)
    : live_(requiredSession(std::move(live))),
      background_(requiredSession(std::move(background))) {}

ShareHTTPReply ShareHybridTransport::data(const ShareHTTPRequest& request, std::stop_token stop) {
  const auto body = request.body ? ShareRequestBody(std::string_view(*request.body))
                                 : ShareRequestBody(std::monostate{});
  return live_->perform(request, body, std::move(stop));
}

ShareHTTPReply ShareHybridTransport::upload(const ShareHTTPRequest& request, std::string_view body,
                                            std::stop_token stop) {
  return background_->perform(request, body, std::move(stop));
}

ShareHTTPReply ShareHybridTransport::uploadFile(const ShareHTTPRequest& request,
                                                const std::filesystem::path& file,
                                                std::stop_token stop) {
  return background_->perform(request, file, std::move(stop));
}

ShareHTTPReply ShareHybridTransport::uploadParts(const ShareHTTPRequest& request,
                                                 const ShareRequestParts& body,
                                                 std::stop_token stop) {
  return background_->perform(request, &body, std::move(stop));
}

}  // namespace lumo
