#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <fstream>

#include "LumoShare.hpp"
#include "TemporaryDirectory.hpp"
#include "TestCommand.hpp"

namespace lumo {
namespace {

namespace fs = std::filesystem;
using testing::modeOf;

std::size_t entryCount(const fs::path& folder) {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(AtomicFile, CreatesMissingFoldersPrivatelyWritesAtomicallyAndReadsOnlyBoundedFiles) {
  testing::TemporaryDirectory folder;
  const auto previousMask = ::umask(022);
  const auto file = folder / "a/b/c/data.json";
  AtomicFile::write(file, "{}", 0600);
  { ShareFileLock lock(folder / "root/recent-uploads.lock"); }
  ::umask(previousMask);
  for (const auto* created : {"a", "a/b", "a/b/c", "root"}) {
    EXPECT_EQ(modeOf(folder / created), 0700u) << created;
  }
  EXPECT_EQ(AtomicFile::read(file), "{}");
  EXPECT_EQ(modeOf(file), 0600u);
  AtomicFile::write(file, "[1]", 0644);
  EXPECT_EQ(AtomicFile::read(file), "[1]");
  EXPECT_EQ(modeOf(file), 0644u);
  EXPECT_EQ(entryCount(file.parent_path()), 1u);
  EXPECT_THROW(AtomicFile::writeInExistingFolder(folder / "gone/x.json", "{}", 0600),
               fs::filesystem_error);
  EXPECT_FALSE(fs::exists(folder / "gone"));

  std::string content(300000, '\0');
  for (std::size_t index = 0; index < content.size(); ++index)
    content[index] = static_cast<char>(index * 7);
  AtomicFile::write(folder / "blob", content, 0600);
  EXPECT_EQ(AtomicFile::read(folder / "blob"), content);
  ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);  // no writer: a blocking open hangs
  std::ofstream(folder / "sparse").close();
  fs::resize_file(folder / "sparse", AtomicFile::defaultReadLimit + 1);
  const std::vector<std::pair<fs::path, int>> refused = {{folder / "missing.json", ENOENT},
                                                         {folder.path(), EINVAL},
                                                         {folder / "fifo", EINVAL},
                                                         {folder / "sparse", EFBIG}};
  for (const auto& [file, expected] : refused)
    EXPECT_EQ(testing::errnoOf([&] { AtomicFile::read(file); }), expected) << file;
}

TEST(AtomicFile, FailedWriteLeavesTheOldFileAndACopyGoesToTheEndAndHashesTheCopy) {
  testing::TemporaryDirectory folder;
  const auto file = folder / "share.json";
  AtomicFile::write(file, "old content", 0600);
  rlimit saved{};  // a file-size limit makes the write fail with EFBIG
  ::getrlimit(RLIMIT_FSIZE, &saved);
  const auto previousHandler = ::signal(SIGXFSZ, SIG_IGN);
  const rlimit lowered{16, saved.rlim_max};
  ::setrlimit(RLIMIT_FSIZE, &lowered);
  const auto error =
      testing::errnoOf([&] { AtomicFile::write(file, std::string(4096, 'n'), 0600); });
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, previousHandler);
  EXPECT_EQ(error, EFBIG);
  EXPECT_EQ(AtomicFile::read(file), "old content");
  EXPECT_EQ(entryCount(folder.path()), 1u);
  // What stands in the way is refused and left as it was.
  std::ofstream(folder / "plain") << "x";
  EXPECT_THROW(AtomicFile::write(folder / "plain/child.json", "{}", 0600), fs::filesystem_error);
  fs::create_directories(folder / "taken/inner");
  EXPECT_THROW(AtomicFile::write(folder / "taken", "{}", 0600), fs::filesystem_error);
  EXPECT_TRUE(fs::is_directory(folder / "taken/inner"));
  EXPECT_EQ(AtomicFile::read(folder / "plain"), "x");

  std::ofstream(folder / "empty").close();
  std::ofstream(folder / "small") << "small";
  {
    // Sparse, larger than one kernel copy step, with content at both ends and in the middle.
    std::ofstream out(folder / "large", std::ios::binary);
    for (const std::int64_t offset : {0LL, 12LL << 20, (25LL << 20) - 5}) {
      out.seekp(offset);
      out.write("mark!", 5);
    }
  }
  for (const fs::path& source :
       {folder / "empty", folder / "small", folder / "large", fs::path("/proc/self/status")}) {
    const auto copy = folder / "copy";
    const auto digest = FileCopy::copyHashing(source, copy);
    EXPECT_EQ(digest, FileDigest::sha256Hex(copy)) << source;
    if (source.parent_path() == folder.path()) {
      EXPECT_EQ(digest, FileDigest::sha256Hex(source)) << source;
    } else {
      EXPECT_GT(fs::file_size(copy), 0u) << "a /proc file reports size 0 but is not empty";
    }
  }
  ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
  for (const fs::path& refused : {folder / "fifo", folder.path(), folder / "missing"}) {
    EXPECT_THROW(FileCopy::copyHashing(refused, folder / "refused"), fs::filesystem_error);
    EXPECT_FALSE(fs::exists(folder / "refused")) << refused;
  }
  const FileDescriptor zero(::open("/dev/zero", O_RDONLY | O_CLOEXEC));
  EXPECT_EQ(
      testing::errnoOf([&] { FileCopy::copyHashing(zero.get(), folder / "endless", 1 << 20); }),
      EFBIG);
  EXPECT_FALSE(fs::exists(folder / "endless"));
}

}  // namespace
}  // namespace lumo
