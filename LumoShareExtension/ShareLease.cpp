#include "ShareLease.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace lumo {

std::optional<ShareLease> ShareLease::tryTake(const std::filesystem::path& directory) {
  FileDescriptor folder(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
  if (!folder.valid() || ::flock(folder.get(), LOCK_EX | LOCK_NB) != 0) return std::nullopt;
  // The folder may have been taken out of the queue between the open and the lock: only the
  // folder that still stands at `directory` is the share.
  struct stat locked {};
  struct stat current {};
  if (::fstat(folder.get(), &locked) != 0 || ::lstat(directory.c_str(), &current) != 0 ||
      locked.st_dev != current.st_dev || locked.st_ino != current.st_ino) {
    return std::nullopt;
  }
  return ShareLease(std::move(folder), directory);
}

}  // namespace lumo
