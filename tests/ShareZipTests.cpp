#include <gtest/gtest.h>

#include <fmt/format.h>

#include <fstream>

#include "LumoShare.hpp"
#include "TemporaryDirectory.hpp"
#include "TestCommand.hpp"

namespace lumo {
namespace {

using testing::runCommand;
using testing::shellQuoted;

std::filesystem::path saved(const testing::TemporaryDirectory& folder, const std::string& bytes) {
  const auto file = folder / "archive.zip";
  std::ofstream(file, std::ios::binary) << bytes;
  return file;
}

/// Local time of the machine for a y/m/d h:m:s, in epoch ms.
std::int64_t localMs(int year, int month, int day, int hour, int minute, int second) {
  std::tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  parts.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&parts)) * 1000;
}

TEST(ShareZipFormat, EmptyAndOversizedArchivesAndARealReaderAcceptsNamesSizesCrcsAndTimes) {
  const auto bytes = ShareZip::archive({}, 0);
  EXPECT_EQ(bytes.size(), 22u);
  EXPECT_EQ(bytes.substr(0, 4), std::string("PK\x05\x06", 4));
  const auto empty = ShareZip::archive({{"", ""}}, 0);
  EXPECT_EQ(empty.size(), 30u + 46u + 22u);
  EXPECT_EQ(empty.substr(14, 12), std::string(12, '\0'));  // CRC and both sizes

  std::vector<ShareZip::Entry> many(65536, ShareZip::Entry{"a", ""});
  EXPECT_EQ(testing::thrown<ShareZipError>([&] { ShareZip::archive(many, 0); }),
            ShareZipError::tooManyEntries(65536));
  many.resize(65535);
  EXPECT_NO_THROW(ShareZip::archive(many, 0));
  const std::string longName(65536, 'n');
  EXPECT_EQ(testing::thrown<ShareZipError>([&] {
              ShareZip::archive({{longName, "x"}}, 0);
            }),
            ShareZipError::entryTooLarge(longName, 65536));
  testing::TemporaryDirectory folder;
  std::string binary(70000, '\0');
  for (std::size_t index = 0; index < binary.size(); ++index)
    binary[index] = static_cast<char>(index * 31);
  const std::vector<ShareZip::Entry> entries = {
      {"readme.txt", "hello zip"},
      {"文件夹/照片 ü.bin", binary},
      {"empty", ""},
  };
  const auto file = saved(folder, ShareZip::archive(entries, localMs(2024, 3, 5, 14, 7, 59)));
  const auto test = runCommand("unzip -tq " + shellQuoted(file) + " 2>&1");
  EXPECT_EQ(test.status, 0) << test.output;

  // Python's reader honours the UTF-8 name flag (Debian's unzip transcodes DOS-made names).
  const auto listing = runCommand(
      "python3 -c 'import sys, zipfile\n"
      "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
      "  print(i.filename, i.file_size, i.compress_size, \"%08x\" % i.CRC, i.date_time)' " +
      shellQuoted(file));
  EXPECT_EQ(listing.output, "readme.txt 9 9 " +
                                fmt::format("{:08x}", ShareZip::crc32("hello zip")) +
                                " (2024, 3, 5, 14, 7, 58)\n"
                                "文件夹/照片 ü.bin 70000 70000 " +
                                fmt::format("{:08x}", ShareZip::crc32(binary)) +
                                " (2024, 3, 5, 14, 7, 58)\n"
                                "empty 0 0 00000000 (2024, 3, 5, 14, 7, 58)\n");

  const auto before1980 = ShareZip::dosTimestamp(localMs(1975, 6, 15, 10, 30, 20));
  EXPECT_EQ(before1980.date, (0 << 9) | (6 << 5) | 15);
  EXPECT_EQ(before1980.time, (10 << 11) | (30 << 5) | 10);
  EXPECT_EQ(ShareZip::dosTimestamp(localMs(2150, 1, 2, 0, 0, 1)).date, (127 << 9) | (1 << 5) | 2);
  EXPECT_EQ(ShareZip::dosTimestamp(localMs(2024, 12, 31, 23, 59, 59)).time,
            (23 << 11) | (59 << 5) | 29);

  const auto old = saved(folder, ShareZip::archive({{"old", "x"}}, localMs(1970, 1, 1, 12, 0, 0)));
  const auto times = runCommand("unzip -Z -T " + shellQuoted(old));
  EXPECT_NE(times.output.find(" 19800101.120000 old"), std::string::npos) << times.output;
}

TEST(ShareZipFormat, StreamedArchivesAreTheSameBytesAndFilesTooLargeAreRefusedUnread) {
  testing::TemporaryDirectory folder;
  std::string binary((5 << 20) + 7, '\0');  // large enough to be summed in slices
  for (std::size_t index = 0; index < binary.size(); ++index)
    binary[index] = static_cast<char>(index * 131 + index / 7);
  std::ofstream(folder / "a.bin", std::ios::binary) << binary;
  std::ofstream(folder / "empty.bin", std::ios::binary);
  using File = ShareRequestParts::File;
  const auto stamp = localMs(2024, 3, 5, 14, 7, 59);
  const std::vector<ShareZip::StreamedEntry> streamed = {
      {"01-a.bin", File::open(folder / "a.bin", "a.bin")},
      {"02-empty", File::open(folder / "empty.bin", "empty.bin")},
      {"message.md", std::string("note")},
      {"03-a.bin", File::open(folder / "a.bin", "a.bin")},
  };
  const auto bytes = ShareZip::streamedArchive(streamed, stamp).joined();
  EXPECT_EQ(
      bytes,
      ShareZip::archive(
          {{"01-a.bin", binary}, {"02-empty", ""}, {"message.md", "note"}, {"03-a.bin", binary}},
          stamp));
  const auto test = runCommand("unzip -tq " + shellQuoted(saved(folder, bytes)) + " 2>&1");
  EXPECT_EQ(test.status, 0) << test.output;  // its own CRC-32 of every entry agrees

  // Declared larger than the format holds (and than the file, so reading it would fail).
  auto huge = File::open(folder / "a.bin", "a.bin");
  huge.size = ShareZip::maxEntryBytes + 1;
  EXPECT_EQ(testing::thrown<ShareZipError>([&] {
              ShareZip::streamedArchive({{"big", huge}}, 0);
            }),
            ShareZipError::entryTooLarge("big", ShareZip::maxEntryBytes + 1));
}

}  // namespace
}  // namespace lumo
