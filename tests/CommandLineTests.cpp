// Runs the lumo-share executable end to end on real files, with its storage root under a private
// data folder.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "LumoShare.hpp"
#include "ServiceFixture.hpp"
#include "TemporaryDirectory.hpp"
#include "TestCommand.hpp"

namespace lumo {
namespace {

namespace fs = std::filesystem;
using testing::shellQuoted;

class CommandLineTest : public ::testing::Test {
 protected:
  testing::CommandResult run(const std::string& arguments, const std::string& input = "") {
    return runFed(arguments, "printf '%s' " + shellQuoted(input));
  }
  /// Runs the tool with the output of the shell command `feeder` as standard input.
  testing::CommandResult runFed(const std::string& arguments, const std::string& feeder) {
    const auto command = "cd " + shellQuoted(folder.path()) +
                         " && export XDG_DATA_HOME=" + shellQuoted(folder / "data") +
                         " XDG_CONFIG_HOME=" + shellQuoted(folder / "config") + " && " + feeder +
                         " | " + shellQuoted(LUMO_SHARE_EXECUTABLE) + " " + arguments + " 2>" +
                         shellQuoted(folder / "stderr");
    auto result = testing::runCommand(command);
    std::ifstream errors(folder / "stderr");
    stderrText.assign(std::istreambuf_iterator<char>(errors), {});
    return result;
  }
  std::vector<QueuedShare> queued() {
    return PendingShareQueue(
               ShareStorage{folder / "data/group.com.lumo.share", ShareStorageLocation::appGroup})
        .all();
  }

