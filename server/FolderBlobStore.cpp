#include "FolderBlobStore.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <system_error>

#include "AtomicFile.hpp"
#include "FileDescriptor.hpp"

namespace lumo::service {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view temporaryPrefix = ".upload-";

class FileBlobWriter final : public BlobWriter {
 public:
  FileBlobWriter(fs::path temporary, fs::path final, FolderBlobStore::WriteFunction write)
      : temporary_(std::move(temporary)), final_(std::move(final)), write_(std::move(write)) {
    fd_ = FileDescriptor(
        ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd_.valid()) {
      throw fs::filesystem_error("cannot create blob", temporary_,
                                 std::error_code(errno, std::generic_category()));
    }
  }
  ~FileBlobWriter() override {
    fd_.close();
    if (!committed_) ::unlink(temporary_.c_str());
  }
  FileBlobWriter(const FileBlobWriter&) = delete;
  FileBlobWriter& operator=(const FileBlobWriter&) = delete;

  bool append(std::string_view bytes) override {
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
  int error() const override { return error_; }
  std::uint64_t size() const override { return size_; }

  void commit() override {
    if (::fsync(fd_.get()) != 0) {
      throw fs::filesystem_error("cannot flush blob", temporary_,
                                 std::error_code(errno, std::generic_category()));
    }
    fd_.close();
    fs::rename(temporary_, final_);
    committed_ = true;
  }

 private:
  fs::path temporary_;
  fs::path final_;
  FileDescriptor fd_;
  FolderBlobStore::WriteFunction write_;
  std::uint64_t size_ = 0;
  int error_ = 0;
  bool committed_ = false;
};

}  // namespace

FolderBlobStore::FolderBlobStore(const fs::path& dataDirectory)
    : folder_(dataDirectory / "blobs"), write_(::write) {
  AtomicFile::createDirectories(folder_);
}

std::unique_ptr<BlobWriter> FolderBlobStore::create(const std::string& id) const {
  return std::make_unique<FileBlobWriter>(folder_ / (std::string(temporaryPrefix) + id), path(id),
                                          write_);
}

std::unique_ptr<std::istream> FolderBlobStore::open(const std::string& id) const {
  auto in = std::make_unique<std::ifstream>(path(id), std::ios::binary);
  if (!*in) return nullptr;
  return in;
}

void FolderBlobStore::remove(const std::string& id) const {
  std::error_code ignored;
  fs::remove(path(id), ignored);
}

void FolderBlobStore::sweep(const std::set<std::string>& referenced,
                            std::chrono::seconds quiet) const {
  const auto writtenBefore = fs::file_time_type::clock::now() - quiet;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder_, error)) {
    if (referenced.count(entry.path().filename().string()) != 0) continue;
    std::error_code ignored;
    if (quiet.count() > 0 && entry.last_write_time(ignored) > writtenBefore) continue;
    fs::remove(entry.path(), ignored);
  }
}

}  // namespace lumo::service
