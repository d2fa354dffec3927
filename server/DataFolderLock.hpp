#pragma once

#include <filesystem>
#include <stdexcept>

#include "FileDescriptor.hpp"

namespace lumo::service {

/// Another service holds the data folder.
struct DataFolderBusy : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// One service per data folder: an exclusive flock on "service.lock" in it, held for the
/// object's life and released by the kernel when the process ends, however it ends. A second
/// service on the folder would sweep the first one's uploads in flight as a crash's leftovers.
class DataFolderLock {
 public:
  /// Creates the folder (mode 0700) when it is missing and locks it. Throws DataFolderBusy when
  /// another service holds it, std::filesystem::filesystem_error when it cannot be locked.
  explicit DataFolderLock(const std::filesystem::path& folder);

 private:
  FileDescriptor fd_;
};

}  // namespace lumo::service
