#include "ShareRequestParts.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "ShareURLError.hpp"

namespace lumo {
namespace {

ShareURLError changedWhileSent(const ShareRequestParts::File& file) {
  return ShareURLError(ShareURLError::Code::cannotOpenFile,
                       file.name + ": the file changed while it was sent");
}

std::int64_t nanoseconds(const timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

/// Reads `file` from `offset` (which lies before its end). Reaching the last byte also checks
/// that the file is still as it was opened, so the body sent is the file as it was measured.
std::size_t readFile(const ShareRequestParts::File& file, std::int64_t offset, char* buffer,
                     std::size_t capacity) {
  const auto wanted =
      static_cast<std::size_t>(std::min<std::int64_t>(file.size - offset, capacity));
  ssize_t count = 0;
  do {
    count = ::pread(file.descriptor->get(), buffer, wanted, offset);
  } while (count < 0 && errno == EINTR);
  if (count < 0) throw ShareURLError::fileError(errno, file.name);
  if (count == 0) throw changedWhileSent(file);
  if (offset + count == file.size) {
    struct stat info {};
    if (::fstat(file.descriptor->get(), &info) != 0)
      throw ShareURLError::fileError(errno, file.name);
    if (info.st_size != file.size || nanoseconds(info.st_mtim) != file.modifiedNs ||
        nanoseconds(info.st_ctim) != file.changedNs)
      throw changedWhileSent(file);
  }
  return static_cast<std::size_t>(count);
}

}  // namespace

ShareRequestParts::File ShareRequestParts::File::open(const std::filesystem::path& path,
                                                      std::string name) {
  // O_NONBLOCK: opening a FIFO must not wait for a writer; the type is checked before any read.
  auto fd =
      std::make_shared<FileDescriptor>(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd->valid()) throw ShareURLError::fileError(errno, name);
  struct stat info {};
  if (::fstat(fd->get(), &info) != 0) throw ShareURLError::fileError(errno, name);
  if (!S_ISREG(info.st_mode))
    throw ShareURLError::fileError(S_ISDIR(info.st_mode) ? EISDIR : EINVAL, name);
  ::posix_fadvise(fd->get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  return {std::move(fd), static_cast<std::int64_t>(info.st_size), std::move(name),
          nanoseconds(info.st_mtim), nanoseconds(info.st_ctim)};
}

std::int64_t ShareRequestParts::length(const Part& part) {
  if (const auto* bytes = std::get_if<std::string>(&part))
    return static_cast<std::int64_t>(bytes->size());
  return std::get<File>(part).size;
}

std::int64_t ShareRequestParts::size() const {
  std::int64_t total = 0;
  for (const auto& part : parts) total += length(part);
  return total;
}

std::size_t ShareRequestParts::read(std::int64_t offset, char* buffer, std::size_t capacity) const {
  std::size_t filled = 0;
  std::int64_t start = 0;  // where the current part begins in the body
  for (const auto& part : parts) {
    const auto partLength = length(part);
    if (filled == capacity) break;
    if (offset < start + partLength) {
      const auto within = offset - start;
      std::size_t count = 0;
      if (const auto* bytes = std::get_if<std::string>(&part)) {
        count = std::min<std::size_t>(capacity - filled, bytes->size() - within);
        std::memcpy(buffer + filled, bytes->data() + within, count);
      } else {
        count = readFile(std::get<File>(part), within, buffer + filled, capacity - filled);
      }
      filled += count;
      offset += static_cast<std::int64_t>(count);
      if (offset < start + partLength) break;  // a short read: hand over what is there
    }
    start += partLength;
  }
  return filled;
}

std::string ShareRequestParts::joined() const {
  std::string body(static_cast<std::size_t>(size()), '\0');
  std::size_t filled = 0;
  while (filled < body.size()) {
    filled += read(static_cast<std::int64_t>(filled), body.data() + filled, body.size() - filled);
  }
  return body;
}

}  // namespace lumo
