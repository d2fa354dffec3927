#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

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

/// Writes stored (uncompressed) zip archives in memory, for packing a few small files into one
/// upload. Names are flagged as UTF-8; no ZIP64 records, so sizes and offsets stay below 4 GiB.
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

/// CRC-32 of the ZIP format (reflected polynomial 0xEDB88320).
std::uint32_t crc32(std::string_view data);

/// MS-DOS time and date words of a moment, in the local time zone, each part clamped to what
/// the format can hold (years 1980 to 2107).
DosTimestamp dosTimestamp(std::int64_t epochMs);

}  // namespace ShareZip
}  // namespace lumo
