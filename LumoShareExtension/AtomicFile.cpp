#include "AtomicFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "FileDescriptor.hpp"
#include "ShareUUID.hpp"

namespace lumo::AtomicFile {
namespace fs = std::filesystem;
namespace {

[[noreturn]] void fail(const char* what, const fs::path& path, int error) {
  throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

/// Owns a temporary file inside an open folder until it is committed under its final name.
class TemporaryFile {
 public:
  TemporaryFile(int folderFd, const fs::path& destination)
      : folderFd_(folderFd), destination_(destination) {
    for (int attempt = 0; attempt < 16 && !fd_.valid(); ++attempt) {
      name_ = "." + destination.filename().string() + std::string(temporaryInfix) +
              makeLowercaseUUID().substr(0, 8);
      fd_ = FileDescriptor(::openat(folderFd, name_.c_str(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
      if (!fd_.valid() && errno != EEXIST) break;
    }
    if (!fd_.valid()) fail("cannot create temporary file", destination, errno);
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    fd_.close();
    if (!committed_) ::unlinkat(folderFd_, name_.c_str(), 0);
  }

  void writeAll(std::string_view bytes) {
    while (!bytes.empty()) {
      const auto written = ::write(fd_.get(), bytes.data(), bytes.size());
      if (written < 0 && errno == EINTR) continue;
      if (written < 0) fail("cannot write temporary file", destination_, errno);
      bytes.remove_prefix(static_cast<std::size_t>(written));
    }
  }

  void finish(mode_t mode) {
    if (::fchmod(fd_.get(), mode) != 0) fail("cannot set file mode", destination_, errno);
    if (::fsync(fd_.get()) != 0) fail("cannot flush temporary file", destination_, errno);
    const int fd = fd_.release();
    if (::close(fd) != 0) fail("cannot close temporary file", destination_, errno);
  }

  void commit() {
    const auto name = destination_.filename();
    if (::renameat(folderFd_, name_.c_str(), folderFd_, name.c_str()) != 0) {
      fail("cannot replace file", destination_, errno);
    }
    committed_ = true;
  }

 private:
  int folderFd_;
  fs::path destination_;
  std::string name_;
  FileDescriptor fd_;
  bool committed_ = false;
};

fs::path folderOf(const fs::path& destination) {
  return destination.has_parent_path() ? destination.parent_path() : fs::path(".");
}

void writeInto(const FileDescriptor& folder, const fs::path& destination, std::string_view bytes,
               mode_t mode) {
  {
    TemporaryFile temporary(folder.get(), destination);
    temporary.writeAll(bytes);
    temporary.finish(mode);
    temporary.commit();
  }
  ::fsync(folder.get());  // durability of the rename is best effort; the content is already safe
}

FileDescriptor openFolder(const fs::path& folder) {
  FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) fail("cannot open folder", folder, errno);
  return fd;
}

}  // namespace

void write(const fs::path& destination, std::string_view bytes, mode_t mode) {
  const auto folder = folderOf(destination);
  createDirectories(folder);
  writeInto(openFolder(folder), destination, bytes, mode);
}

void writeInExistingFolder(const fs::path& destination, std::string_view bytes, mode_t mode) {
  writeInto(openFolder(folderOf(destination)), destination, bytes, mode);
}

std::string read(const fs::path& file, std::size_t limit) {
  const FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) fail("cannot open file", file, errno);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) fail("cannot read file", file, errno);
  if (!S_ISREG(info.st_mode)) fail("not a regular file", file, EINVAL);
  std::string content;
  char buffer[65536];
  for (;;) {
    const auto count = ::read(fd.get(), buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) fail("cannot read file", file, errno);
    if (count == 0) break;
    if (content.size() + static_cast<std::size_t>(count) > limit) {
      fail("file too large", file, EFBIG);
    }
    content.append(buffer, static_cast<std::size_t>(count));
  }
  return content;
}

void createDirectories(const fs::path& directory) {
  if (directory.empty()) return;
  struct stat info {};
  if (::stat(directory.c_str(), &info) == 0) {
    if (!S_ISDIR(info.st_mode)) fail("not a folder", directory, ENOTDIR);
    return;
  }
  const auto parent = directory.parent_path();
  if (parent != directory) createDirectories(parent);
  if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
    fail("cannot create folder", directory, errno);
  }
}

}  // namespace lumo::AtomicFile
