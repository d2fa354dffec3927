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
  /// An open regular file of `size` bytes, sent from its start. The file must stay as it was
  /// opened until the transfer ends: one that shrinks, grows or is written to meanwhile (its
  /// modification or change time moves) fails the transfer with ShareURLError::cannotOpenFile
  /// before its last bytes go out, so the receiver never gets a body that looks whole.
  struct File {
    std::shared_ptr<const FileDescriptor> descriptor;
    std::int64_t size = 0;
    std::string name;  ///< for error texts
    /// The modification and change times when it was opened, in nanoseconds.
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0;

    /// Opens the regular file at `path` and takes its present size. Throws
    /// ShareURLError::fileError (a folder or another kind of file: cannotOpenFile).
    static File open(const std::filesystem::path& path, std::string name);

    bool operator==(const File& other) const {
      return descriptor == other.descriptor && size == other.size && name == other.name &&
             modifiedNs == other.modifiedNs && changedNs == other.changedNs;
    }
  };
  using Part = std::variant<std::string, File>;

  std::vector<Part> parts;

  /// How many bytes `part` adds to the body.
  static std::int64_t length(const Part& part);

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
