#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "LumoShare.hpp"
#include "TemporaryDirectory.hpp"
#include "TestCommand.hpp"

namespace lumo {
namespace {

namespace fs = std::filesystem;
using Kind = RawAttachment::Kind;
using Providers = std::vector<std::shared_ptr<ShareItemProvider>>;

const fs::path media = fs::path(LUMO_TEST_FIXTURES) / "media";

/// A provider whose types, items and files a test scripts; it counts what was asked of it.
class ScriptedProvider : public ShareItemProvider {
 public:
  explicit ScriptedProvider(std::vector<std::string> types) : types_(std::move(types)) {}

  std::vector<std::string> registeredTypeIdentifiers() const override {
    ++typeQueries;
    if (typesAfterQueries && typeQueries > typesAfterQueries->first)
      return typesAfterQueries->second;
    return types_;
  }
  ShareItemValue loadItem(const std::string&) override { return item; }
  void loadFileRepresentation(const std::string& type, const FileHandler& handler) override {
    fileRequests.push_back(type);
    if (file) handler(*file);
  }
  std::optional<std::string> suggestedName() const override { return name; }

  ShareItemValue item;
  std::optional<fs::path> file;
  std::optional<std::string> name;
  /// After this many queries (classification), the provider answers other types.
  std::optional<std::pair<int, std::vector<std::string>>> typesAfterQueries;
  mutable int typeQueries = 0;
  std::vector<std::string> fileRequests;

 private:
  std::vector<std::string> types_;
};

/// Staging and temporary folders of one test; the temporary folder must end up empty.
class ShareTargetLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(folder / "tmp");
    fs::create_directories(folder / "shared");
    ShareLog::setMinimumLevel(ShareLogLevel::error);
  }
  void TearDown() override { ShareLog::setMinimumLevel(ShareLogLevel::debug); }

  RawSharePayload load(const Providers& providers, std::size_t maxItems = 50,
                       ShareArchive archive = ShareArchive()) {
    const auto payload = ShareTargetLoader(staging, maxItems, ShareSource{"linux", {}, {}, {}, {}},
                                           std::move(archive))
                             .load(providers);
    EXPECT_TRUE(fs::is_empty(folder / "tmp")) << "temporary copies left behind";
    return payload;
  }

  fs::path sharedFile(const std::string& name, const std::string& content = "content") {
    const auto path = folder / "shared" / name;
    std::ofstream(path) << content;
    return path;
  }

