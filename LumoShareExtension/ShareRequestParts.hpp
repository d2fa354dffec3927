#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "FileDescriptor.hpp"

namespace lumo {

/// A request body made of pieces sent one after another: bytes held in memory, and open files
/// whose bytes are read from disk only while the body goes out. A large upload then needs no
/// more memory than the transfer's buffer, and its length is known before the first byte.
struct ShareRequestParts {
  /// An open regular file of `size` bytes, sent from its start. The file must keep that size
  /// until the transfer ends: one that shrinks or grows meanwhile fails the transfer with
  /// ShareURLError::cannotOpenFile rather than send a body that differs from its length.
  struct File {
    std::shared_ptr<const FileDescriptor> descriptor;
    std::int64_t size = 0;
    std::string name;  ///< for error texts

    /// Opens the regular file at `path` and takes its present size. Throws
    /// ShareURLError::fileError (a folder or another kind of file: cannotOpenFile).
    static File open(const std::filesystem::path& path, std::string name);

    bool operator==(const File& other) const {
      return descriptor == other.descriptor && size == other.size && name == other.name;
    }
  };
  using Part = std::variant<std::string, File>;

  std::vector<Part> parts;

  /// Every part's length added up: the body's Content-Length.
  std::int64_t size() const;

  /// Copies up to `capacity` bytes of the body from `offset` into `buffer` and answers how many;
  /// 0 only at the end. Throws ShareURLError when a file cannot be read or changed size.
  std::size_t read(std::int64_t offset, char* buffer, std::size_t capacity) const;

  /// The whole body in memory, for a transport that cannot stream. Throws as `read` does.
  std::string joined() const;

  bool operator==(const ShareRequestParts&) const = default;
};

}  // namespace lumo
