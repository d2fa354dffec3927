#include <gtest/gtest.h>

#include <fstream>

#include "LumoShare.hpp"
#include "QueueTestSupport.hpp"
#include "TemporaryDirectory.hpp"
#include "TestCommand.hpp"

namespace lumo {
namespace {

namespace fs = std::filesystem;
using Providers = std::vector<std::shared_ptr<ShareItemProvider>>;

class ShareIngestTest : public ::testing::Test {
 protected:
  void SetUp() override { ShareLog::setMinimumLevel(ShareLogLevel::error); }
  void TearDown() override { ShareLog::setMinimumLevel(ShareLogLevel::debug); }

  fs::path shared(const std::string& name, const std::string& content) {
    fs::create_directories(folder / "shared");
    std::ofstream(folder / "shared" / name) << content;
    return folder / "shared" / name;
  }
  std::optional<ShareIngestError> failure(const Providers& providers,
                                          const std::string& id = "share-1") {
    return testing::thrown<ShareIngestError>([&] { ingest.ingest(providers, id); });
  }

  testing::TemporaryDirectory folder;
  ShareStorage storage{folder / "root", ShareStorageLocation::injected};
  std::shared_ptr<PendingShareQueue> queue = std::make_shared<PendingShareQueue>(storage);
  ShareIngest ingest{queue, storage, ShareSettingsStore{storage}};
};

TEST_F(ShareIngestTest, StagesFingerprintsMatchingSha256sumAndEnqueuesWithTheSettingsOptions) {
  const auto staged =
      ingest.ingest({std::make_shared<SharePathItemProvider>(shared("a.txt", "alpha")),
                     std::make_shared<SharePathItemProvider>(shared("b.txt", "")),
                     std::make_shared<SharePathItemProvider>(shared("c.txt", "gamma!"))},
                    "share-1", std::nullopt, ShareSource{"linux", {}, {}, {}, "de_DE"});
  ASSERT_EQ(staged.attachments.size(), 3u);
  EXPECT_EQ(staged.attachments[2].clientItemId, "i3");
  EXPECT_EQ(staged.attachments[0].sha256, FileDigest::sha256Hex(std::string_view("alpha")));
  EXPECT_EQ(staged.totalBytes, 11);
  EXPECT_EQ(staged.displayPreview, "file · a.txt · 5 B");
  EXPECT_EQ(staged.options, ShareOptions::defaultValue());
  EXPECT_EQ(queue->entry("share-1")->entry.staged, staged);

  ShareSettingsStore{storage}.save(ShareSettings{3600, "pw", true});
  const auto fromSettings = ingest.ingest({std::make_shared<ShareTextItemProvider>("hello")}, "s");
  EXPECT_EQ(fromSettings.options->expiresInSeconds, 3600);
  EXPECT_EQ(fromSettings.options->password, "pw");
  auto given = ShareOptions::defaultValue();
  given.note = "mine";
  EXPECT_EQ(ingest.ingest({std::make_shared<ShareTextItemProvider>("x")}, "t", given).options,
            given);

  std::string large(3 * 1048576 + 17, '\0');
  for (std::size_t index = 0; index < large.size(); ++index)
    large[index] = static_cast<char>(index % 251);
  std::ofstream(folder / "large.bin", std::ios::binary) << large;
  std::ofstream(folder / "empty.bin") << "";
  for (const auto* name : {"large.bin", "empty.bin"}) {
    const auto expected = testing::runCommand("sha256sum " + testing::shellQuoted(folder / name))
                              .output.substr(0, 64);
    EXPECT_EQ(FileDigest::sha256Hex(folder / name), expected) << name;
    EXPECT_EQ(FileDigest::sha256Hex(folder / name, 4096), expected) << name;
  }
  EXPECT_EQ(FileDigest::sha256Hex(std::string_view(large)),
            FileDigest::sha256Hex(folder / "large.bin"));
  EXPECT_THROW(FileDigest::sha256Hex(folder / "missing"), fs::filesystem_error);
}

TEST_F(ShareIngestTest, EmptyFailedAndUnsafeLoadsLeaveNothingAndSayOnlyRealFailures) {
  EXPECT_EQ(failure({std::make_shared<ShareTextItemProvider>(" \n\t ")}),
            ShareIngestError::emptyPayload());
  EXPECT_EQ(failure({std::make_shared<SharePathItemProvider>(folder / "missing.txt")}),
            ShareIngestError::emptyPayload());
  EXPECT_EQ(failure({std::make_shared<ShareTextItemProvider>("x")}, "..")->kind(),
            ShareIngestError::Kind::stagingFailed);
  EXPECT_TRUE(storage.pendingDirectories().empty());

  EXPECT_EQ(ShareIngest::emptyPayloadError({" \n", ""}), ShareIngestError::emptyPayload());
  EXPECT_EQ(ShareIngest::emptyPayloadError({"  disk full ", "\u3000"}).description(),
            "读取失败：  disk full ");
  EXPECT_EQ(ShareIngest::emptyPayloadError({"a", " ", "b"}).description(), "读取失败：a；b");
}

TEST_F(ShareIngestTest, StagingFailuresNameTheAttachmentAndAFullQueueDiscardsTheFolder) {
  const auto directory = queue->makeStagingDirectory("raw");
  std::ofstream(directory / "01-there.txt") << "x";
  fs::create_directory(directory / "02-folder");
  RawSharePayload raw;
  raw.source = ShareSource{"linux", {}, {}, {}, {}};
  raw.attachments = {
      RawAttachment{
          RawAttachment::Kind::file, "text/plain", "there.txt", "01-there.txt", 1, {}, {}, {}, {}},
      RawAttachment{
          RawAttachment::Kind::file, "text/plain", "Gone.pdf", "03-gone.pdf", 1, {}, {}, {}, {}}};
  const auto stageFailure = [&](const RawSharePayload& payload) {
    const auto error = testing::thrown<ShareIngestError>(
        [&] { ingest.stage(payload, "raw", std::nullopt, directory); });
    return error ? error->description() : "staged";
  };
  EXPECT_EQ(stageFailure(raw), "读取失败：Gone.pdf：附件文件不存在（03-gone.pdf）");
  raw.attachments[1] =
      RawAttachment{RawAttachment::Kind::file, "x", std::nullopt, "02-folder", 0, {}, {}, {}, {}};
  EXPECT_EQ(stageFailure(raw), "读取失败：02-folder：附件是文件夹，必须先压缩成 zip");
  // Local names that would leave the share's folder name nothing inside it.
  std::ofstream(folder / "secret.txt") << "outside";
  fs::create_symlink(folder / "secret.txt", directory / "04-link.txt");
  for (const auto* escaping : {"../../../secret.txt", "../../secret.txt", "04-link.txt"}) {
    raw.attachments[1] = RawAttachment{
        RawAttachment::Kind::file, "text/plain", "s.txt", escaping, 7, {}, {}, {}, {}};
    EXPECT_EQ(stageFailure(raw).rfind("读取失败：s.txt：附件文件不存在（", 0), 0u) << escaping;
  }
  EXPECT_FALSE(queue->entry("raw").has_value());

  for (int index = 0; index < 100; ++index)
    queue->enqueue(testing::makeStagedShare("q" + std::to_string(index), index));
  const auto error =
      failure({std::make_shared<SharePathItemProvider>(shared("a.txt", "alpha"))}, "late").value();
  EXPECT_EQ(error.description().rfind("写入本地队列失败：", 0), 0u);
  EXPECT_FALSE(fs::exists(storage.pendingDirectory("late")));
}

}  // namespace
}  // namespace lumo
