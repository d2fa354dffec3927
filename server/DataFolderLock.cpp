#include "DataFolderLock.hpp"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <system_error>

#include "AtomicFile.hpp"

namespace lumo::service {
namespace fs = std::filesystem;

DataFolderLock::DataFolderLock(const fs::path& folder, Mode mode) {
  AtomicFile::createDirectories(folder);
  const auto file = folder / "service.lock";
  fd_ = FileDescriptor(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd_.valid()) {
    throw fs::filesystem_error("cannot open the lock file", file,
                               std::error_code(errno, std::generic_category()));
  }
  if (::flock(fd_.get(), (mode == shared ? LOCK_SH : LOCK_EX) | LOCK_NB) == 0) return;
  if (errno == EWOULDBLOCK) {
    throw DataFolderBusy("the data folder " + folder.string() +
                         " is in use by another lumo-share-server");
  }
  throw fs::filesystem_error("cannot lock the data folder", file,
                             std::error_code(errno, std::generic_category()));
}

}  // namespace lumo::service
