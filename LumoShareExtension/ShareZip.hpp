#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "ShareRequestParts.hpp"

namespace lumo {

/// Why an in-memory zip could not be written.
class ShareZipError : public std::exception {
 public:
  enum class Kind { tooManyEntries, entryTooLarge, archiveTooLarge };

  static ShareZipError tooManyEntries(std::int64_t count);
  static ShareZipError entryTooLarge(std::string name, std::int64_t size);
  static ShareZipError archiveTooLarge(std::int64_t size);

  Kind kind() const noexcept { return kind_; }
  /// The entry count, the offending size, or the archive size reached.
  std::int64_t value() const noexcept { return value_; }
  const std::string& name() const noexcept { return name_; }
  const char* what() const noexcept override { return message_.c_str(); }
  bool operator==(const ShareZipError& other) const {
    return kind_ == other.kind_ && value_ == other.value_ && name_ == other.name_;
  }

 private:
  ShareZipError(Kind kind, std::int64_t value, std::string name);
  Kind kind_;
  std::int64_t value_;
  std::string name_;
  std::string message_;
};

/// Writes stored (uncompressed) zip archives, for packing a few files into one upload: in memory,
/// or as pieces of a request body that read each file only while it is sent. Names are flagged
/// as UTF-8; no ZIP64 records, so sizes and offsets stay below 4 GiB.
namespace ShareZip {

inline constexpr std::int64_t maxEntryBytes = 4294967295;

struct Entry {
  std::string name;  ///< path inside the archive, UTF-8
  std::string data;  ///< the bytes
  bool operator==(const Entry&) const = default;
};

struct DosTimestamp {
  std::uint16_t time = 0;
  std::uint16_t date = 0;
  bool operator==(const DosTimestamp&) const = default;
};

/// The archive's bytes: the entries in order, all stamped with `modifiedAtMs`. Throws
/// ShareZipError.
std::string archive(const std::vector<Entry>& entries, std::int64_t modifiedAtMs);

/// An entry whose bytes are a piece of a request body: bytes in memory or an open file.
struct StreamedEntry {
  std::string name;  ///< path inside the archive, UTF-8
  ShareRequestParts::Part source;
};

/// The same archive as pieces to send: headers and directory in memory, each file's bytes read
/// from the file as the pieces are sent. Each file is read once here for its CRC-32, so it must
/// not change until the archive is sent. Throws ShareZipError, and ShareURLError for a file
/// that cannot be read or changes size.
ShareRequestParts streamedArchive(const std::vector<StreamedEntry>& entries,
                                  std::int64_t modifiedAtMs);

/// CRC-32 of the ZIP format (reflected polynomial 0xEDB88320).
std::uint32_t crc32(std::string_view data);

/// MS-DOS time and date words of a moment, in the local time zone, each part clamped to what
/// the format can hold (years 1980 to 2107).
DosTimestamp dosTimestamp(std::int64_t epochMs);

}  // namespace ShareZip
}  // namespace lumo
