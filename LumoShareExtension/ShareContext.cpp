#include "ShareContext.hpp"

#include <utility>

#include "URLSessionTransport.hpp"

namespace lumo {

ShareContext ShareContext::make(std::shared_ptr<const ShareAppleBundle> bundle,
                                ShareStorage storage,
                                std::shared_ptr<ShareHTTPTransport> transport) {
  ShareTokenStore tokens(storage, bundle->keychainAccessGroup(), false);
  ShareUploadSession uploads{std::make_shared<PendingShareQueue>(storage), std::move(tokens),
                             ShareSettingsStore{storage}, std::move(transport),
                             RetryPolicy::defaultValue()};
  return {std::move(bundle), std::move(storage), std::move(uploads)};
}

const ShareContext& ShareContext::process() {
  static const ShareContext context = [] {
    const auto bundle = ShareAppleBundle::main();
    auto made = make(bundle, ShareStorage::resolve(*bundle), nullptr);
    made.uploads.transport = URLSessionTransport::makeDefault(made.sessionConfiguration());
    return made;
  }();
  return context;
}

ShareCurlSession::Configuration ShareContext::sessionConfiguration() const {
  ShareCurlSession::Configuration configuration;
  configuration.userAgent = bundle->userAgent();
  return configuration;
}

ShareIngest ShareContext::ingest() const {
  return ShareIngest(uploads.queue, storage, uploads.settingsStore);
}

ShareHostSession ShareContext::host() const {
  return {uploads, ShareSettings::apiBaseURL(*bundle)};
}

}  // namespace lumo
