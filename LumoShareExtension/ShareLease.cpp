#include "ShareLease.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>

namespace lumo {
namespace {

/// Stands in for the folder's own lock where the file system locks only files open for writing
/// (NFS): taken by every owner there, as the folder's lock is everywhere else.
constexpr char lockFileName[] = ".lease";

bool lockWithoutWaiting(const FileDescriptor& file) {
  return file.valid() && ::flock(file.get(), LOCK_EX | LOCK_NB) == 0;
}

}  // namespace

std::optional<ShareLease> ShareLease::tryTake(const std::filesystem::path& directory) {
  FileDescriptor folder(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
  if (!folder.valid()) return std::nullopt;
  FileDescriptor lockFile;
  if (!lockWithoutWaiting(folder)) {
    if (errno == EWOULDBLOCK) return std::nullopt;  // another owner holds it
    lockFile = FileDescriptor(
        ::openat(folder.get(), lockFileName, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!lockWithoutWaiting(lockFile)) return std::nullopt;
  }
  // The folder may have been taken out of the queue between the open and the lock: only the
  // folder that still stands at `directory` is the share.
  struct stat locked {};
  struct stat current {};
  if (::fstat(folder.get(), &locked) != 0 || ::lstat(directory.c_str(), &current) != 0 ||
      locked.st_dev != current.st_dev || locked.st_ino != current.st_ino) {
    return std::nullopt;
  }
  return ShareLease(std::move(folder), std::move(lockFile), directory);
}

}  // namespace lumo