  std::vector<std::string> stagedNames() {
    std::vector<std::string> names;
    if (!fs::exists(staging)) return names;
    for (const auto& entry : fs::directory_iterator(staging))
      names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  static std::shared_ptr<ShareItemProvider> path(const fs::path& file) {
    return std::make_shared<SharePathItemProvider>(file);
  }
  static std::shared_ptr<ShareItemProvider> text(const std::string& value) {
    return std::make_shared<ShareTextItemProvider>(value);
  }

  testing::TemporaryDirectory folder;
  fs::path staging = folder / "staging";
  testing::ScopedEnvironment temporary{"TMPDIR", (folder / "tmp").string()};
};

std::vector<std::string> localNames(const RawSharePayload& payload) {
  std::vector<std::string> names;
  for (const auto& attachment : payload.attachments) names.push_back(attachment.localFileName);
  return names;
}

TEST_F(ShareTargetLoaderTest, OrderNumberingKindsMetadataAndProgressToTheBytesOfFilesAndFolders) {
  fs::create_directories(folder / "shared/Holiday Photos/raw");
  std::ofstream(folder / "shared/Holiday Photos/raw/a.txt") << "a";
  std::ifstream png(media / "picture-300x200.png", std::ios::binary);
  const std::string pngBytes((std::istreambuf_iterator<char>(png)), {});
  const auto payload = load({
      path(sharedFile("Report: final?.pdf")),
      std::make_shared<ShareDataItemProvider>(pngBytes, "public.png", "clipboard"),
      text("note one"),
      path(folder / "shared/Holiday Photos"),
      path(sharedFile("README")),
      path(media / "video-12.3456s.mp4"),
      path(sharedFile("report.v2.pdf")),
  });
  EXPECT_EQ(localNames(payload),
            (std::vector<std::string>{"01-Report- final-.pdf", "02-attachment.png",
                                      "03-Holiday Photos.zip", "04-README.bin",
                                      "05-video-12.3456s.mp4", "06-report.v2.pdf"}));
  const auto pdfDigest = FileDigest::sha256Hex(std::string_view("content"));
  const auto pngDigest = FileDigest::sha256Hex(std::string_view(pngBytes));
  const auto pngSize = static_cast<std::int64_t>(pngBytes.size());
  const auto zipSize = static_cast<std::int64_t>(fs::file_size(staging / "03-Holiday Photos.zip"));
  const auto raw = [](Kind kind, std::string mime, std::string name, std::string local,
                      std::int64_t size, std::optional<std::int64_t> width,
                      std::optional<std::int64_t> height, std::optional<std::string> digest) {
    return RawAttachment{kind, mime, name, local, size, width, height, {}, digest};
  };
  EXPECT_EQ(payload.attachments[0], raw(Kind::file, "application/pdf", "Report: final?.pdf",
                                        "01-Report- final-.pdf", 7, {}, {}, pdfDigest));
  EXPECT_EQ(payload.attachments[1], raw(Kind::image, "image/png", "02-attachment.png",
                                        "02-attachment.png", pngSize, 300, 200, pngDigest));
  EXPECT_EQ(payload.attachments[2], raw(Kind::file, "application/zip", "Holiday Photos.zip",
                                        "03-Holiday Photos.zip", zipSize, {}, {}, {}));
  EXPECT_EQ(payload.attachments[3].mime, "application/octet-stream");
  EXPECT_EQ(std::tuple(payload.attachments[4].kind, payload.attachments[4].mime,
                       payload.attachments[4].durationMs),
            std::tuple(Kind::video, "video/mp4", 12345));
  EXPECT_EQ(payload.text, "note one");
  EXPECT_TRUE(payload.skippedReasons.empty());
  EXPECT_EQ(stagedNames(), localNames(payload));

  fs::create_directories(folder / "shared/Trip/day1");
  std::ofstream(folder / "shared/Trip/a.txt") << std::string(1000, 'a');
  std::ofstream(folder / "shared/Trip/day1/b.txt") << std::string(2000, 'b');
  fs::create_symlink(folder / "shared/Trip/a.txt", folder / "shared/Trip/link");
  const std::int64_t fileBytes = 20 * 1024 * 1024 + 5;  // more than one piece of the copy
  const auto file = sharedFile("big.bin", std::string(fileBytes, 'x'));
  std::vector<std::pair<std::int64_t, std::int64_t>> seen;
  const auto progressed =
      ShareTargetLoader(staging, 50, ShareSource{"linux", {}, {}, {}, {}}, ShareArchive(),
                        [&seen](auto done, auto total) { seen.emplace_back(done, total); })
          .load({path(folder / "shared/Trip"), text("a note"), path(file)});
  ASSERT_EQ(progressed.attachments.size(), 2u);

  const auto total = 3000 + fileBytes;  // the folder's files, not the link, and the file
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), std::pair(total, total));
  EXPECT_NE(std::find(seen.begin(), seen.end(), std::pair<std::int64_t, std::int64_t>(3000, total)),
            seen.end())
      << "the folder counts once it is zipped";
  // While a slow archiver runs, the bytes it has read so far show (here only its own start-up
  // reads: a few kilobytes of the folder's million bytes).
  std::ofstream(folder / "shared/Large.bin") << std::string(1000000, 'l');
  fs::create_directories(folder / "shared/Large");
  fs::rename(folder / "shared/Large.bin", folder / "shared/Large/l.bin");
  const auto slow = folder / "slow-zip";
  std::ofstream(slow) << "#!/bin/sh\nsleep 1\necho zip > \"$4\"\n";
  fs::permissions(slow, fs::perms::owner_all);
  std::vector<std::int64_t> during;
  ShareTargetLoader(staging, 50, ShareSource{"linux", {}, {}, {}, {}}, ShareArchive(slow),
                    [&during](auto done, auto) { during.push_back(done); })
      .load({path(folder / "shared/Large")});
  EXPECT_TRUE(std::any_of(during.begin(), during.end(), [](auto done) {
    return done > 0 && done < 1000000;
  })) << ::testing::PrintToString(during);
  // Every step counts of the same total, and the bytes done never go back.
  EXPECT_TRUE(
      std::all_of(seen.begin(), seen.end(), [&](auto step) { return step.second == total; }));
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end())) << ::testing::PrintToString(seen);
}

