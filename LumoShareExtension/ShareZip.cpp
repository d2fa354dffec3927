#include "ShareZip.hpp"

#include <zlib.h>

#include <algorithm>
#include <ctime>
#include <future>
#include <limits>
#include <system_error>
#include <thread>

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

/// One entry as its headers describe it.
struct Layout {
  std::string_view name;
  std::uint32_t size;
  std::uint32_t crc;
  std::uint32_t offset;  ///< of its local header in the archive
};

/// The fields local and central headers share, from "version needed" to "extra length".
void putCommonFields(std::string& out, const Layout& entry, DosTimestamp stamp) {
  put16(out, versionNeeded);
  put16(out, utf8NamesFlag);
  put16(out, storedMethod);
  put16(out, stamp.time);
  put16(out, stamp.date);
  put32(out, entry.crc);
  put32(out, entry.size);  // compressed
  put32(out, entry.size);  // uncompressed
  put16(out, static_cast<std::uint16_t>(entry.name.size()));
  put16(out, 0);  // extra field length
}

std::uint32_t checkedOffset(std::size_t offset) {
  if (offset > std::numeric_limits<std::uint32_t>::max()) {
    throw ShareZipError::archiveTooLarge(static_cast<std::int64_t>(offset));
  }
  return static_cast<std::uint32_t>(offset);
}

void checkCount(std::size_t count) {
  if (count > maxEntries) throw ShareZipError::tooManyEntries(static_cast<std::int64_t>(count));
}

/// The entry at `offset`, once its name and size are known to fit the headers.
Layout describe(std::string_view name, std::uint64_t size, std::uint32_t crc, std::size_t offset) {
  if (name.size() > maxNameBytes)
    throw ShareZipError::entryTooLarge(std::string(name), static_cast<std::int64_t>(name.size()));
  if (size > static_cast<std::uint64_t>(maxEntryBytes))
    throw ShareZipError::entryTooLarge(std::string(name), static_cast<std::int64_t>(size));
  return {name, static_cast<std::uint32_t>(size), crc, checkedOffset(offset)};
}

void putLocalHeader(std::string& out, const Layout& entry, DosTimestamp stamp) {
  put32(out, localHeaderSignature);
  putCommonFields(out, entry, stamp);
  out += entry.name;
}

/// The central directory and its end record, for a directory that starts at `offset`.
void putDirectory(std::string& out, const std::vector<Layout>& entries, DosTimestamp stamp,
                  std::size_t offset) {
  const auto directoryOffset = checkedOffset(offset);
  const auto start = out.size();
  for (const auto& entry : entries) {
    put32(out, centralHeaderSignature);
    put16(out, versionNeeded);  // version made by
    putCommonFields(out, entry, stamp);
    put16(out, 0);  // comment length
    put16(out, 0);  // disk number
    put16(out, 0);  // internal attributes
    put32(out, 0);  // external attributes
    put32(out, entry.offset);
    out += entry.name;
  }
  const auto directorySize = checkedOffset(out.size() - start);
  put32(out, endOfDirectorySignature);
  put16(out, 0);  // this disk
  put16(out, 0);  // disk of the directory
  put16(out, static_cast<std::uint16_t>(entries.size()));
  put16(out, static_cast<std::uint16_t>(entries.size()));
  put32(out, directorySize);
  put32(out, directoryOffset);
  put16(out, 0);  // comment length
}

uLong crcUpdate(uLong crc, const char* data, std::size_t size) {
  // zlib takes lengths as uInt: feed large inputs in pieces.
  constexpr std::size_t piece = 1u << 30;
  for (std::size_t offset = 0; offset < size; offset += piece) {
    const auto length = std::min(piece, size - offset);
    crc = ::crc32(crc, reinterpret_cast<const Bytef*>(data + offset), static_cast<uInt>(length));
  }
  return crc;
}

