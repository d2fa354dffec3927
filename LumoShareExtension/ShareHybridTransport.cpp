#include "ShareHybridTransport.hpp"

#include <utility>

namespace lumo {

ShareHybridTransport::ShareHybridTransport(std::shared_ptr<ShareURLSession> live,
                                           std::shared_ptr<ShareURLSession> background)
    : live_(requiredSession(std::move(live))),
      background_(requiredSession(std::move(background))) {}

ShareHTTPReply ShareHybridTransport::data(const ShareHTTPRequest& request, std::stop_token stop) {
  return live_->perform(request, requestOwnBody(request), std::move(stop));
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

}  // namespace lumo