TEST_F(ShareTargetLoaderTest, SpecialMissingAndLongNamesLinksDeliveredFoldersAndArchiverFailures) {
  ASSERT_EQ(::mkfifo((folder / "shared/pipe").c_str(), 0600), 0);
  fs::create_symlink(folder / "shared/nowhere", folder / "shared/dangling");
  const auto socketPath = folder / "shared/sock";
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const auto payload = load({path(folder / "shared/dangling"), path(socketPath),
                             path(folder / "shared/pipe"), path(folder / "shared/deleted.txt"),
                             path(sharedFile("ok.txt")), path("/proc/self/status")});
  ::close(fd);
  EXPECT_EQ(payload.skippedReasons,
            (std::vector<std::string>{"file_missing:dangling", "copy_failed:sock",
                                      "copy_failed:pipe", "file_missing:deleted.txt"}));
  EXPECT_EQ(stagedNames(), (std::vector<std::string>{"03-ok.txt", "04-status.bin"}));
  // A /proc file reports size 0 but has content: it is copied to its end, and hashed as staged.
  ASSERT_EQ(payload.attachments.size(), 2u);
  const auto& status = payload.attachments[1];
  EXPECT_GT(status.size, 0);
  EXPECT_EQ(status.sha256, FileDigest::sha256Hex(staging / "04-status.bin"));

  std::string wide;  // 83 CJK characters: 249 bytes, a valid name that "NN-" would push past 255
  for (int index = 0; index < 83; ++index) wide += "文";
  const auto wideFile = sharedFile(wide + ".txt");
  fs::create_directories(folder / "shared" / (wide + "文") / "in");
  std::ofstream(folder / "shared" / (wide + "文") / "in/a.txt") << "a";
  fs::create_directories(folder / "shared/real/sub");
  std::ofstream(folder / "shared/real/sub/b.txt") << "b";
  fs::create_symlink("../b.txt", folder / "shared/real/sub/inner-link");
  fs::create_directory_symlink(folder / "shared/real", folder / "shared/link-to-folder");
  const auto named = load({path(wideFile), path(folder / "shared" / (wide + "文")),
                           path(folder / "shared/link-to-folder"), path(sharedFile(".bashrc"))});
  ASSERT_EQ(named.attachments.size(), 4u) << ::testing::PrintToString(named.failures);
  for (const auto& attachment : named.attachments) {
    EXPECT_LE(attachment.localFileName.size(), 255u);
    EXPECT_EQ(UnicodeText::wellFormed(attachment.localFileName), attachment.localFileName);
  }
  EXPECT_EQ(named.attachments[0].originalName, wide + ".txt") << "the upload keeps its name";
  EXPECT_TRUE(named.attachments[0].localFileName.ends_with(".txt"));
  EXPECT_TRUE(named.attachments[1].localFileName.ends_with(".zip"));
  EXPECT_EQ(named.attachments[3].localFileName, "04-.bashrc.bin");
  // The link is shared as the folder it points to, under its own name; links inside stay links.
  const auto listing = testing::runCommand("LC_ALL=C.UTF-8 unzip -Z1 " +
                                           testing::shellQuoted(staging / "03-link-to-folder.zip"));
  EXPECT_EQ(listing.output,
            "link-to-folder/sub/\nlink-to-folder/sub/b.txt\nlink-to-folder/sub/inner-link\n");

  fs::create_directories(folder / "delivered/inner");
  std::ofstream(folder / "delivered/inner/x.txt") << "x";
  auto bundle = std::make_shared<ScriptedProvider>(std::vector<std::string>{"public.data"});
  bundle->file = folder / "delivered";
  bundle->name = "  My App.app ";
  const auto zipped = load({bundle});
  ASSERT_EQ(localNames(zipped), (std::vector<std::string>{"01-My App.app.zip"}));
  EXPECT_EQ(zipped.attachments[0].mime, "application/zip");

  // Archivers' scripts and their failures: the person reads of a folder and of the cause; the
  // archiver's own words stay in the log.
  const std::pair<const char*, const char*> archivers[] = {
      {"echo 'cannot write' >&2\nexit 1", "无法压缩文件夹 Folder：broken-zip 退出码 1"},
      {"echo 'zip I/O error: No space left on device' >&2\nexit 14",
       "无法压缩文件夹 Folder：磁盘空间不足"},
      {"echo 'zip warning: could not open for reading: Folder/x' >&2\nexit 18",
       "无法压缩文件夹 Folder：其中有些文件无法读取"},
  };
  fs::create_directories(folder / "shared/Folder");
  const auto tool = folder / "broken-zip";
  for (const auto& [script, failure] : archivers) {
    std::ofstream(tool) << "#!/bin/sh\n" << script << "\n";
    fs::permissions(tool, fs::perms::owner_all);
    const auto failed = load({path(folder / "shared/Folder"), path(sharedFile("next.txt"))}, 50,
                             ShareArchive(tool));
    EXPECT_EQ(failed.skippedReasons, (std::vector<std::string>{"archive_failed:Folder"}));
    EXPECT_EQ(failed.failures, (std::vector<std::string>{failure}));
    EXPECT_EQ(localNames(failed), (std::vector<std::string>{"02-next.txt"}));
  }

  // A copy the system refused says why, when the person can act on it.
  const std::pair<int, std::optional<std::string>> causes[] = {
      {ENOSPC, "磁盘空间不足"}, {EDQUOT, "磁盘空间不足"}, {EACCES, "权限不足"},
      {EPERM, "权限不足"},      {EINVAL, std::nullopt},   {0, std::nullopt}};
  for (const auto& [error, cause] : causes) {
    EXPECT_EQ(ShareTargetLoader::copyCause({error, std::generic_category()}), cause) << error;
  }
  if (::geteuid() == 0) return;  // root writes everywhere
  const auto readOnly = folder / "read-only";
  fs::create_directories(readOnly);
  fs::permissions(readOnly, fs::perms::owner_read | fs::perms::owner_exec);
  std::vector<ShareTargetLoader::Skipped> heard;
  ShareTargetLoader(readOnly, 50, ShareSource{"linux", {}, {}, {}, {}}, ShareArchive(), {},
                    [&heard](const auto& skipped) { heard.push_back(skipped); })
      .load({path(sharedFile("ok.txt"))});
  fs::permissions(readOnly, fs::perms::owner_all);
  EXPECT_EQ(
      heard,
      (std::vector<ShareTargetLoader::Skipped>{{"copy_failed:ok.txt", std::nullopt, "权限不足"}}));
}

