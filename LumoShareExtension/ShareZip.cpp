#include "ShareZip.hpp"

#include <zlib.h>

#include <algorithm>
#include <ctime>
#include <limits>

namespace lumo {

ShareZipError::ShareZipError(Kind kind, std::int64_t value, std::string name)
    : kind_(kind), value_(value), name_(std::move(name)) {
  switch (kind_) {
    case Kind::tooManyEntries:
      message_ = "too many zip entries: " + std::to_string(value_);
      break;
    case Kind::entryTooLarge:
      message_ = "zip entry too large: " + name_ + " (" + std::to_string(value_) + ")";
      break;
    case Kind::archiveTooLarge:
      message_ = "zip archive too large: " + std::to_string(value_);
      break;
  }
}

ShareZipError ShareZipError::tooManyEntries(std::int64_t count) {
  return ShareZipError(Kind::tooManyEntries, count, "");
}
ShareZipError ShareZipError::entryTooLarge(std::string name, std::int64_t size) {
  return ShareZipError(Kind::entryTooLarge, size, std::move(name));
}
ShareZipError ShareZipError::archiveTooLarge(std::int64_t size) {
  return ShareZipError(Kind::archiveTooLarge, size, "");
}

namespace ShareZip {
namespace {

constexpr std::uint32_t localHeaderSignature = 0x04034b50;
constexpr std::uint32_t centralHeaderSignature = 0x02014b50;
constexpr std::uint32_t endOfDirectorySignature = 0x06054b50;
constexpr std::uint16_t versionNeeded = 20;
constexpr std::uint16_t utf8NamesFlag = 0x0800;
constexpr std::uint16_t storedMethod = 0;
constexpr std::size_t maxEntries = 65535;
constexpr std::size_t maxNameBytes = 65535;

void put16(std::string& out, std::uint16_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>(value >> 8);
}

void put32(std::string& out, std::uint32_t value) {
  put16(out, static_cast<std::uint16_t>(value & 0xFFFF));
  put16(out, static_cast<std::uint16_t>(value >> 16));
}

struct WrittenEntry {
  const Entry* entry;
  std::uint32_t crc;
  std::uint32_t offset;
};

/// The fields local and central headers share, from "version needed" to "extra length".
void putCommonFields(std::string& out, const WrittenEntry& written, DosTimestamp stamp) {
  put16(out, versionNeeded);
  put16(out, utf8NamesFlag);
  put16(out, storedMethod);
  put16(out, stamp.time);
  put16(out, stamp.date);
  put32(out, written.crc);
  put32(out, static_cast<std::uint32_t>(written.entry->data.size()));  // compressed
  put32(out, static_cast<std::uint32_t>(written.entry->data.size()));  // uncompressed
  put16(out, static_cast<std::uint16_t>(written.entry->name.size()));
  put16(out, 0);  // extra field length
}

std::uint32_t checkedOffset(std::size_t offset) {
  if (offset > std::numeric_limits<std::uint32_t>::max()) {
    throw ShareZipError::archiveTooLarge(static_cast<std::int64_t>(offset));
  }
  return static_cast<std::uint32_t>(offset);
}

void validate(const Entry& entry) {
  if (entry.name.size() > maxNameBytes) {
    throw ShareZipError::entryTooLarge(entry.name, static_cast<std::int64_t>(entry.name.size()));
  }
  if (entry.data.size() > static_cast<std::uint64_t>(maxEntryBytes)) {
    throw ShareZipError::entryTooLarge(entry.name, static_cast<std::int64_t>(entry.data.size()));
  }
}

std::size_t archiveSize(const std::vector<Entry>& entries) {
  std::size_t size = 22;
  for (const auto& entry : entries) size += 30 + 46 + 2 * entry.name.size() + entry.data.size();
  return size;
}

}  // namespace

std::string archive(const std::vector<Entry>& entries, std::int64_t modifiedAtMs) {
  if (entries.size() > maxEntries) {
    throw ShareZipError::tooManyEntries(static_cast<std::int64_t>(entries.size()));
  }
  const auto stamp = dosTimestamp(modifiedAtMs);
  std::string out;
  out.reserve(archiveSize(entries));
  std::vector<WrittenEntry> written;
  written.reserve(entries.size());
  for (const auto& entry : entries) {
    validate(entry);
    written.push_back({&entry, crc32(entry.data), checkedOffset(out.size())});
    put32(out, localHeaderSignature);
    putCommonFields(out, written.back(), stamp);
    out += entry.name;
    out += entry.data;
  }
  const auto directoryOffset = checkedOffset(out.size());
  for (const auto& entry : written) {
    put32(out, centralHeaderSignature);
    put16(out, versionNeeded);  // version made by
    putCommonFields(out, entry, stamp);
    put16(out, 0);  // comment length
    put16(out, 0);  // disk number
    put16(out, 0);  // internal attributes
    put32(out, 0);  // external attributes
    put32(out, entry.offset);
    out += entry.entry->name;
  }
  const auto directorySize = checkedOffset(out.size() - directoryOffset);
  put32(out, endOfDirectorySignature);
  put16(out, 0);  // this disk
  put16(out, 0);  // disk of the directory
  put16(out, static_cast<std::uint16_t>(entries.size()));
  put16(out, static_cast<std::uint16_t>(entries.size()));
  put32(out, directorySize);
  put32(out, directoryOffset);
  put16(out, 0);  // comment length
  return out;
}

std::uint32_t crc32(std::string_view data) {
  // zlib takes lengths as uInt: feed large inputs in pieces.
  constexpr std::size_t piece = 1u << 30;
  uLong crc = ::crc32(0L, Z_NULL, 0);
  for (std::size_t offset = 0; offset < data.size(); offset += piece) {
    const auto length = std::min(piece, data.size() - offset);
    crc = ::crc32(crc, reinterpret_cast<const Bytef*>(data.data() + offset),
                  static_cast<uInt>(length));
  }
  return static_cast<std::uint32_t>(crc);
}

DosTimestamp dosTimestamp(std::int64_t epochMs) {
  // Floor division: a moment before the epoch belongs to the second that starts before it.
  auto seconds = epochMs / 1000 - (epochMs % 1000 < 0 ? 1 : 0);
  seconds = std::clamp<std::int64_t>(seconds, std::numeric_limits<std::int32_t>::min() * 100LL,
                                     std::numeric_limits<std::int32_t>::max() * 100LL);
  const auto moment = static_cast<std::time_t>(seconds);
  std::tm local{};
  if (::localtime_r(&moment, &local) == nullptr) return DosTimestamp{0, (1 << 5) | 1};
  const auto year = std::clamp(local.tm_year + 1900, 1980, 2107);
  const auto month = std::clamp(local.tm_mon + 1, 1, 12);
  const auto day = std::clamp(local.tm_mday, 1, 31);
  const auto hour = std::clamp(local.tm_hour, 0, 23);
  const auto minute = std::clamp(local.tm_min, 0, 59);
  const auto second = std::clamp(local.tm_sec, 0, 59);
  return DosTimestamp{static_cast<std::uint16_t>(hour * 2048 + minute * 32 + second / 2),
                      static_cast<std::uint16_t>((year - 1980) * 512 + month * 32 + day)};
}

}  // namespace ShareZip
}  // namespace lumo
