#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumo {

class ShareAppleBundle;

/// Where the storage root was found.
enum class ShareStorageLocation {
  appGroup,            ///< the group container shared with the host application
  applicationSupport,  ///< the user's private application data folder
  unavailable,         ///< no usable group container: a private folder nothing else sees
  injected,            ///< a root handed in by the caller
};

/// "appGroup", "applicationSupport", "unavailable", "injected".
std::string_view shareStorageLocationName(ShareStorageLocation location);
/// The location named `name`; nothing for any other text.
std::optional<ShareStorageLocation> parseShareStorageLocation(std::string_view name);

/// Process-wide memory of write-probe results, by container path. Entries are never evicted, so
/// each container is probed at most once per process. The lock is never held during file work.
class ContainerProbeCache {
 public:
  static ContainerProbeCache& shared();

  std::optional<bool> lookup(const std::string& path);
  void store(const std::string& path, bool usable);
  /// Forgets every result (tests that need a fresh process state).
  void clear();

 private:
  std::mutex mutex_;
  std::map<std::string, bool> results_;
};

/// The storage root shared with the host application and the name of every file under it. Path
/// accessors only compute paths; they never touch the file system.
struct ShareStorage {
  std::filesystem::path rootURL;
  ShareStorageLocation location = ShareStorageLocation::injected;

  /// The storage a program configured by `bundle` uses: the probed group container, else a
  /// private folder. ShareContext resolves it once per process.
  static ShareStorage resolve(const ShareAppleBundle& bundle);
  /// The process's storage, as its ShareContext resolved it.
  static ShareStorage resolve();
  /// The group container (created 0700 on demand) when it passes the write probe.
  static std::optional<std::filesystem::path> appGroupRoot(const ShareAppleBundle& bundle);
  /// "lumo-share/apple" in the user's data folder; `resolve` never uses it.
  static std::optional<std::filesystem::path> applicationSupportRoot();
  /// The private fallback root: $XDG_RUNTIME_DIR/lumo-share, else /tmp/lumo-share-<uid>, never
  /// a symlink or a folder another user owns (then the first of /tmp/lumo-share-<uid>-1 … -16
  /// that is not, the same for every program of the user).
  static std::filesystem::path privateFallbackRoot();
  /// What a program tells the person, in their language, when it runs on the private fallback
  /// `root`: which data folder could not be written, that new shares live in `root` until a
  /// log-out or restart clears it, and that the shares already in the data folder wait for it.
  static std::string fallbackNotice(const std::filesystem::path& root);
  /// The write probe: an existing directory where a small file can be written atomically.
  static bool isUsableDirectory(const std::filesystem::path& directory);
  /// Whether `clientShareId` can name a folder under "pending": not empty, not "." or "..", no
  /// "/" and no NUL byte.
  static bool isSafeShareIdentifier(std::string_view clientShareId);

  /// Makes the root and "pending" exist and gives the root mode 0700. Throws
  /// std::filesystem::filesystem_error; a private fallback root that turned into a symlink or
  /// someone else's folder is refused.
  void ensureDirectories() const;

  std::filesystem::path pendingRoot() const { return rootURL / "pending"; }
  std::filesystem::path pendingDirectory(std::string_view clientShareId) const {
    return pendingRoot() / clientShareId;
  }
  std::filesystem::path recentUploadsURL() const { return rootURL / "recent-uploads.json"; }
  /// Lock file that serialises read-modify-write cycles of "recent-uploads.json" across processes.
  std::filesystem::path recentUploadsLockURL() const { return rootURL / "recent-uploads.lock"; }
  std::filesystem::path settingsURL() const { return rootURL / "settings.json"; }
  std::filesystem::path tokenMirrorURL() const { return rootURL / "token.json"; }
  std::filesystem::path planMirrorURL() const { return rootURL / "plan.json"; }
  /// This machine's claim of a device pairing (its device token), mode 0600.
  std::filesystem::path deviceClaimURL() const { return rootURL / "device.json"; }

  /// The share folders under "pending" (real directories only), sorted by name.
  std::vector<std::filesystem::path> pendingDirectories() const;

  bool operator==(const ShareStorage&) const = default;
};

}  // namespace lumo