TEST_F(ShareTargetLoaderTest, BadProvidersTheItemsLimitTheChoiceOfTypeTextsAndLinks) {
  const auto scripted = [](std::vector<std::string> types) {
    return std::make_shared<ScriptedProvider>(std::move(types));
  };
  auto unknown = scripted({"com.example.unknown"});
  auto silent = scripted({"public.jpeg"});
  auto vanishingType = scripted({"public.mp3"});
  vanishingType->typesAfterQueries = {{3, {"com.example.other"}}};  // movie, image, audio
  auto failingURL = scripted({"public.file-url"});
  failingURL->item = ShareItemError{"permission denied"};
  auto webURL = scripted({"public.file-url"});
  webURL->item = *Url::parse("https://not.a.file/x");
  auto fileURLTypeGone = scripted({"public.file-url"});
  fileURLTypeGone->typesAfterQueries = {{4, {}}};  // movie, image, audio, file URL
  const auto skipped = load({unknown, silent, vanishingType, failingURL, webURL, fileURLTypeGone});
  EXPECT_EQ(skipped.skippedReasons,
            (std::vector<std::string>{"unsupported_provider",
                                      "file_representation_unavailable:public.jpeg",
                                      "type_identifier_missing:public.audio", "file_url_unreadable",
                                      "file_url_unreadable", "file_url_type_missing"}));
  EXPECT_TRUE(skipped.failures.empty());
  EXPECT_TRUE(stagedNames().empty());

  std::vector<std::shared_ptr<ScriptedProvider>> images;
  Providers providers;
  for (int index = 0; index < 3; ++index) {
    auto image = scripted({"public.png"});
    image->file = media / "picture-300x200.png";
    images.push_back(image);
    providers.push_back(image);
  }
  auto lateText = scripted({"public.plain-text"});
  lateText->item = ShareItemText{"late"};
  providers.push_back(lateText);
  const auto limited = load(providers, 2);
  EXPECT_EQ(limited.attachments.size(), 2u);
  EXPECT_EQ(limited.skippedReasons, (std::vector<std::string>{"items_limit"}));
  EXPECT_EQ(images[2]->typeQueries, 0);
  EXPECT_EQ(lateText->typeQueries, 0);
  EXPECT_FALSE(limited.text.has_value());

  auto provider = scripted({"public.image", "public.jpeg"});
  provider->file = media / "rotated-4032x3024.jpg";
  const auto chosen = load({provider});
  EXPECT_EQ(provider->fileRequests, (std::vector<std::string>{"public.jpeg"}));
  ASSERT_EQ(chosen.attachments.size(), 1u);
  const auto& jpeg = chosen.attachments[0];
  EXPECT_EQ(std::tuple(jpeg.localFileName, jpeg.width, jpeg.mime),
            std::tuple("01-attachment.jpeg", 4032, "image/jpeg"));

  EXPECT_EQ(load({text("same"), text("same")}).text, "same");
  EXPECT_EQ(load({text("one"), text("two")}).text, "one\n\ntwo");
  auto link = load({text("  https://lumo.example/x  ")});
  EXPECT_EQ(link.text, "  https://lumo.example/x  ");
  ASSERT_TRUE(link.url.has_value());
  EXPECT_EQ(link.url->absoluteString(), "https://lumo.example/x");
  auto twoLinks = load({std::make_shared<ShareURLItemProvider>(*Url::parse("https://a.example")),
                        std::make_shared<ShareURLItemProvider>(*Url::parse("https://b.example")),
                        text("https://c.example")});
  EXPECT_EQ(twoLinks.url->absoluteString(), "https://a.example");
  EXPECT_TRUE(twoLinks.skippedReasons.empty());
  EXPECT_FALSE(load({text("bad \xff utf8")}).text.has_value());
  EXPECT_TRUE(load({text("")}).isEmpty());
}

