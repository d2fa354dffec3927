#pragma once

#include <filesystem>
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
  explicit BlobStore(std::filesystem::path dataDirectory);

  /// One blob being written; removed unless committed.
  class Writer {
   public:
    Writer(const BlobStore& store, std::string id);
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    /// Appends bytes; false when the disk refused them.
    bool append(std::string_view bytes);
    std::uint64_t size() const { return size_; }
    /// Flushes and moves the blob into place. Throws std::filesystem::filesystem_error.
    void commit();

   private:
    std::filesystem::path temporary_;
    std::filesystem::path final_;
    FileDescriptor fd_;
    std::uint64_t size_ = 0;
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
};

}  // namespace lumo::service
