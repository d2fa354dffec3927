#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include "LumoShare.hpp"
#include "TemporaryDirectory.hpp"
#include "TestCommand.hpp"

namespace lumo {
namespace {

namespace fs = std::filesystem;
using testing::runCommand;
using testing::shellQuoted;
using Kind = ShareArchiveError::Kind;

/// Whether `pid` is a live process; a zombie waiting for its (re)parent to reap it is not.
bool isRunning(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  const auto state = line.find(") ");
  return state != std::string::npos && line[state + 2] != 'Z' && line[state + 2] != 'X';
}

/// A private temporary folder (TMPDIR) per test, a source folder and stand-in archivers.
class ShareArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(folder / "tmp");
    fs::create_directories(source / "sub");
    std::ofstream(source / "a.txt") << "alpha";
    std::ofstream(source / "sub/b.txt") << "beta";
  }

  fs::path script(const std::string& name, const std::string& body) {
    const auto path = folder / "tools" / name;
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(path, fs::perms::owner_all);
    return path;
  }

  ShareArchiveError failure(const ShareArchive& archive, double timeout = 10,
                            std::optional<fs::path> from = std::nullopt) {
    try {
      archive.makeZip(from.value_or(source), destination, timeout);
    } catch (const ShareArchiveError& error) {
      return error;
    }
    ADD_FAILURE() << "makeZip succeeded";
    return ShareArchiveError::emptyArchive("");
  }

  /// Nothing half-written beside the destination and no log left in the temporary folder.
  void expectNoLeftovers() {
    EXPECT_FALSE(fs::exists(destination));
    for (const auto& entry : fs::directory_iterator(destination.parent_path())) {
      ADD_FAILURE() << "left beside the destination: " << entry.path();
    }
    for (const auto& entry : fs::directory_iterator(folder / "tmp")) {
      ADD_FAILURE() << "left in the temporary folder: " << entry.path();
    }
  }

  testing::TemporaryDirectory folder;
  fs::path source = folder / "Projekt Ü";
  fs::path destination = folder / "out/staged/01-Projekt.zip";
  testing::ScopedEnvironment temporary{"TMPDIR", (folder / "tmp").string()};
};

TEST_F(ShareArchiveTest, ZipsTheFolderWithItsNameOnTopStrangeNamesAndSymlinks) {
  fs::create_directories(destination.parent_path());
  std::ofstream(destination) << "stale";
  // Info-ZIP reads options from ZIPOPT and ZIP: "-m" would delete the folder, "-x" drop files.
  testing::ScopedEnvironment hostile("ZIPOPT", "-m -x *.txt");
  hostile.set("ZIP", "-m -x sub/*");
  const ShareArchive archive;
  ASSERT_TRUE(archive.isAvailable());
  const auto size = archive.makeZip(source, destination);
  EXPECT_TRUE(fs::exists(source / "sub/b.txt")) << "the source was removed";
  EXPECT_EQ(size, static_cast<std::int64_t>(fs::file_size(destination)));
  EXPECT_EQ(runCommand("unzip -tq " + shellQuoted(destination)).status, 0);
  const auto names = runCommand("LC_ALL=C.UTF-8 unzip -Z1 " + shellQuoted(destination) + " | sort");
  EXPECT_EQ(names.output, "Projekt Ü/\nProjekt Ü/a.txt\nProjekt Ü/sub/\nProjekt Ü/sub/b.txt\n");
  for (const auto& entry : fs::directory_iterator(destination.parent_path())) {
    EXPECT_EQ(entry.path(), destination);
  }
  EXPECT_TRUE(fs::is_empty(folder / "tmp"));

  for (const auto* name : {"quote \"it\" 'now'\nbreak", "-rf 👍🏽 名字"}) {
    const auto odd = folder / name;
    fs::create_directories(odd);
    std::ofstream(odd / "inside.txt") << name;
    fs::create_symlink("/etc/hostname", odd / "link");
    const auto size = ShareArchive().makeZip(odd, destination);
    EXPECT_GT(size, 0) << name;
    EXPECT_EQ(runCommand("unzip -tq " + shellQuoted(destination)).status, 0) << name;
    const auto listing = runCommand("unzip -Z " + shellQuoted(destination));
    EXPECT_NE(listing.output.find("number of entries: 3"), std::string::npos) << listing.output;
    EXPECT_NE(listing.output.find("lrwxrwxrwx"), std::string::npos) << "symlink stored as a link";
  }
}

