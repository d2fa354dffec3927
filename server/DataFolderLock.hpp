#pragma once

#include <filesystem>
#include <stdexcept>

#include "FileDescriptor.hpp"

namespace lumo::service {

/// Another service holds the data folder.
struct DataFolderBusy : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// Who may use a data folder with whom: a flock on "service.lock" in it, held for the object's
/// life and released by the kernel when the process ends, however it ends. A service that keeps
/// its records in the folder (SQLite) holds it alone: a second one would sweep the first one's
/// uploads in flight as a crash's leftovers. Nodes that keep their records in one shared
/// database share the folder, and hold it against a service of the first kind.
class DataFolderLock {
 public:
  enum Mode { exclusive, shared };
  /// Creates the folder (mode 0700) when it is missing and locks it. Throws DataFolderBusy when
  /// another service holds it in the other mode (or exclusively),
  /// std::filesystem::filesystem_error when it cannot be locked.
  explicit DataFolderLock(const std::filesystem::path& folder, Mode mode = exclusive);

  /// The content of `file` in a folder that several services share; when it has none yet,
  /// `content` is written first (mode 0600), and whoever writes first is what every service
  /// reads. Throws std::filesystem::filesystem_error.
  static std::string firstWritten(const std::filesystem::path& file, const std::string& content);

 private:
  FileDescriptor fd_;
};

}  // namespace lumo::service
