#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "LumoShare.hpp"
#include "TemporaryDirectory.hpp"

namespace lumo {
namespace {

using Level = ShareLogLevel;

/// Routes the loggers into a capture sink for one test and restores everything afterwards.
class ShareLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousSink_ = ShareLog::setSink(capture_);
    previousLevel_ = ShareLog::minimumLevel();
    ShareLog::setMinimumLevel(Level::debug);
  }
  void TearDown() override {
    ShareLog::setSink(previousSink_);
    ShareLog::setMinimumLevel(previousLevel_);
  }

  std::vector<ShareLogEntry> entries() const { return capture_->entries(); }

  std::shared_ptr<ShareLogCaptureSink> capture_ = std::make_shared<ShareLogCaptureSink>();

 private:
  std::shared_ptr<ShareLogSink> previousSink_;
  Level previousLevel_ = Level::info;
};

struct MessageCase {
  std::function<void()> log;
  const char* category;
  Level level;
  const char* text;
};

TEST_F(ShareLogTest, EveryMessageHasItsWordingLevelAndLogger) {
  namespace M = ShareLogMessages;
  const std::vector<MessageCase> cases = {
      {[] { M::enqueuedShare("s1", 2); }, "queue", Level::info, "enqueued share s1 items=2"},
      {[] { M::queuedShareFailed("s1", "网络"); }, "queue", Level::defaultLevel,
       "share s1 failed: 网络"},
      {[] { M::queuedShareUploaded("s1", "doc", "ab"); }, "queue", Level::info,
       "share s1 uploaded as doc/ab"},
      {[] { M::backgroundTaskFailed(7, "gone"); }, "upload", Level::debug,
       "background task 7 failed: gone"},
      {[] { M::drainTokenRejected(); }, "upload", Level::defaultLevel,
       "分享 token 已失效（401），后续条目改走匿名上传"},
      {[] { M::uploadTokenRejected(); }, "upload", Level::defaultLevel,
       "分享 token 已失效（401），改走匿名上传"},
      {[] { M::bindPassFinished(4, 2, 1, 1); }, "app", Level::debug,
       "bind pending shares attempted=4 bound=2 failed=1 retryLater=1"},
      {[] { M::bindPassSkipped("no token"); }, "app", Level::debug,
       "bind pending shares skipped: no token"},
      {[] { M::keychainReadStatus(-25291); }, "token", Level::debug, "keychain read status=-25291"},
      {[] { M::ingestStart(3, "public.url,public.file-url"); }, "share-extension", Level::info,
       "ingest start providers=3 types=public.url,public.file-url"},
      {[] { M::skippedProviders("empty-text"); }, "share-extension", Level::error,
       "skipped providers: empty-text"},
      {[] { M::providerFailures("boom"); }, "share-extension", Level::error,
       "provider failures: boom"},
      {[] { M::ingestStageFailed("disk"); }, "share-extension", Level::error,
       "ingest stage failed: disk"},
      {[] { M::ingestFailed("x"); }, "share-extension", Level::error, "ingest failed: x"},
      {[] { M::ingestEmptyPayload("public.data"); }, "share-extension", Level::error,
       "ingest empty payload providers=public.data"},
      {[] { M::loadFinished("没有内容"); }, "share-extension", Level::error,
       "load finished with message=没有内容"},
      {[] { M::copyFileURLFailed("e"); }, "share-extension", Level::debug,
       "copy file-url failed: e"},
      {[] { M::archiveFileURLDirectoryFailed("e"); }, "share-extension", Level::error,
       "archive file-url directory failed: e"},
      {[] { M::stageAttachmentFailed("e"); }, "share-extension", Level::debug,
       "stage attachment failed: e"},
      {[] { M::archiveAttachmentFailed("e"); }, "share-extension", Level::error,
       "archive attachment failed: e"},
      {[] { M::loadItemFailed("public.url", "e"); }, "share-extension", Level::debug,
       "loadItem public.url failed: e"},
      {[] { M::tokenState("signedIn", false); }, "share-extension", Level::defaultLevel,
       "token state=signedIn anonymous=false"},
      {[] { M::storageLocation("groupContainer", "/home/u/x"); }, "share-extension",
       Level::defaultLevel, "storage location=groupContainer root=/home/u/x"},
      {[] { M::shareSucceeded("link", "ab", "https://l.example/ab", true); }, "share-extension",
       Level::info, "share success kind=link slug=ab shortUrl=https://l.example/ab anonymous=true"},
      {[] { M::shareFailed("network", true, "请登录"); }, "share-extension", Level::error,
       "share failed error=network requiresLogin=true message=请登录"},
  };
  for (const auto& expected : cases) {
    capture_->clear();
    expected.log();
    const auto logged = entries();
    ASSERT_EQ(logged.size(), 1u) << expected.text;
    EXPECT_EQ(logged[0], (ShareLogEntry{"com.lumo.share.apple", expected.category, expected.level,
                                        expected.text}));
  }
}

TEST_F(ShareLogTest, FilteredMessagesAreNeverFormatted) {
  ShareLog::setMinimumLevel(Level::info);
  int formatted = 0;
  ShareLog::queue().log(Level::debug, [&] {
    ++formatted;
    return std::string("hidden");
  });
  EXPECT_EQ(formatted, 0);
  ShareLogMessages::keychainReadStatus(1);
  ShareLogMessages::enqueuedShare("s", 1);
  ASSERT_EQ(entries().size(), 1u);
  EXPECT_EQ(entries()[0].message, "enqueued share s items=1");

  ShareLog::setMinimumLevel(Level::error);
  capture_->clear();
  ShareLogMessages::tokenState("x", true);  // default level
  ShareLogMessages::ingestFailed("y");      // error level
  ASSERT_EQ(entries().size(), 1u);
  EXPECT_EQ(entries()[0].level, Level::error);
}

TEST_F(ShareLogTest, AThrowingMessageNeverEscapes) {
  EXPECT_NO_THROW(
      ShareLog::app().log(Level::error, []() -> std::string { throw std::runtime_error("x"); }));
  EXPECT_TRUE(entries().empty());
}

TEST(ShareJournalSinkFallback, WithoutAJournalMessagesGoToStandardError) {
  testing::TemporaryDirectory folder;
  const auto captured = folder / "stderr";
  const int saved = ::dup(STDERR_FILENO);
  {
    const FileDescriptor file(::open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
    ::dup2(file.get(), STDERR_FILENO);
  }
  ShareJournalSink sink((folder / "no-journal-socket").string());
  sink.write(ShareLogEntry{"com.lumo.share.apple", "queue", Level::debug, "kept"});
  std::fflush(stderr);
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  EXPECT_FALSE(sink.isReachable());
  std::ifstream in(captured);
  const std::string text(std::istreambuf_iterator<char>(in), {});
  EXPECT_EQ(text, "com.lumo.share.apple[queue] debug: kept\n");
}

TEST_F(ShareLogTest, ANullSinkRestoresTheJournal) {
  ShareLog::setSink(nullptr);
  EXPECT_NE(dynamic_cast<ShareJournalSink*>(ShareLog::sink().get()), nullptr);
}

}  // namespace
}  // namespace lumo