constexpr int zipped = 101;

/// Runs `makeZip` as the unprivileged user "nobody" (tests run as root, who reads everything);
/// answers the error's kind as a number, or `zipped`.
int zipAsNobody(const fs::path& source, const fs::path& destination) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
        ::setresuid(65534, 65534, 65534) != 0)
      ::_exit(100);
    try {
      ShareArchive().makeZip(source, destination);
      ::_exit(zipped);
    } catch (const ShareArchiveError& error) {
      ::_exit(static_cast<int>(error.kind()));
    } catch (...) {
      ::_exit(102);
    }
  }
  return testing::exitStatus(child);
}

TEST_F(ShareArchiveTest, AFolderThatCannotBeListedIsNoEmptyFolder) {
  fs::permissions(folder.path(), fs::perms::all);
  fs::create_directories(folder / "out");
  fs::permissions(folder / "out", fs::perms::all);
  fs::permissions(folder / "tmp", fs::perms::all);
  fs::create_directories(folder / "locked");
  std::ofstream(folder / "locked/secret.txt") << "x";
  fs::create_directories(folder / "partly/inner");
  std::ofstream(folder / "partly/inner/secret.txt") << "x";
  fs::create_directories(folder / "open");
  std::ofstream(folder / "open/a.txt") << "x";
  for (const auto* name : {"locked", "partly/inner", "open"}) {
    fs::permissions(folder / name,
                    fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
  }
  fs::permissions(folder / "locked", fs::perms::none);
  fs::permissions(folder / "partly/inner", fs::perms::none);
  const auto unavailable = static_cast<int>(Kind::sourceUnavailable);
  EXPECT_EQ(zipAsNobody(folder / "locked", folder / "out/locked.zip"), unavailable);
  EXPECT_EQ(zipAsNobody(folder / "partly", folder / "out/partly.zip"), unavailable);
  EXPECT_EQ(zipAsNobody(folder / "open", folder / "out/open.zip"), zipped)
      << "the same user can zip a readable folder";
  EXPECT_FALSE(fs::exists(folder / "out/locked.zip"));
}

TEST_F(ShareArchiveTest, SourceAndToolProblemsAndFailuresCarryAShortLogTailNotTheCallersEnv) {
  std::ofstream(folder / "plain.txt") << "x";
  const auto plain = failure(ShareArchive(), 10, folder / "plain.txt");
  EXPECT_EQ(plain, ShareArchiveError::sourceUnavailable("plain.txt"));
  EXPECT_EQ(plain.readableReason(), "无法压缩应用包 plain.txt：源路径不是可读取的文件夹");
  EXPECT_EQ(failure(ShareArchive(), 10, folder / "missing").kind(), Kind::sourceUnavailable);

  const ShareArchive missingTool(folder / "no-such-zip");
  EXPECT_FALSE(missingTool.isAvailable());
  const auto error = failure(missingTool);
  EXPECT_EQ(error.readableReason(), "无法压缩应用包 Projekt Ü：当前环境没有可用的 " +
                                        (folder / "no-such-zip").string() +
                                        "（iOS 不支持运行外部命令）");
  EXPECT_EQ(ShareArchive::describe(error), error.readableReason());
  EXPECT_EQ(ShareArchive::describe(std::runtime_error("other")), "other");

  const auto environment = folder / "environment";
  const ShareArchive printer(script("env-zip", "env > " + shellQuoted(environment) + "\nexit 1"));
  testing::ScopedEnvironment secret("LUMO_SECRET", "leaked");
  failure(printer);
  std::ifstream in(environment);
  const std::string seen(std::istreambuf_iterator<char>(in), {});
  EXPECT_EQ(seen.find("LUMO_SECRET"), std::string::npos) << seen;
  EXPECT_NE(seen.find("PATH=/usr/bin:/bin"), std::string::npos) << seen;
  const auto withMessage =
      failure(ShareArchive(script("fake-zip", "echo 'zip error: disk on fire' >&2\nexit 1")));
  EXPECT_EQ(withMessage,
            ShareArchiveError::failed("Projekt Ü", (folder / "tools/fake-zip").string(), 1,
                                      "zip error: disk on fire"));
  EXPECT_EQ(withMessage.readableReason(),
            "无法压缩应用包 Projekt Ü：fake-zip 退出码 1，zip error: disk on fire");
  expectNoLeftovers();

  const auto silent = failure(ShareArchive(script("quiet-zip", "exit 2")));
  EXPECT_EQ(silent.readableReason(), "无法压缩应用包 Projekt Ü：quiet-zip 退出码 2");
  expectNoLeftovers();

  const auto nothing = failure(ShareArchive(script("lazy-zip", "exit 0")));
  EXPECT_EQ(nothing, ShareArchiveError::emptyArchive("Projekt Ü"));
  EXPECT_EQ(nothing.readableReason(), "无法压缩应用包 Projekt Ü：压缩结果为空");
  expectNoLeftovers();

  const auto flood = failure(ShareArchive(script(
      "loud-zip",
      "head -c 3000000 /dev/zero | tr '\\0' 'x'\nprintf '\\n\\n  last   words\\n\\t'\nexit 3")));
  EXPECT_EQ(flood.status(), 3);
  const auto& tail = flood.detail();
  EXPECT_EQ(tail.substr(0, 3), "…");
  EXPECT_EQ(UnicodeText::characterCount(tail), 401u);
  EXPECT_EQ(tail.substr(tail.size() - 12), "x last words");
  expectNoLeftovers();
}

TEST_F(ShareArchiveTest, TimeLimitTerminatesAfterOneSecondAndKillsWhatIgnoresIt) {
  const auto started = std::chrono::steady_clock::now();
  const auto slow = failure(ShareArchive(script("slow-zip", "sleep 30")), 0.2);
  const auto elapsed = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(slow, ShareArchiveError::timedOut("Projekt Ü", 1));
  EXPECT_EQ(slow.readableReason(), "无法压缩应用包 Projekt Ü：超过 1 秒未完成，已终止");
  EXPECT_GE(elapsed, std::chrono::milliseconds(950));
  EXPECT_LT(elapsed, std::chrono::milliseconds(3500));
  expectNoLeftovers();

  const auto pids = folder / "pids";
  const auto stubborn = script("stubborn-zip", "trap '' TERM\nsleep 60 &\necho $$ $! > " +
                                                   shellQuoted(pids.string()) + "\nwait");
  const auto stubbornStarted = std::chrono::steady_clock::now();
  const auto error = failure(ShareArchive(stubborn), 1.5);
  const auto stubbornElapsed = std::chrono::steady_clock::now() - stubbornStarted;
  EXPECT_EQ(error, ShareArchiveError::timedOut("Projekt Ü", 1));
  EXPECT_GE(stubbornElapsed, std::chrono::milliseconds(4400));
  EXPECT_LT(stubbornElapsed, std::chrono::milliseconds(7500));  // generous: CI machines are loaded
  pid_t shell = 0, helper = 0;
  std::ifstream(pids) >> shell >> helper;
  ASSERT_GT(helper, 0);
  EXPECT_FALSE(isRunning(shell)) << "the archiver survived";
  EXPECT_FALSE(isRunning(helper)) << "the archiver's helper survived";
  expectNoLeftovers();
}

}  // namespace
}  // namespace lumo
