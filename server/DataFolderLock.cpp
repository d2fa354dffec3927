#include "DataFolderLock.hpp"

#include <fcntl.h>
#include <sys/file.h>

#include <unistd.h>

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

std::string DataFolderLock::firstWritten(const fs::path& file, const std::string& content) {
  try {
    return AtomicFile::read(file, 4096);
  } catch (const fs::filesystem_error& error) {
    if (error.code() != std::errc::no_such_file_or_directory) throw;
  }
  // Linked into place whole: a rename would let a later writer replace what earlier readers
  // already took.
  const auto draft = file.string() + "." + std::to_string(::getpid()) + ".draft";
  AtomicFile::write(draft, content, 0600);
  const bool linked = ::link(draft.c_str(), file.c_str()) == 0;
  const int linkError = errno;
  fs::remove(draft);
  if (!linked && linkError != EEXIST) {
    throw fs::filesystem_error("cannot keep", file,
                               std::error_code(linkError, std::generic_category()));
  }
  return AtomicFile::read(file, 4096);
}

}  // namespace lumo::service
