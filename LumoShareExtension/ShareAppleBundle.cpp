#include "ShareAppleBundle.hpp"

#include <sys/utsname.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "AtomicFile.hpp"
#include "LumoShareVersion.hpp"
#include "ShareApple.hpp"
#include "ShareJSON.hpp"
#include "UnicodeText.hpp"
#include "Url.hpp"

#ifndef LUMO_INSTALL_DATADIR
#define LUMO_INSTALL_DATADIR "/usr/local/share"
#endif

namespace lumo {
namespace {

constexpr char infoFileName[] = "Info.json";

struct MainBundleSlot {
  std::mutex mutex;
  std::shared_ptr<const ShareAppleBundle> bundle;
};

MainBundleSlot& mainSlot() {
  static MainBundleSlot slot;
  return slot;
}

/// The JSON object in `file`; an empty object when it is missing, unreadable or no object.
JSONValue readObject(const std::filesystem::path& file) {
  try {
    auto value = ShareJSONDecoder::parse(AtomicFile::read(file));
    return value.is_object() ? value : JSONValue::object();
  } catch (const std::exception&) {
    return JSONValue::object();
  }
}

std::optional<std::filesystem::path> personalInfoFile() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') {
    return std::filesystem::path(config) / "lumo-share" / infoFileName;
  }
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') return std::nullopt;
  return std::filesystem::path(home) / ".config/lumo-share" / infoFileName;
}

/// The installed dictionary, overridden key by key by the person's own.
JSONValue readInfoDictionary() {
  const auto installed = ShareAppleBundle::locateInfoFile();
  auto info = installed ? readObject(*installed) : JSONValue::object();
  if (const auto file = personalInfoFile()) {
    const auto own = readObject(*file);
    for (const auto& [key, value] : own.items()) info[key] = value;
  }
  return info;
}

/// The value of `key` in an os-release file, without its quotes.
std::optional<std::string> osReleaseValue(const std::string& path, const std::string& key) {
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    if (line.rfind(key + "=", 0) != 0) continue;
    auto value = line.substr(key.size() + 1);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return value;
  }
  return std::nullopt;
}

/// Header-safe text: printable ASCII only.
std::string printableASCII(const std::string& text) {
  std::string result;
  for (const char character : text) {
    if (character >= 0x20 && character < 0x7F) result += character;
  }
  return result;
}

}  // namespace

ShareAppleBundle::ShareAppleBundle(JSONValue info)
    : info_(info.is_object() ? std::move(info) : JSONValue::object()) {}

std::optional<std::string> ShareAppleBundle::userInfoFile() {
  const auto file = personalInfoFile();
  return file ? std::optional(file->string()) : std::nullopt;
}

std::shared_ptr<const ShareAppleBundle> ShareAppleBundle::main() {
  auto& slot = mainSlot();
  std::lock_guard lock(slot.mutex);
  if (!slot.bundle) slot.bundle = std::make_shared<const ShareAppleBundle>(readInfoDictionary());
  return slot.bundle;
}

void ShareAppleBundle::setMain(std::shared_ptr<const ShareAppleBundle> bundle) {
  auto& slot = mainSlot();
  std::lock_guard lock(slot.mutex);
  slot.bundle = std::move(bundle);
}

std::optional<std::string> ShareAppleBundle::locateInfoFile() {
  std::error_code error;
  const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
  const auto prefix = executable.parent_path().parent_path();
  // Beside the program (a build tree), then under the program's own prefix (an installed tree,
  // wherever it was unpacked), then the prefix chosen at configure time.
  const std::filesystem::path candidates[] = {
      error ? std::filesystem::path() : executable.parent_path() / infoFileName,
      error ? std::filesystem::path() : prefix / "share" / "lumo-share" / infoFileName,
      std::filesystem::path(LUMO_INSTALL_DATADIR) / "lumo-share" / infoFileName,
  };
  for (const auto& candidate : candidates) {
    if (!candidate.empty() && std::filesystem::is_regular_file(candidate, error)) {
      return candidate.string();
    }
  }
  return std::nullopt;
}

std::optional<std::string> ShareAppleBundle::infoString(const std::string& key) const {
  const auto found = info_.find(key);
  if (found == info_.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

std::optional<bool> ShareAppleBundle::infoBool(const std::string& key) const {
  const auto found = info_.find(key);
  if (found == info_.end() || !found->is_boolean()) return std::nullopt;
  return found->get<bool>();
}

std::string ShareAppleBundle::appGroupIdentifier() const {
  const auto value = infoString("LumoShareAppGroup");
  const auto trimmed = value ? UnicodeText::trimmed(*value) : std::string_view();
  return trimmed.empty() ? std::string(ShareApple::defaultAppGroupIdentifier)
                         : std::string(trimmed);
}

std::optional<std::string> ShareAppleBundle::apiBaseOverride() const {
  auto value = infoString("LumoShareAPIBase");
  if (!value || value->empty()) return std::nullopt;
  return value;
}

std::string ShareAppleBundle::sharePageBase() const {
  const auto value = infoString("LumoShareSharePageBase");
  const auto url = value ? Url::parse(*value) : std::nullopt;
  const auto scheme = url ? UnicodeText::lowercased(url->scheme()) : std::string();
  const bool isOrigin = url && url->host() && url->path() == "/" && value->back() == '/' &&
                        value->find_first_of("?#") == std::string::npos;
  if (isOrigin && (scheme == "http" || scheme == "https")) return *value;
  return std::string(ShareApple::sharePageBase);
}

std::optional<std::string> ShareAppleBundle::keychainAccessGroup() const {
  auto value = infoString("LumoShareKeychainAccessGroup");
  if (!value || value->empty()) return std::nullopt;
  return value;
}

std::string ShareAppleBundle::hostBundleIdentifier() const {
  return infoString("LumoShareHostBundleID").value_or(ShareApple::macosHostBundleIdentifier);
}

bool ShareAppleBundle::autoSubmit() const {
  return infoBool("LumoShareAutoSubmit").value_or(false);
}

std::string ShareAppleBundle::clientVersion() const {
  return infoString("CFBundleShortVersionString").value_or(lumoShareVersion) + " (" +
         infoString("CFBundleVersion").value_or("1") + ")";
}

std::string ShareAppleBundle::userAgent() const {
  // A header value must stay one line: a version with a line break would fail every request.
  return "lumo-share-apple/" + printableASCII(clientVersion()) + " (linux; " +
         operatingSystemVersion() + ")";
}

ShareSource ShareAppleBundle::defaultSource(std::optional<std::string> appBundleID,
                                            std::optional<std::string> appName,
                                            std::optional<std::string> deviceID) const {
  return ShareSource::makeDefault(std::move(deviceID), std::move(appBundleID), std::move(appName));
}

std::string ShareAppleBundle::operatingSystemVersion() {
  static const std::string version = [] {
    for (const auto* path : {"/etc/os-release", "/usr/lib/os-release"}) {
      const auto pretty = osReleaseValue(path, "PRETTY_NAME");
      if (pretty && !printableASCII(*pretty).empty()) return printableASCII(*pretty);
    }
    utsname name{};
    if (::uname(&name) == 0) return printableASCII(std::string(name.sysname) + " " + name.release);
    return std::string("Linux");
  }();
  return version;
}

}  // namespace lumo
