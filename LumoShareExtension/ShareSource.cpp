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

}  // namespace lumo
