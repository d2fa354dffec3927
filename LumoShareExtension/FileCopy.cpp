#include "FileCopy.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "FileDescriptor.hpp"
#include "FileDigest.hpp"

namespace lumo::FileCopy {
namespace fs = std::filesystem;
namespace {

// The kernel copies in steps that start small, so that hashing begins as soon as the first
// mebibyte has landed rather than after a whole step (milliseconds that add to the whole time of
// staging), and double up to the largest, so that the hashing thread is woken once per 8 MiB of a
// large file rather than once per mebibyte.
constexpr std::size_t firstKernelChunkBytes = 1024 * 1024;
constexpr std::size_t kernelChunkBytes = 8 * 1024 * 1024;
constexpr std::size_t bufferBytes = 1024 * 1024;

[[noreturn]] void fail(const char* what, const fs::path& path, int error) {
  throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

/// What the kernel copier has done so far, shared with the hashing thread.
class CopyProgress {
 public:
  void advance(off_t copied) {
    {
      std::lock_guard lock(mutex_);
      copied_ = copied;
    }
    changed_.notify_one();
  }
  void finish(std::optional<int> error) {
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
      error_ = error;
    }
    changed_.notify_one();
  }
  /// Waits until more than `hashed` bytes were copied or the copier finished; answers the copied
  /// count and whether the copier is done.
  std::pair<off_t, bool> waitBeyond(off_t hashed) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return finished_ || copied_ > hashed; });
    return {copied_, finished_};
  }
  std::optional<int> error() {
    std::lock_guard lock(mutex_);
    return error_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  off_t copied_ = 0;
  bool finished_ = false;
  std::optional<int> error_;
};

/// Whether copy_file_range failed because this pair of files cannot be copied by the kernel (an
/// ordinary read loop can still copy them), as opposed to a real read or write error.
bool kernelRefused(int error) {
  return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP ||
         error == EBADF || error == ETXTBSY || error == EPERM;
}

/// Copies with copy_file_range until it reports the end or refuses. A refusal leaves the rest to
/// the read loop; the offset reached is published through `progress`.
void kernelCopy(int in, int out, CopyProgress& progress) {
  off_t offset = 0;
  std::size_t step = firstKernelChunkBytes;
  for (;;) {
    off_t inOffset = offset;
    off_t outOffset = offset;
    const auto count = ::copy_file_range(in, &inOffset, out, &outOffset, step, 0);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0)
      return progress.finish(kernelRefused(errno) ? std::nullopt : std::optional(errno));
    if (count == 0) return progress.finish(std::nullopt);
    offset += count;
    progress.advance(offset);
    step = std::min(step * 2, kernelChunkBytes);
  }
}

ssize_t readSome(int fd, char* buffer, std::size_t size, off_t* offset) {
  for (;;) {
    const auto count = offset ? ::pread(fd, buffer, size, *offset) : ::read(fd, buffer, size);
    if (count < 0 && errno == EINTR) continue;
    if (count > 0 && offset) *offset += count;
    return count;
  }
}

void writeAll(int fd, const char* data, std::size_t size, off_t offset, const fs::path& path) {
  while (size > 0) {
    const auto written = ::pwrite(fd, data, size, offset);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) fail("cannot write staged copy", path, errno);
    data += written;
    size -= static_cast<std::size_t>(written);
    offset += written;
  }
}

/// Reads the destination's bytes [from, to) into the hash.
void hashRange(int out, off_t from, off_t to, std::vector<char>& buffer, FileDigest::Sha256& hash,
               const fs::path& path) {
  while (from < to) {
    const auto want = static_cast<std::size_t>(std::min<off_t>(to - from, buffer.size()));
    const auto count = readSome(out, buffer.data(), want, &from);
    if (count < 0) fail("cannot read staged copy", path, errno);
    if (count == 0) fail("staged copy shrank while it was hashed", path, EIO);
    hash.update(buffer.data(), static_cast<std::size_t>(count));
  }
}

/// Copies and hashes what is left after `offset` with read and write. `positioned` reads the
/// source at explicit offsets (a regular file), else sequentially (a pipe).
void readLoop(int in, bool positioned, int out, off_t offset, std::vector<char>& buffer,
              FileDigest::Sha256& hash, const fs::path& path,
              std::uint64_t maxBytes = std::numeric_limits<std::uint64_t>::max()) {
  off_t inOffset = offset;
  for (;;) {
    const auto count = readSome(in, buffer.data(), buffer.size(), positioned ? &inOffset : nullptr);
    if (count < 0) fail("cannot read the shared file", path, errno);
    if (count == 0) return;
    if (static_cast<std::uint64_t>(offset + count) > maxBytes) fail("input too large", path, EFBIG);
    writeAll(out, buffer.data(), static_cast<std::size_t>(count), offset, path);
    hash.update(buffer.data(), static_cast<std::size_t>(count));
    offset += count;
  }
}

/// Kernel copy on a second thread while this one hashes the destination behind it.
std::string copyRegular(int in, int out, const fs::path& path,
                        const std::function<void(std::int64_t)>& copiedSoFar) {
  FileDigest::Sha256 hash;
  std::vector<char> buffer(bufferBytes);
  CopyProgress progress;
  off_t hashed = 0;
  {
    std::jthread copier([&] { kernelCopy(in, out, progress); });
    for (;;) {
      const auto [copied, done] = progress.waitBeyond(hashed);
      hashRange(out, hashed, copied, buffer, hash, path);
      hashed = copied;
      if (copiedSoFar) copiedSoFar(hashed);
      if (done) break;
    }
  }
  if (const auto error = progress.error()) fail("cannot copy the shared file", path, *error);
  // The kernel may stop early (a refusal, or a file whose reported size is 0, as in /proc): the
  // read loop confirms the end of the file or copies the rest.
  readLoop(in, true, out, hashed, buffer, hash, path);
  return hash.hex();
}

/// Removes the destination unless the copy completed.
struct DestinationGuard {
  const fs::path& path;
  bool keep = false;
  ~DestinationGuard() {
    if (!keep) ::unlink(path.c_str());
  }
};

FileDescriptor createDestination(const fs::path& destination) {
  ::unlink(destination.c_str());
  FileDescriptor out(
      ::open(destination.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!out.valid()) fail("cannot create staged copy", destination, errno);
  return out;
}

}  // namespace

std::string copyHashing(const fs::path& source, const fs::path& destination,
                        const std::function<void(std::int64_t)>& copied) {
  // O_NONBLOCK: opening a FIFO must not wait for a writer; the type is checked before any read.
  const FileDescriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!in.valid()) fail("cannot open the shared file", source, errno);
  struct stat info {};
  if (::fstat(in.get(), &info) != 0) fail("cannot read the shared file", source, errno);
  if (!S_ISREG(info.st_mode)) fail("not a regular file", source, EINVAL);
  ::fcntl(in.get(), F_SETFL, ::fcntl(in.get(), F_GETFL) & ~O_NONBLOCK);
  const auto out = createDestination(destination);
  DestinationGuard guard{destination};
  auto digest = copyRegular(in.get(), out.get(), destination, copied);
  guard.keep = true;
  return digest;
}

std::string copyHashing(int sourceFd, const fs::path& destination, std::uint64_t maxBytes) {
  const auto out = createDestination(destination);
  DestinationGuard guard{destination};
  FileDigest::Sha256 hash;
  std::vector<char> buffer(bufferBytes);
  readLoop(sourceFd, false, out.get(), 0, buffer, hash, destination, maxBytes);
  guard.keep = true;
  return hash.hex();
}

}  // namespace lumo::FileCopy
