#pragma once

#include <filesystem>

namespace lumo {

/// An exclusive advisory lock (flock) on a lock file, held for the object's lifetime. Processes
/// of this system take it around read-modify-write cycles of a shared file so that none loses
/// another's changes. Throws std::filesystem::filesystem_error when the lock file cannot be
/// opened.
class ShareFileLock {
 public:
  explicit ShareFileLock(const std::filesystem::path& lockFile);
  ~ShareFileLock();
  ShareFileLock(const ShareFileLock&) = delete;
  ShareFileLock& operator=(const ShareFileLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace lumo
