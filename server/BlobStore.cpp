#include "BlobStore.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "AtomicFile.hpp"

namespace lumo::service {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view temporaryPrefix = ".upload-";

}  // namespace

BlobStore::BlobStore(fs::path dataDirectory)
    : folder_(std::move(dataDirectory) / "blobs"), write_(::write) {
  AtomicFile::createDirectories(folder_);
}

BlobStore::Writer::Writer(const BlobStore& store, std::string id)
    : temporary_(store.folder_ / (std::string(temporaryPrefix) + id)),
      final_(store.path(id)),
      write_(store.write_) {
  fd_ = FileDescriptor(
      ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd_.valid()) {
    throw fs::filesystem_error("cannot create blob", temporary_,
                               std::error_code(errno, std::generic_category()));
  }
}

BlobStore::Writer::~Writer() {
  fd_.close();
  if (!committed_) ::unlink(temporary_.c_str());
}

bool BlobStore::Writer::append(std::string_view bytes) {
  while (!bytes.empty()) {
    const auto written = write_(fd_.get(), bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      error_ = written < 0 ? errno : ENOSPC;  // a write that makes no progress: no room
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
    size_ += static_cast<std::uint64_t>(written);
  }
  return true;
}

void BlobStore::Writer::commit() {
  if (::fsync(fd_.get()) != 0) {
    throw fs::filesystem_error("cannot flush blob", temporary_,
                               std::error_code(errno, std::generic_category()));
  }
  fd_.close();
  fs::rename(temporary_, final_);
  committed_ = true;
}

void BlobStore::remove(const std::string& id) const {
  std::error_code ignored;
  fs::remove(path(id), ignored);
}

void BlobStore::sweep(const std::set<std::string>& referenced) const {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder_, error)) {
    if (referenced.count(entry.path().filename().string()) != 0) continue;
    std::error_code ignored;
    fs::remove(entry.path(), ignored);
  }
}

}  // namespace lumo::service