TEST(ShareUTTypeRegistry, ConformanceExtensionsAndMIMETypesAlsoFromSharedMimeInfo) {
  const auto jpeg = *ShareUTType::fromIdentifier("public.jpeg");
  EXPECT_TRUE(jpeg.conforms("public.item"));
  EXPECT_FALSE(jpeg.conforms("public.movie"));
  EXPECT_FALSE(ShareUTType::fromIdentifier("public.folder")->conforms("public.data"));
  EXPECT_TRUE(
      ShareUTType::fromIdentifier("com.apple.application-bundle")->conforms("public.directory"));
  EXPECT_FALSE(ShareUTType::fromIdentifier("com.example.unknown").has_value());
  EXPECT_EQ(ShareUTType::fromContent("%PDF-1.7\n")->identifier(), "com.adobe.pdf");

  EXPECT_EQ(ShareUTType::fromFilenameExtension("JPG")->identifier(), "public.jpeg");
  EXPECT_EQ(ShareUTType::fromFilenameExtension("mov")->preferredMIMEType(), "video/quicktime");
  EXPECT_FALSE(ShareUTType::fromFilenameExtension("jpg", "public.movie").has_value());
  EXPECT_FALSE(ShareUTType::fromFilenameExtension("").has_value());

  const auto ogv = ShareUTType::fromFilenameExtension("ogv");
  ASSERT_TRUE(ogv.has_value());
  EXPECT_TRUE(ogv->conforms("public.movie"));
  EXPECT_FALSE(ogv->preferredFilenameExtension().has_value());
  EXPECT_EQ(ShareUTType::fromIdentifier("dyn.ext.ogv")->preferredMIMEType(), "video/ogg");
  const auto nonsense = ShareUTType::fromFilenameExtension("qqzzxy");
  EXPECT_FALSE(nonsense->conforms("public.image"));
  EXPECT_FALSE(nonsense->preferredMIMEType().has_value());
}

}  // namespace
}  // namespace lumo
