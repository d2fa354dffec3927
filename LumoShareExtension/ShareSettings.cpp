#include "ShareSettings.hpp"

#include "ShareApple.hpp"
#include "ShareAppleBundle.hpp"
#include "ShareJSON.hpp"

namespace lumo {

ShareSettings ShareSettings::defaultValue() {
  return ShareSettings{ShareApple::defaultExpiresInSeconds, std::nullopt, true};
}

ShareOptions ShareSettings::options() const {
  ShareOptions options;
  options.expiresInSeconds = expiresInSeconds;
  options.password = password;
  return options;
}

Url ShareSettings::apiBaseURL() {
  return apiBaseURL(*ShareAppleBundle::main());
}

Url ShareSettings::apiBaseURL(const ShareAppleBundle& bundle) {
  if (const auto configured = bundle.apiBaseOverride()) {
    if (auto url = Url::parse(*configured)) return *std::move(url);
  }
  return *Url::parse(ShareApple::defaultAPIBase);
}

ShareSettings ShareSettingsStore::load() const {
  try {
    return ShareJSON::read<ShareSettings>(storage.settingsURL());
  } catch (const std::exception&) {
    return ShareSettings::defaultValue();
  }
}

void ShareSettingsStore::save(const ShareSettings& settings) const {
  storage.ensureDirectories();
  ShareJSON::write(settings, storage.settingsURL());
}

}  // namespace lumo
