#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>

#include "BlobStore.hpp"

namespace lumo::service {

/// Blobs as files: "blobs/<id>" under the data folder. An upload streams into a private
/// temporary file beside them, is flushed, and is renamed into place only when it is complete.
class FolderBlobStore final : public BlobStore {
 public:
  /// How a blob's bytes reach its file: write(2) by default.
  using WriteFunction = std::function<ssize_t(int fd, const void* bytes, std::size_t length)>;

  explicit FolderBlobStore(const std::filesystem::path& dataDirectory);

  /// Replaces write(2) for the writers made from now on (tests make a disk that is full).
  void setWriteFunction(WriteFunction write) { write_ = std::move(write); }

  std::unique_ptr<BlobWriter> create(const std::string& id) const override;
  std::unique_ptr<std::istream> open(const std::string& id) const override;
  void remove(const std::string& id) const override;
  void sweep(const std::set<std::string>& referenced, std::chrono::seconds quiet) const override;

 private:
  std::filesystem::path path(const std::string& id) const { return folder_ / id; }

  std::filesystem::path folder_;
  WriteFunction write_;
};

}  // namespace lumo::service
