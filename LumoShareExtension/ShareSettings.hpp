#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ShareJSONCoding.hpp"
#include "ShareOptions.hpp"
#include "ShareStorage.hpp"
#include "Url.hpp"

namespace lumo {

class ShareAppleBundle;

/// The user's default publishing settings ("settings.json").
struct ShareSettings {
  std::optional<std::int64_t> expiresInSeconds;
  std::optional<std::string> password;
  bool autoUpload = true;  ///< required in the file

  /// Seven days, no password, automatic upload (`default`, a reserved word in C++).
  static ShareSettings defaultValue();
  /// The publishing options these settings stand for.
  ShareOptions options() const;
  /// The service API base: "LumoShareAPIBase" when it is a valid URL, else the built-in base.
  static Url apiBaseURL();
  static Url apiBaseURL(const ShareAppleBundle& bundle);

  static auto jsonKeys(auto& self) {
    return std::tuple(JSONKey("expiresInSeconds", self.expiresInSeconds),
                      JSONKey("password", self.password), JSONKey("autoUpload", self.autoUpload));
  }
  bool operator==(const ShareSettings&) const = default;
};

/// Reads and writes "settings.json"; a missing or damaged file reads as the defaults.
struct ShareSettingsStore {
  ShareStorage storage;

  ShareSettings load() const;
  /// Throws filesystem_error.
  void save(const ShareSettings& settings) const;
};

}  // namespace lumo