/// The CRC-32 of `size` bytes, where `slice(begin, end)` answers the CRC-32 of bytes
/// [begin, end). zlib sums one byte stream on one core; a large input is cut into a slice per
/// core, summed side by side and joined with crc32_combine, which gives the same value.
template <class Slice>
std::uint32_t crcInSlices(std::int64_t size, const Slice& slice) {
  constexpr std::int64_t minimumSlice = 2 << 20;
  const auto cores = std::clamp<std::int64_t>(std::thread::hardware_concurrency(), 1, 8);
  const auto count = std::clamp<std::int64_t>(size / minimumSlice, 1, cores);
  const auto length = size / count;
  const auto endOf = [&](std::int64_t index) {
    return index + 1 == count ? size : (index + 1) * length;
  };
  std::vector<std::future<uLong>> others;
  for (std::int64_t index = 1; index < count; ++index) {
    try {
      others.push_back(std::async(std::launch::async, slice, index * length, endOf(index)));
    } catch (const std::system_error&) {  // no thread to spare: summed here when it is asked for
      others.push_back(std::async(std::launch::deferred, slice, index * length, endOf(index)));
    }
  }
  auto crc = slice(0, endOf(0));
  for (std::int64_t index = 1; index < count; ++index) {
    const auto sliceLength = static_cast<z_off_t>(endOf(index) - index * length);
    crc = ::crc32_combine(crc, others[index - 1].get(), sliceLength);
  }
  return static_cast<std::uint32_t>(crc);
}

/// The CRC-32 of a whole file, read in pieces that stay in the cache while they are summed.
std::uint32_t crc32Of(const ShareRequestParts::File& file) {
  const ShareRequestParts whole{{file}};
  return crcInSlices(file.size, [&whole](std::int64_t begin, std::int64_t end) {
    std::vector<char> buffer(256 * 1024);
    uLong crc = ::crc32(0L, Z_NULL, 0);
    while (begin < end) {
      const auto wanted =
          static_cast<std::size_t>(std::min<std::int64_t>(end - begin, buffer.size()));
      const auto count = whole.read(begin, buffer.data(), wanted);
      crc = crcUpdate(crc, buffer.data(), count);
      begin += static_cast<std::int64_t>(count);
    }
    return crc;
  });
}

}  // namespace

std::string archive(const std::vector<Entry>& entries, std::int64_t modifiedAtMs) {
  std::vector<StreamedEntry> inMemory;
  inMemory.reserve(entries.size());
  for (const auto& entry : entries) inMemory.push_back({entry.name, entry.data});
  return streamedArchive(inMemory, modifiedAtMs).joined();
}

ShareRequestParts streamedArchive(const std::vector<StreamedEntry>& entries,
                                  std::int64_t modifiedAtMs) {
  checkCount(entries.size());
  const auto stamp = dosTimestamp(modifiedAtMs);
  // Every size and offset first: an archive the format cannot hold is refused before any file
  // is read for its CRC-32.
  std::vector<Layout> layout;
  layout.reserve(entries.size());
  std::size_t offset = 0;
  for (const auto& entry : entries) {
    const auto size = static_cast<std::uint64_t>(ShareRequestParts::length(entry.source));
    layout.push_back(describe(entry.name, size, 0, offset));
    offset += 30 + entry.name.size() + size;
  }
  checkedOffset(offset);  // where the directory starts

  ShareRequestParts archive;
  std::string pending;  // headers (and entries in memory) up to the next file's bytes
  for (std::size_t index = 0; index < entries.size(); ++index) {
    const auto* bytes = std::get_if<std::string>(&entries[index].source);
    const auto* file = std::get_if<ShareRequestParts::File>(&entries[index].source);
    layout[index].crc = bytes ? crc32(*bytes) : crc32Of(*file);
    putLocalHeader(pending, layout[index], stamp);
    if (bytes) {
      pending += *bytes;
    } else {
      archive.parts.emplace_back(std::move(pending));
      pending.clear();
      archive.parts.emplace_back(*file);
    }
  }
  putDirectory(pending, layout, stamp, offset);
  archive.parts.emplace_back(std::move(pending));
  return archive;
}

std::uint32_t crc32(std::string_view data) {
  return crcInSlices(static_cast<std::int64_t>(data.size()),
                     [data](std::int64_t begin, std::int64_t end) {
                       return crcUpdate(::crc32(0L, Z_NULL, 0), data.data() + begin,
                                        static_cast<std::size_t>(end - begin));
                     });
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
