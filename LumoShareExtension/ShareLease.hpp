#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "FileDescriptor.hpp"

namespace lumo {

/// Exclusive ownership of one share, across the threads and processes that work the queue: an
/// advisory lock (flock) on the share's folder, held for the object's lifetime. Staging, every
/// upload attempt and a panel whose form is open each hold it; whoever cannot take it leaves the
/// share alone. The lock belongs to its open folder, so two leases on one share conflict even
/// within a process, and it dies with its process: a killed owner never blocks a share. Where the
/// file system cannot lock a folder (NFS locks only files open for writing), a lock file inside
/// the share's folder stands in.
class ShareLease {
 public:
  /// Takes the lease of the share folder `directory` without waiting. Nothing when another owner
  /// holds it, or when the folder is gone or was moved away (a removed share stays removed).
  static std::optional<ShareLease> tryTake(const std::filesystem::path& directory);

  ShareLease(ShareLease&&) noexcept = default;
  ShareLease& operator=(ShareLease&&) noexcept = default;

  /// The share's folder; its name is the share's identifier.
  const std::filesystem::path& directory() const { return directory_; }
  std::string clientShareId() const { return directory_.filename().string(); }

 private:
  ShareLease(FileDescriptor folder, FileDescriptor lockFile, std::filesystem::path directory)
      : folder_(std::move(folder)),
        lockFile_(std::move(lockFile)),
        directory_(std::move(directory)) {}

  FileDescriptor folder_;
  FileDescriptor lockFile_;  ///< only where folders cannot be locked
  std::filesystem::path directory_;
};

}  // namespace lumo
