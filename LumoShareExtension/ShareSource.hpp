#pragma once

#include <optional>
#include <string>

#include "ShareJSONCoding.hpp"

namespace lumo {

/// Where a share came from.
struct ShareSource {
  std::string platform;  ///< one of PlatformValues
  std::optional<std::string> deviceId;
  std::optional<std::string> app;      ///< identifier of the sharing application
  std::optional<std::string> appName;  ///< display name of the sharing application
  std::optional<std::string> locale;   ///< the user's locale identifier at the time of the share

  /// The source this client reports: the running platform ("linux") and the current locale.
  static ShareSource makeDefault(std::optional<std::string> deviceId = std::nullopt,
                                 std::optional<std::string> app = std::nullopt,
                                 std::optional<std::string> appName = std::nullopt);

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("platform", self.platform), JSONKey("deviceId", self.deviceId),
                      JSONKey("app", self.app), JSONKey("appName", self.appName),
                      JSONKey("locale", self.locale));
  }

  bool operator==(const ShareSource&) const = default;
};

}  // namespace lumo
