#include "AtomicFile.hpp"

#include "FileDescriptor.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

namespace lumo::AtomicFile {
namespace fs = std::filesystem;
namespace {

[[noreturn]] void fail(const char* what, const fs::path& path, int error) {
  throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

/// Owns a file descriptor and, until committed, the temporary file behind it.
class TemporaryFile {
 public:
  explicit TemporaryFile(const fs::path& destination) {
    auto pattern =
        (destination.parent_path() / ("." + destination.filename().string() + ".tmp-XXXXXX"))
            .string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) fail("cannot create temporary file", destination, errno);
    path_ = fs::path(name.data());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) ::unlink(path_.c_str());
  }

  void writeAll(std::string_view bytes) {
    while (!bytes.empty()) {
      const auto written = ::write(fd_, bytes.data(), bytes.size());
      if (written < 0 && errno == EINTR) continue;
      if (written < 0) fail("cannot write temporary file", path_, errno);
      bytes.remove_prefix(static_cast<std::size_t>(written));
    }
  }

  void finish(mode_t mode) {
    if (::fchmod(fd_, mode) != 0) fail("cannot set file mode", path_, errno);
    if (::fsync(fd_) != 0) fail("cannot flush temporary file", path_, errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) fail("cannot close temporary file", path_, errno);
  }

  void commit(const fs::path& destination) {
    if (::rename(path_.c_str(), destination.c_str()) != 0) {
      fail("cannot replace file", destination, errno);
    }
    committed_ = true;
  }

 private:
  int fd_ = -1;
  fs::path path_;
  bool committed_ = false;
};

void syncDirectory(const fs::path& directory) {
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;  // durability of the rename is best effort; the content is already safe
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

void write(const fs::path& destination, std::string_view bytes, mode_t mode) {
  const auto folder = destination.has_parent_path() ? destination.parent_path() : fs::path(".");
  fs::create_directories(folder);
  TemporaryFile temporary(folder / destination.filename());
  temporary.writeAll(bytes);
  temporary.finish(mode);
  temporary.commit(destination);
  syncDirectory(folder);
}

std::string read(const fs::path& file) {
  const FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) fail("cannot open file", file, errno);
  std::string content;
  char buffer[65536];
  for (;;) {
    const auto count = ::read(fd.get(), buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) fail("cannot read file", file, errno);
    if (count == 0) break;
    content.append(buffer, static_cast<std::size_t>(count));
  }
  return content;
}

}  // namespace lumo::AtomicFile
