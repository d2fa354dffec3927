#include "ShareFileLock.hpp"

#include "AtomicFile.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace lumo {

ShareFileLock::ShareFileLock(const std::filesystem::path& lockFile) {
  AtomicFile::createDirectories(lockFile.parent_path());
  fd_ = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) {
    throw std::filesystem::filesystem_error("cannot open lock file", lockFile,
                                            std::error_code(errno, std::generic_category()));
  }
  while (::flock(fd_, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    const int error = errno;
    ::close(fd_);
    throw std::filesystem::filesystem_error("cannot lock", lockFile,
                                            std::error_code(error, std::generic_category()));
  }
}

ShareFileLock::~ShareFileLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

}  // namespace lumo