  testing::TemporaryDirectory folder;
  std::string stderrText;
};

TEST_F(CommandLineTest, StageListAndRemove) {
  fs::create_directories(folder / "Sample Folder/sub");
  std::ofstream(folder / "Sample Folder/sub/a.txt") << "alpha";
  std::ofstream(folder / "notes.txt") << "notes";

  const auto folderShare = run("stage 'Sample Folder' notes.txt");
  EXPECT_EQ(folderShare.status, 0) << stderrText;
  EXPECT_NE(folderShare.output.find("  kind:        file\n"), std::string::npos)
      << folderShare.output;
  EXPECT_NE(folderShare.output.find("  attachments: 2\n"), std::string::npos);

  const auto piped = run("stage --text - https://lumo.example/page --json", "from a pipe\n");
  EXPECT_EQ(piped.status, 0) << stderrText;
  const auto staged = ShareJSON::decoder().decode<StagedShare>(piped.output);
  EXPECT_EQ(staged.payload.text, "from a pipe");
  EXPECT_EQ(staged.payload.url, "https://lumo.example/page");
  EXPECT_EQ(staged.payload.kind, "mixed");

  const auto shares = queued();
  ASSERT_EQ(shares.size(), 2u);
  const auto listing = run("queue");
  EXPECT_EQ(listing.status, 0);
  EXPECT_NE(listing.output.find(shares[0].staged().clientShareId), std::string::npos);
  EXPECT_NE(listing.output.find("Sample Folder.zip"), std::string::npos);

  EXPECT_EQ(run("queue remove " + shares[0].staged().clientShareId).status, 0);
  EXPECT_EQ(queued().size(), 1u);
  EXPECT_NE(run("queue remove no-such-share").status, 0);
  EXPECT_NE(stderrText.find("no queued share no-such-share"), std::string::npos);
}

TEST_F(CommandLineTest, StandardInputIsBoundedTextOrAFileOfAnySize) {
  const auto endless = runFed("stage --text - --json", "cat /dev/zero | tr '\\0' 'y'");
  EXPECT_EQ(endless.status, 0) << stderrText;
  EXPECT_NE(stderrText.find("only the first 32768 bytes were read"), std::string::npos)
      << stderrText;
  EXPECT_EQ(ShareJSON::decoder().decode<StagedShare>(endless.output).payload.text->size(), 16384u);

  const auto picture =
      runFed("stage - --json",
             "cat " + shellQuoted(std::string(LUMO_TEST_FIXTURES) + "/media/picture-300x200.png"));
  EXPECT_EQ(picture.status, 0) << stderrText;
  const auto staged = ShareJSON::decoder().decode<StagedShare>(picture.output);
  ASSERT_EQ(staged.attachments.size(), 1u);
  EXPECT_EQ(staged.attachments[0].originalName, "stdin.png");
  EXPECT_EQ(staged.attachments[0].width, 300);
  const auto binary = runFed("stage - --json", "head -c 3000000 /dev/urandom");
  EXPECT_EQ(ShareJSON::decoder().decode<StagedShare>(binary.output).totalBytes, 3000000);
  const ShareStorage storage{folder / "data/group.com.lumo.share", ShareStorageLocation::appGroup};
  EXPECT_EQ(storage.pendingDirectories().size(), 3u) << "the spooled input left a folder behind";

  EXPECT_EQ(run("stage --text - -", "x").status, 2);
}

TEST_F(CommandLineTest, NothingUsableReportsWhy) {
  fs::create_directories(folder / "locked");
  std::ofstream(folder / "present.txt") << "here";
  EXPECT_EQ(run("stage missing.txt").status, 3);
  EXPECT_EQ(stderrText, "lumo-share: missing.txt: no such file or folder\n");
  EXPECT_EQ(run("share present.txt missing.txt").status, 2) << "no partial share";
  ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
  EXPECT_EQ(run("stage pipe").status, 3);
  EXPECT_EQ(stderrText,
            "lumo-share: skipped pipe: could not be copied for sharing\n"
            "lumo-share: 没有读到可分享的内容。\n")
      << "the loader's reasons in plain words";
  if (::geteuid() != 0) {  // root reads everything
    fs::permissions(folder / "locked", fs::perms::none);
    EXPECT_EQ(run("stage locked").status, 3);
    EXPECT_EQ(stderrText, "lumo-share: locked: permission denied\n");
    fs::permissions(folder / "locked", fs::perms::owner_all);
  }
  EXPECT_TRUE(queued().empty());
  EXPECT_NE(run("stage").status, 0);
  EXPECT_EQ(run("--help").status, 0);
}

TEST_F(CommandLineTest, SharesPrintTheLinkAloneAndExitAsDocumented) {
  testing::TemporaryDirectory data;
  auto service = std::make_unique<testing::RunningService>(
      testing::serviceOptions(data.path(), testing::systemNow));
  const auto origin = "http://127.0.0.1:" + std::to_string(service->port);
  ASSERT_EQ(run("config server " + origin + "/api/v1").status, 0) << stderrText;
  std::ofstream(folder / "notes.txt") << "notes";

  const auto anonymous = run("notes.txt");  // "share" is the default command
  EXPECT_EQ(anonymous.status, 0) << stderrText;
  EXPECT_EQ(anonymous.output.rfind(origin + "/", 0), 0u) << anonymous.output;
  EXPECT_EQ(anonymous.output.find('\n'), anonymous.output.size() - 1) << "the link alone";
  EXPECT_NE(stderrText.find("匿名发布，登录后可认领"), std::string::npos) << stderrText;

  EXPECT_EQ(stderrText.find("\x1b["), std::string::npos) << "no bar, no QR code off a terminal";
  // On a terminal (a pseudo-terminal here) the upload shows its progress and the link its code.
  const auto pty = testing::runCommand(
      "cd " + shellQuoted(folder.path()) + " && XDG_DATA_HOME=" + shellQuoted(folder / "data") +
      " XDG_CONFIG_HOME=" + shellQuoted(folder / "config") + " script -q -c " +
      shellQuoted(shellQuoted(LUMO_SHARE_EXECUTABLE) + " share notes.txt") + " /dev/null");
  EXPECT_NE(pty.output.find("\x1b[K[########################]"), std::string::npos) << pty.output;
  EXPECT_NE(pty.output.find("\x1b[30;47m"), std::string::npos) << "the QR code";

  const auto json = run("share --json https://example.org/page");
  EXPECT_EQ(ShareJSON::decoder().decode<ShareUploadOutcome>(json.output).kind, "link");

  service->service.store().addAccount({"ana-id", "ana", "hobby", testing::systemNow()});
  const auto token = service->service.secrets().issueToken("ana-id", testing::systemNow(), 1);
  EXPECT_EQ(run("login -", token).status, 0) << stderrText;
  EXPECT_NE(stderrText.find("claims: 3 sent, 3 bound"), std::string::npos) << stderrText;
  const auto slug =
      anonymous.output.substr(origin.size() + 1, anonymous.output.size() - origin.size() - 2);
  EXPECT_EQ(service->service.store().share(slug)->owner, "ana-id") << "signing in bound it";
  EXPECT_NE(run("recent").output.find("claim bound"), std::string::npos);
  EXPECT_NE(run("plan").output.find("(hobby)"), std::string::npos) << stderrText;
  EXPECT_NE(run("bind --json").output.find(R"("attempted":0)"), std::string::npos);
  EXPECT_EQ(run("health").status, 0) << stderrText;
  // This machine paired to the account hears of the account's new shares.
  const auto code = ShareJSON::decoder().decode<PairStartResult>(run("devices pair --json").output);
  EXPECT_EQ(run("devices claim " + code.code).status, 0) << stderrText;
  EXPECT_NE(run("devices").output.find("linux"), std::string::npos);
  EXPECT_EQ(run("share --text 'for the paired machine'").status, 0) << stderrText;
  const auto feed =
      ShareJSON::decoder().decode<DeviceNoticeListResult>(run("notices --json").output);
  ASSERT_EQ(feed.notices.size(), 1u) << stderrText;
  EXPECT_EQ(run("notices --ack " + feed.notices[0].id + " shown").status, 0) << stderrText;
  EXPECT_EQ(run("login", "not a token").status, 2);
  EXPECT_NE(run("status").output.find("signedIn"), std::string::npos)
      << "a refused token kept none";

  EXPECT_EQ(run("settings retention 30d").status, 0);
  EXPECT_EQ(run("settings retention 2d").status, 2);
  EXPECT_EQ(run("settings retention").output, "30d\n");
  EXPECT_EQ(run("share --slug no notes.txt").status, 2);
  EXPECT_NE(stderrText.find("短链需 4–32 位字母、数字或连字符"), std::string::npos) << stderrText;
  EXPECT_EQ(run("share --text ' '").status, 3);
  EXPECT_NE(run("").output.find("Usage"), std::string::npos) << "no arguments: the help";

  const auto port = service->port;
  service.reset();  // the service is gone: the share is kept for a retry
  EXPECT_EQ(run("notes.txt").status, 1);
  EXPECT_NE(stderrText.find("lumo-share drain"), std::string::npos) << stderrText;
  EXPECT_EQ(queued().size(), 1u);
  service = std::make_unique<testing::RunningService>(
      testing::serviceOptions(data.path(), testing::systemNow), port);
  EXPECT_EQ(run("queue retry").status, 2) << "an identifier or --all";
  const auto retried = run("queue retry --all");
  EXPECT_EQ(retried.status, 0) << stderrText;
  EXPECT_EQ(retried.output.rfind(origin + "/", 0), 0u) << retried.output;
  EXPECT_TRUE(queued().empty());
}

}  // namespace
}  // namespace lumo
