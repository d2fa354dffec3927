#include "ShareSource.hpp"

#include <unicode/locid.h>

#include <utility>

#include "ShareVocabularies.hpp"

namespace lumo {

ShareSource ShareSource::makeDefault(std::optional<std::string> deviceId,
                                     std::optional<std::string> app,
                                     std::optional<std::string> appName) {
  return ShareSource{PlatformValues::linux, std::move(deviceId), std::move(app), std::move(appName),
                     std::string(icu::Locale::getDefault().getName())};
}

ShareSource ShareSource::decode(const JSONObjectReader& reader) {
  return ShareSource{
      reader.required<std::string>("platform"), reader.optional<std::string>("deviceId"),
      reader.optional<std::string>("app"),      reader.optional<std::string>("appName"),
      reader.optional<std::string>("locale"),
  };
}

JSONValue ShareSource::encode() const {
  return JSONObjectWriter()
      .set("platform", platform)
      .setOptional("deviceId", deviceId)
      .setOptional("app", app)
      .setOptional("appName", appName)
      .setOptional("locale", locale)
      .take();
}

}  // namespace lumo
