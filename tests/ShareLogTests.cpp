#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>

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

  std::shared_ptr<ShareLogCaptureSink> capture_ = std::make_shared<ShareLogCaptureSink>();

 private:
  std::shared_ptr<ShareLogSink> previousSink_;
  Level previousLevel_ = Level::info;
};

TEST_F(ShareLogTest, FilteredAndThrowingMessagesAndTheJournalOrStandardErrorWithoutIt) {
  ShareLog::setMinimumLevel(Level::info);
  int formatted = 0;
  ShareLog::queue().log(Level::debug, [&] {
    ++formatted;
    return std::string("hidden");
  });
  EXPECT_EQ(formatted, 0);
  ShareLogMessages::keychainReadStatus(1);  // debug
  ShareLogMessages::enqueuedShare("s", 1);  // info
  ASSERT_EQ(capture_->entries().size(), 1u);
  EXPECT_EQ(capture_->entries()[0].message, "enqueued share s items=1");

  EXPECT_NO_THROW(
      ShareLog::app().log(Level::error, []() -> std::string { throw std::runtime_error("x"); }));

  EXPECT_EQ(capture_->entries().size(), 1u) << "the throwing message left no entry";
  ShareLog::setSink(nullptr);
  EXPECT_NE(dynamic_cast<ShareJournalSink*>(ShareLog::sink().get()), nullptr);
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

}  // namespace
}  // namespace lumo
