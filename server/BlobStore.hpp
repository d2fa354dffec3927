#pragma once

#include <chrono>
#include <cstdint>
#include <istream>
#include <memory>
#include <set>
#include <string>
#include <string_view>

namespace lumo::service {

/// One blob being written; it is removed unless committed, and nobody sees it before.
class BlobWriter {
 public:
  virtual ~BlobWriter() = default;
  /// Appends bytes; false when the storage refused them (`error` tells why, as an errno).
  virtual bool append(std::string_view bytes) = 0;
  /// The errno of the write that failed; 0 while none has.
  virtual int error() const = 0;
  virtual std::uint64_t size() const = 0;
  /// Makes the blob durable and visible under its id, whole. Throws
  /// std::filesystem::filesystem_error.
  virtual void commit() = 0;
};

/// Where the content of documents lives, by id. A blob is visible only once it is complete, so
/// no record ever points at part of one; the records are written after their blob and removed
/// before it. A folder is today's kind (shared by several service nodes on a shared mount);
/// another kind (an object store) answers the same calls.
class BlobStore {
 public:
  virtual ~BlobStore() = default;
  /// A new blob `id`. Throws std::filesystem::filesystem_error when it cannot be made.
  virtual std::unique_ptr<BlobWriter> create(const std::string& id) const = 0;
  /// The blob's bytes from the first, or nullptr when there is no such blob. A blob opened
  /// before it was removed reads to its end.
  virtual std::unique_ptr<std::istream> open(const std::string& id) const = 0;
  virtual void remove(const std::string& id) const = 0;
  /// Deletes what no record refers to (blobs whose record never came or went, uploads a crash
  /// cut short) once nothing has written it for `quiet`: while other processes upload into the
  /// same store, what they are writing or about to record is younger than that.
  virtual void sweep(const std::set<std::string>& referenced, std::chrono::seconds quiet) const = 0;
};

}  // namespace lumo::service
