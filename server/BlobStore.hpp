#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <string_view>

#include "FileDescriptor.hpp"

namespace lumo::service {

/// The content files of documents: "blobs/<id>" under the data folder. An upload streams into a
/// private temporary file beside them and is renamed into place only when it is complete, so a
/// crash or a refused upload never leaves a partial blob.
class BlobStore {
 public:
  /// How a blob's bytes reach its file: write(2) by default.
  using WriteFunction = std::function<ssize_t(int fd, const void* bytes, std::size_t length)>;

  explicit BlobStore(std::filesystem::path dataDirectory);

  /// Replaces write(2) for the writers made from now on (tests make a disk that is full).
  void setWriteFunction(WriteFunction write) { write_ = std::move(write); }

  /// One blob being written; removed unless committed.
  class Writer {
   public:
    Writer(const BlobStore& store, std::string id);
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    /// Appends bytes; false when the disk refused them (`error` tells why).
    bool append(std::string_view bytes);
    /// The errno of the write that failed; 0 while none has.
    int error() const { return error_; }
    std::uint64_t size() const { return size_; }
    /// Flushes and moves the blob into place. Throws std::filesystem::filesystem_error.
    void commit();

   private:
    std::filesystem::path temporary_;
    std::filesystem::path final_;
    FileDescriptor fd_;
    WriteFunction write_;
    std::uint64_t size_ = 0;
    int error_ = 0;
    bool committed_ = false;
  };

  std::filesystem::path path(const std::string& id) const { return folder_ / id; }
  void remove(const std::string& id) const;
  /// Deletes every file but the `referenced` blobs: the temporaries of uploads a crash cut
  /// short, and blobs whose row never came (a crash between the two) or was removed. Only safe
  /// while nothing uploads, that is at start-up.
  void sweep(const std::set<std::string>& referenced) const;

 private:
  std::filesystem::path folder_;
  WriteFunction write_;
};

}  // namespace lumo::service
