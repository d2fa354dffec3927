#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <fstream>

#include "AtomicFile.hpp"
#include "TemporaryDirectory.hpp"

namespace lumo {
namespace {

namespace fs = std::filesystem;

std::size_t entryCount(const fs::path& folder) {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

mode_t modeOf(const fs::path& file) {
  struct stat info {};
  EXPECT_EQ(::stat(file.c_str(), &info), 0);
  return info.st_mode & 07777;
}

/// Lowers the file-size limit for the scope, so that writes past it fail with EFBIG.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    previousHandler_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = saved_;
    lowered.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, previousHandler_);
  }

 private:
  rlimit saved_{};
  sighandler_t previousHandler_{};
};

TEST(AtomicFile, CreatesMissingFoldersAndWritesPrivately) {
  testing::TemporaryDirectory folder;
  const auto file = folder / "a/b/c/data.json";
  AtomicFile::write(file, "{}", 0600);
  EXPECT_EQ(AtomicFile::read(file), "{}");
  EXPECT_EQ(modeOf(file), 0600u);
  AtomicFile::write(file, "[1]", 0644);
  EXPECT_EQ(AtomicFile::read(file), "[1]");
  EXPECT_EQ(modeOf(file), 0644u);
  EXPECT_EQ(entryCount(file.parent_path()), 1u);
}

TEST(AtomicFile, FailedWriteLeavesTheOldFileAndNoLeftovers) {
  testing::TemporaryDirectory folder;
  const auto file = folder / "share.json";
  AtomicFile::write(file, "old content", 0600);
  {
    FileSizeLimit limit(16);
    try {
      AtomicFile::write(file, std::string(4096, 'n'), 0600);
      FAIL() << "write past the file size limit succeeded";
    } catch (const fs::filesystem_error& error) {
      EXPECT_EQ(error.code().value(), EFBIG);
    }
  }
  EXPECT_EQ(AtomicFile::read(file), "old content");
  EXPECT_EQ(entryCount(folder.path()), 1u);
}

TEST(AtomicFile, ParentThatIsAFileFailsWithoutTouchingAnything) {
  testing::TemporaryDirectory folder;
  std::ofstream(folder / "plain") << "x";
  EXPECT_THROW(AtomicFile::write(folder / "plain/child.json", "{}", 0600), fs::filesystem_error);
  EXPECT_EQ(AtomicFile::read(folder / "plain"), "x");
}

TEST(AtomicFile, DestinationThatIsAFolderIsRefused) {
  testing::TemporaryDirectory folder;
  fs::create_directories(folder / "taken/inner");
  EXPECT_THROW(AtomicFile::write(folder / "taken", "{}", 0600), fs::filesystem_error);
  EXPECT_TRUE(fs::is_directory(folder / "taken/inner"));
  EXPECT_EQ(entryCount(folder.path()), 1u);
}

TEST(AtomicFile, ReadReportsMissingFilesAndFolders) {
  testing::TemporaryDirectory folder;
  try {
    AtomicFile::read(folder / "missing.json");
    FAIL() << "read of a missing file succeeded";
  } catch (const fs::filesystem_error& error) {
    EXPECT_EQ(error.code().value(), ENOENT);
  }
  EXPECT_THROW(AtomicFile::read(folder.path()), fs::filesystem_error);
}

TEST(AtomicFile, ReadsLargeAndBinaryContentWhole) {
  testing::TemporaryDirectory folder;
  std::string content(300000, '\0');
  for (std::size_t index = 0; index < content.size(); ++index)
    content[index] = static_cast<char>(index * 7);
  AtomicFile::write(folder / "blob", content, 0600);
  EXPECT_EQ(AtomicFile::read(folder / "blob"), content);
}

}  // namespace
}  // namespace lumo
