#include "ShareStorage.hpp"

#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <system_error>

#include "AtomicFile.hpp"
#include "ShareAppleBundle.hpp"
#include "ShareContext.hpp"
#include "ShareL10n.hpp"

namespace lumo {
namespace fs = std::filesystem;
namespace {

constexpr std::array<std::pair<ShareStorageLocation, std::string_view>, 4> locationNames = {{
    {ShareStorageLocation::appGroup, "appGroup"},
    {ShareStorageLocation::applicationSupport, "applicationSupport"},
    {ShareStorageLocation::unavailable, "unavailable"},
    {ShareStorageLocation::injected, "injected"},
}};

std::optional<fs::path> absoluteEnvironmentPath(const char* name) {
  const char* value = ::getenv(name);
  if (value == nullptr || value[0] != '/') return std::nullopt;
  return fs::path(value);
}

std::optional<fs::path> homeDirectory() {
  if (auto home = absoluteEnvironmentPath("HOME")) return home;
  const auto* entry = ::getpwuid(::getuid());
  if (entry == nullptr || entry->pw_dir == nullptr || entry->pw_dir[0] != '/') return std::nullopt;
  return fs::path(entry->pw_dir);
}

/// $XDG_DATA_HOME, else ~/.local/share.
std::optional<fs::path> dataHome() {
  if (auto data = absoluteEnvironmentPath("XDG_DATA_HOME")) return data;
  if (auto home = homeDirectory()) return *home / ".local/share";
  return std::nullopt;
}

/// A path that does not exist yet, or is a real directory (not a symlink) owned by this user.
bool isPrivateOrAbsent(const fs::path& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return errno == ENOENT;
  return S_ISDIR(info.st_mode) && info.st_uid == ::getuid();
}

bool makePrivateDirectory(const fs::path& directory) {
  try {
    AtomicFile::createDirectories(directory);
    return true;
  } catch (const fs::filesystem_error&) {
    return false;
  }
}

}  // namespace

std::string_view shareStorageLocationName(ShareStorageLocation location) {
  for (const auto& [value, name] : locationNames) {
    if (value == location) return name;
  }
  return "injected";
}

std::optional<ShareStorageLocation> parseShareStorageLocation(std::string_view name) {
  for (const auto& [value, candidate] : locationNames) {
    if (candidate == name) return value;
  }
  return std::nullopt;
}

ContainerProbeCache& ContainerProbeCache::shared() {
  static auto* cache = new ContainerProbeCache();  // never released, like the process
  return *cache;
}

std::optional<bool> ContainerProbeCache::lookup(const std::string& path) {
  std::lock_guard lock(mutex_);
  const auto found = results_.find(path);
  if (found == results_.end()) return std::nullopt;
  return found->second;
}

void ContainerProbeCache::store(const std::string& path, bool usable) {
  std::lock_guard lock(mutex_);
  results_[path] = usable;
}

void ContainerProbeCache::clear() {
  std::lock_guard lock(mutex_);
  results_.clear();
}

ShareStorage ShareStorage::resolve() {
  return ShareContext::process().storage;
}

ShareStorage ShareStorage::resolve(const ShareAppleBundle& bundle) {
  if (auto container = appGroupRoot(bundle)) {
    return ShareStorage{*container, ShareStorageLocation::appGroup};
  }
  return ShareStorage{privateFallbackRoot(), ShareStorageLocation::unavailable};
}

std::optional<fs::path> ShareStorage::appGroupRoot(const ShareAppleBundle& bundle) {
  const auto data = dataHome();
  if (!data) return std::nullopt;
  const auto container = *data / bundle.appGroupIdentifier();
  auto& cache = ContainerProbeCache::shared();
  if (const auto known = cache.lookup(container.string())) {
    return *known ? std::optional(container) : std::nullopt;
  }
  // As the platform would, the container is created on demand; the probe then decides.
  const bool usable = makePrivateDirectory(container) && isUsableDirectory(container);
  cache.store(container.string(), usable);
  return usable ? std::optional(container) : std::nullopt;
}

std::optional<fs::path> ShareStorage::applicationSupportRoot() {
  const auto data = dataHome();
  if (!data) return std::nullopt;
  makePrivateDirectory(*data);
  return *data / "lumo-share" / "apple";
}

fs::path ShareStorage::privateFallbackRoot() {
  if (auto runtime = absoluteEnvironmentPath("XDG_RUNTIME_DIR")) {
    if (isPrivateOrAbsent(*runtime / "lumo-share")) return *runtime / "lumo-share";
  }
  const auto shared = fs::path("/tmp") / ("lumo-share-" + std::to_string(::getuid()));
  if (isPrivateOrAbsent(shared)) return shared;
  // Someone planted a file or symlink under our name. The next free name in a fixed row, not a
  // random one: every program of this user must find the same queue.
  for (int alternative = 1; alternative <= 16; ++alternative) {
    auto candidate = shared;
    candidate += "-" + std::to_string(alternative);
    if (isPrivateOrAbsent(candidate)) return candidate;
  }
  return shared;  // ensureDirectories refuses it, so nothing is written there
}

std::string ShareStorage::fallbackNotice(const fs::path& root) {
  const auto data = dataHome();
  if (!data) {
    return ShareL10n::tr(
        "数据文件夹不可写，改用临时文件夹 %@：队列只保存在这里，注销或重启后可能丢失。",
        root.string());
  }
  const auto container = *data / ShareAppleBundle::main()->appGroupIdentifier();
  return ShareL10n::tr(
      "数据文件夹 %@ 无法写入，改用临时文件夹 %@：新的分享只保存在这里，注销或重启后"
      "可能丢失；数据文件夹里已有的分享要等它恢复可写后才会列出和发送。",
      {container.string(), root.string()});
}

bool ShareStorage::isUsableDirectory(const fs::path& directory) {
  std::error_code error;
  if (!fs::is_directory(directory, error)) return false;
  const auto probe = directory / (".lumo-write-probe-" + std::to_string(::getpid()));
  bool written = true;
  try {
    AtomicFile::write(probe, "ok", 0600);
  } catch (const std::exception&) {
    written = false;
  }
  fs::remove(probe, error);
  return written;
}

bool ShareStorage::isSafeShareIdentifier(std::string_view clientShareId) {
  return !clientShareId.empty() && clientShareId != "." && clientShareId != ".." &&
         clientShareId.find('/') == std::string_view::npos &&
         clientShareId.find('\0') == std::string_view::npos;
}

void ShareStorage::ensureDirectories() const {
  const auto refuseUnlessPrivate = [this] {
    if (location == ShareStorageLocation::unavailable && !isPrivateOrAbsent(rootURL)) {
      throw fs::filesystem_error("storage root is not a private folder", rootURL,
                                 std::make_error_code(std::errc::operation_not_permitted));
    }
  };
  refuseUnlessPrivate();
  AtomicFile::createDirectories(pendingRoot());
  refuseUnlessPrivate();
  ::chmod(rootURL.c_str(), 0700);  // best effort: the folder is usable either way
}

std::vector<fs::path> ShareStorage::pendingDirectories() const {
  std::vector<fs::path> directories;
  std::error_code error;
  fs::directory_iterator entries(pendingRoot(), error);
  if (error) return directories;
  for (const auto& entry : entries) {
    std::error_code statusError;
    // Symlinks are not share folders: never follow one out of the store.
    if (entry.symlink_status(statusError).type() == fs::file_type::directory) {
      directories.push_back(entry.path());
    }
  }
  std::stable_sort(directories.begin(), directories.end(),
                   [](const fs::path& a, const fs::path& b) {
                     return a.filename().string() < b.filename().string();
                   });
  return directories;
}

}  // namespace lumo
