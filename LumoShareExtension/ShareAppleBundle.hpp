#pragma once

#include <memory>
#include <optional>
#include <string>

#include "ShareJSONCoding.hpp"
#include "ShareSource.hpp"

namespace lumo {

/// The program's information dictionary: "Info.json" installed with it (beside the executable in
/// a build tree, <prefix>/share/lumo-share/Info.json when installed). It holds the configuration
/// keys of the store and the version keys; a missing or unreadable file is an empty dictionary.
class ShareAppleBundle {
 public:
  /// The dictionary as a JSON object (anything else reads as empty).
  explicit ShareAppleBundle(JSONValue info);

  /// The program's bundle, read once per process on first use.
  static std::shared_ptr<const ShareAppleBundle> main();
  /// Replaces the program's bundle (tests, and tools that bring their own dictionary).
  static void setMain(std::shared_ptr<const ShareAppleBundle> bundle);
  /// The person's own "Info.json", which overrides the installed one key by key:
  /// $XDG_CONFIG_HOME/lumo-share/Info.json, else ~/.config/lumo-share/Info.json.
  static std::optional<std::string> userInfoFile();
  /// Where `main()` looks for "Info.json", first match wins.
  static std::optional<std::string> locateInfoFile();

  /// The entry for `key` when it is a string.
  std::optional<std::string> infoString(const std::string& key) const;
  /// The entry for `key` when it is a Boolean.
  std::optional<bool> infoBool(const std::string& key) const;

  /// "LumoShareAppGroup" trimmed; "group.com.lumo.share" when missing or blank.
  std::string appGroupIdentifier() const;
  /// "LumoShareAPIBase" as written; nothing when missing or empty.
  std::optional<std::string> apiBaseOverride() const;
  /// The public share-page base of the service: "LumoShareSharePageBase" when it is an http or
  /// https origin ending in "/" (a self-hosted service), else the built-in base.
  std::string sharePageBase() const;
  /// "LumoShareKeychainAccessGroup" as written; nothing when missing or empty.
  std::optional<std::string> keychainAccessGroup() const;
  /// "LumoShareHostBundleID" verbatim; "lumo.share" when missing.
  std::string hostBundleIdentifier() const;
  /// "LumoShareAutoSubmit"; false when missing or not a Boolean.
  bool autoSubmit() const;
  /// "<short version> (<build>)", from "CFBundleShortVersionString" and "CFBundleVersion" ("1").
  /// The installed dictionary leaves the short version out, so that it is the programs' own
  /// `lumoShareVersion`; a dictionary that names one (a person's own) overrides it.
  std::string clientVersion() const;
  /// "lumo-share-apple/<clientVersion> (linux; <operating system version>)".
  std::string userAgent() const;
  /// The source this client reports, for the given application and device.
  ShareSource defaultSource(std::optional<std::string> appBundleID = std::nullopt,
                            std::optional<std::string> appName = std::nullopt,
                            std::optional<std::string> deviceID = std::nullopt) const;

  /// The operating system's human-readable version: PRETTY_NAME of /etc/os-release, else the
  /// kernel's name and release.
  static std::string operatingSystemVersion();

 private:
  JSONValue info_;
};

}  // namespace lumo
