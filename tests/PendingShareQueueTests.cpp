#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "QueueTestSupport.hpp"
#include "TestCommand.hpp"

namespace lumo {
namespace {

namespace fs = std::filesystem;
using State = ShareQueueEntry::State;

class PendingShareQueueTest : public ::testing::Test, protected testing::QueueFixture {
 protected:
  QueuedShare enqueued(const std::string& id, std::int64_t createdAt = 1) {
    queue.enqueue(testing::makeStagedShare(id, createdAt));
    return *queue.entry(id);
  }
  void advance(std::int64_t ms) { *clock += ms; }
  std::vector<std::string> ids(const std::vector<QueuedShare>& shares) {
    std::vector<std::string> result;
    for (const auto& share : shares) result.push_back(share.staged().clientShareId);
    return result;
  }
};

TEST_F(PendingShareQueueTest, EnqueueWritesAFreshQueuedEntryAndCapacityCountsReadableOnes) {
  const auto staged = testing::makeStagedShare("first", 5, {10, 32});
  queue.enqueue(staged);
  const auto share = queue.entry("first");
  ASSERT_TRUE(share.has_value());
  EXPECT_EQ(share->entry, (ShareQueueEntry{staged, State::queued, 0, {}, {}, {}, *clock}));
  EXPECT_EQ(share->directoryURL, storage.pendingDirectory("first"));
  EXPECT_EQ(queue.stats(), (ShareQueueStats{1, 0, 0, 0, 42}));

  for (int index = 0; index < 98; ++index)  // and the first: 99
    queue.enqueue(testing::makeStagedShare("s" + std::to_string(index), index));
  // A share still being staged (no "share.json") and a damaged one are not entries.
  queue.makeStagingDirectory("staging");
  fs::create_directory(storage.pendingDirectory("damaged"));
  std::ofstream(storage.pendingDirectory("damaged") / "share.json") << R"({"staged":)";
  EXPECT_EQ(queue.all().size(), 99u);
  EXPECT_NO_THROW(queue.enqueue(testing::makeStagedShare("staging", 1000)));
  EXPECT_EQ(testing::thrown<ShareQueueError>(
                [&] { queue.enqueue(testing::makeStagedShare("one-too-many", 1001)); }),
            ShareQueueError::full(100));
  EXPECT_FALSE(fs::exists(storage.pendingDirectory("one-too-many")));
}

TEST_F(PendingShareQueueTest, ListingIsStableOldestFirstAndSkipsDamage) {
  for (const auto& [id, at] : {std::pair("c", 20), {"b", 10}, {"a", 20}, {"d", 5}})
    queue.enqueue(testing::makeStagedShare(id, at));
  std::ofstream(storage.pendingDirectory("b") / "share.json") << R"({"state":"queued"})";
  EXPECT_EQ(ids(queue.all()), (std::vector<std::string>{"d", "a", "c"}));
  EXPECT_FALSE(queue.entry("b").has_value());
}

TEST_F(PendingShareQueueTest, FailedBackOffWindowsJitterBoundsAndNoFloorWithoutJitter) {
  auto share = enqueued("s");
  queue.markUploading(share);
  share = *queue.entry("s");
  EXPECT_EQ(share.entry.attempts, 1);
  EXPECT_EQ(share.entry.lastAttemptAtMs, *clock);

  const auto nextAfterFailure = [&](double draw, std::optional<std::int64_t> hint = std::nullopt) {
    *randomDraw = draw;
    queue.markFailed(share, "网络连接失败", hint);
    return *queue.entry("s")->entry.nextAttemptAtMs - *clock;
  };
  EXPECT_EQ(nextAfterFailure(0.0), 24000);
  EXPECT_EQ(nextAfterFailure(1.0), 36000);
  const auto failed = queue.entry("s")->entry;
  EXPECT_EQ(std::tuple(failed.state, failed.lastError, failed.attempts),
            std::tuple(State::failed, std::optional<std::string>("网络连接失败"), std::int64_t{1}));

  for (int attempt = 2; attempt <= 8; ++attempt) queue.markUploading(share);
  EXPECT_EQ(nextAfterFailure(1.0), 3600000) << "the back-off follows the attempts on disk";
  EXPECT_EQ(nextAfterFailure(0.5, 7200000), 7200000);
  EXPECT_EQ(nextAfterFailure(0.5, 1000), 3600000);
  EXPECT_EQ(nextAfterFailure(0.5, std::numeric_limits<std::int64_t>::max()),
            std::numeric_limits<std::int64_t>::max() - *clock);
  share = enqueued("never-tried");  // no attempt yet: counted as one
  queue.markFailed(share, "offline");
  EXPECT_EQ(*queue.entry("never-tried")->entry.nextAttemptAtMs - *clock, 30000);

  const ShareRandom low = [] { return 0.0; };
  const ShareRandom high = [] { return 1.0; };
  EXPECT_EQ(ShareRetry::backoffMs(1, 500, 8000, 0, low), 500);
  EXPECT_EQ(ShareRetry::backoffMs(1, 500, 8000, 0.2, low), 1000);
  EXPECT_EQ(ShareRetry::backoffMs(5, 500, 8000, 0.2, high), 8000);
  EXPECT_EQ(ShareRetry::backoffMs(-4, 500, 8000, 0, low), 500);
  EXPECT_EQ(ShareRetry::backoffMs(17, std::numeric_limits<std::int64_t>::max() / 2,
                                  std::numeric_limits<std::int64_t>::max(), 0.2, high),
            std::numeric_limits<std::int64_t>::max());
}

TEST_F(PendingShareQueueTest, OneOwnerPerShareAcrossQueuesAndThreads) {
  enqueued("s");
  PendingShareQueue otherProgram(storage);
  auto lease = queue.claim("s");
  ASSERT_TRUE(lease);
  EXPECT_EQ(lease->clientShareId(), "s");
  EXPECT_FALSE(queue.claim("s")) << "a second lease in the same queue";
  EXPECT_FALSE(otherProgram.claim("s")) << "nor in another queue object";
  std::jthread([&] { EXPECT_FALSE(otherProgram.claim("s")); }).join();

  // A share its owner is uploading is neither requeued nor removed under it, nor is a staging
  // folder claimable.
  queue.markUploading(*queue.entry("s"));
  otherProgram.requeueAll(true);
  EXPECT_FALSE(otherProgram.remove("s"));
  EXPECT_EQ(queue.entry("s")->entry.state, State::uploading);
  queue.makeStagingDirectory("staging");
  EXPECT_FALSE(otherProgram.claim("staging"));

  lease.reset();
  otherProgram.requeueAll(true);
  EXPECT_EQ(queue.entry("s")->entry.state, State::queued);
  EXPECT_TRUE(otherProgram.claim("s"));
  EXPECT_FALSE(otherProgram.claim("missing"));
  EXPECT_FALSE(otherProgram.claim("../s"));

  // The lease stays with the folder it locked: once its owner published the share, a new share
  // of the same name is not held by it.
  auto stale = queue.claim("s");
  ASSERT_TRUE(stale);
  queue.markSucceeded(*queue.entry("s"), testing::makeOutcome("s", 1));
  enqueued("s");
  EXPECT_TRUE(otherProgram.claim("s")) << "the new share is not held by the old lease";
  EXPECT_TRUE(otherProgram.remove("s"));
  EXPECT_TRUE(otherProgram.remove("s")) << "a missing share is no one's";
}

TEST_F(PendingShareQueueTest, TimesAtTheEndsOfTheRangeNeverOverflow) {
  auto share = enqueued("edited");
  share.entry.state = State::uploading;
  share.entry.lastAttemptAtMs = std::numeric_limits<std::int64_t>::min();
  ShareJSON::write(share.entry, share.directoryURL / "share.json");
  EXPECT_EQ(ids(queue.nextBatch(10, false)), (std::vector<std::string>{"edited"}));
  share.entry.lastAttemptAtMs = std::numeric_limits<std::int64_t>::max();
  ShareJSON::write(share.entry, share.directoryURL / "share.json");
  EXPECT_TRUE(queue.nextBatch(10, false).empty());
}

TEST_F(PendingShareQueueTest, AHeldShareIsInvisibleUntilEnqueuedAndGoesWhenDropped) {
  const auto hold = [&](const std::string& id) {
    queue.makeStagingDirectory(id);
    std::ofstream(storage.pendingDirectory(id) / "01-a.txt") << "staged";
    auto lease = queue.takeStagingLease(id);
    EXPECT_TRUE(lease);
    return std::make_shared<HeldShare>(std::shared_ptr<PendingShareQueue>(&queue, [](auto*) {}),
                                       testing::makeStagedShare(id, 1), *std::move(lease));
  };
  auto dropped = hold("dropped");
  auto sent = hold("sent");
  EXPECT_TRUE(queue.all().empty());
  EXPECT_FALSE(queue.claim("sent")) << "the holder owns it";
  dropped.reset();
  EXPECT_FALSE(fs::exists(storage.pendingDirectory("dropped")));

  ShareOptions options;
  options.slug = "chosen";
  sent->enqueue(options);
  EXPECT_EQ(ids(queue.nextBatch(10, false)), (std::vector<std::string>{"sent"}));
  EXPECT_EQ(queue.entry("sent")->staged().options, options);
  EXPECT_FALSE(queue.claim("sent")) << "enqueued, still the holder's";
  sent.reset();
  EXPECT_TRUE(queue.entry("sent")) << "an enqueued share stays queued";
  EXPECT_TRUE(queue.claim("sent"));
}

TEST_F(PendingShareQueueTest, NextBatchDueRules) {
  auto uploading = enqueued("uploading", 1);
  queue.markUploading(uploading);
  auto exhausted = enqueued("exhausted", 2);
  for (int attempt = 1; attempt <= 8; ++attempt) queue.markUploading(exhausted);
  queue.markFailed(exhausted, "boom");
  auto waiting = enqueued("waiting", 3);
  queue.markUploading(waiting);
  queue.markFailed(*queue.entry("waiting"), "later", 600000);
  enqueued("fresh", 4);

  advance(299000);
  EXPECT_EQ(ids(queue.nextBatch(10, false)), (std::vector<std::string>{"fresh"}));
  advance(2000);  // the upload started 301 s ago: abandoned
  EXPECT_EQ(ids(queue.nextBatch(10, false)), (std::vector<std::string>{"uploading", "fresh"}));
  advance(3600000);
  EXPECT_EQ(ids(queue.nextBatch(10, false)),
            (std::vector<std::string>{"uploading", "waiting", "fresh"}));
  EXPECT_EQ(ids(queue.nextBatch(2, true)), (std::vector<std::string>{"uploading", "exhausted"}));
  EXPECT_TRUE(queue.nextBatch(-1, true).empty());
}

TEST_F(PendingShareQueueTest, RequeueAllLeavesQueuedEntriesAloneAndUnsafeIdsNeverReachTheDisk) {
  const auto queued = enqueued("queued");
  queue.markUploading(enqueued("uploading"));
  auto failed = enqueued("failed");
  queue.markUploading(failed);
  queue.markFailed(*queue.entry("failed"), "boom", 5000);
  const auto lastAttempt = queue.entry("failed")->entry.lastAttemptAtMs;
  advance(1000);
  queue.requeueAll(true);
  EXPECT_EQ(queue.entry("queued")->entry, queued.entry);
  for (const auto* id : {"uploading", "failed"}) {
    const auto entry = queue.entry(id)->entry;
    EXPECT_EQ(std::tuple(entry.state, entry.attempts, entry.nextAttemptAtMs, entry.lastError,
                         entry.updatedAtMs),
              std::tuple(State::queued, std::int64_t{0}, std::optional<std::int64_t>(),
                         std::optional<std::string>(), clock->load()))
        << id;
  }
  EXPECT_EQ(queue.entry("failed")->entry.lastAttemptAtMs, lastAttempt);
  advance(1000);
  queue.requeueAll(false);
  EXPECT_EQ(queue.entry("queued")->entry.updatedAtMs, *clock);

  using namespace std::string_literals;
  enqueued("keep");
  queue.markSucceeded(*queue.entry("keep"), testing::makeOutcome("slug", 1));
  enqueued("other");
  for (const auto& unsafe : {""s, "."s, ".."s, "../x"s, "a/b"s, "a\0b"s}) {
    EXPECT_THROW(queue.makeStagingDirectory(unsafe), ShareQueueError);
    EXPECT_THROW(queue.enqueue(testing::makeStagedShare(unsafe, 1)), ShareQueueError);
    EXPECT_THROW(queue.updateStaged(testing::makeStagedShare(unsafe, 1), unsafe), ShareQueueError);
    EXPECT_FALSE(queue.entry(unsafe).has_value());
    queue.remove(unsafe);
    queue.discardStaging(unsafe);
  }
  EXPECT_TRUE(queue.entry("other").has_value());
  EXPECT_EQ(queue.recentUploads(10).size(), 1u);
  EXPECT_TRUE(fs::exists(storage.pendingRoot()));
}

TEST_F(PendingShareQueueTest, UpdateStagedReplacesOnlyExistingEntriesAndWriteFailuresAreIOErrors) {
  enqueued("s");
  auto staged = testing::makeStagedShare("s", 1);
  staged.options = ShareOptions::defaultValue();
  advance(10);
  const auto updated = queue.updateStaged(staged, "s");
  ASSERT_TRUE(updated.has_value());
  EXPECT_EQ(updated->entry.staged.options, ShareOptions::defaultValue());
  EXPECT_EQ(queue.entry("s")->entry.updatedAtMs, *clock);
  EXPECT_FALSE(queue.updateStaged(staged, "missing").has_value());

  const auto share = *queue.entry("s");
  fs::remove_all(storage.pendingDirectory("s"));
  std::ofstream(storage.pendingDirectory("s")) << "a file where the folder was";
  const auto error = testing::thrown<ShareQueueError>([&] { queue.markUploading(share); });
  ASSERT_TRUE(error.has_value()) << "write into a file succeeded";
  EXPECT_EQ(error->kind(), ShareQueueError::Kind::io);
}

TEST_F(PendingShareQueueTest, RemoveAndClearAllAndWhatIsRemovedStaysRemoved) {
  enqueued("a");
  enqueued("b");
  queue.makeStagingDirectory("staging");
  queue.markSucceeded(*queue.entry("a"), testing::makeOutcome("x", 1));
  queue.remove("b");
  EXPECT_TRUE(queue.all().empty());
  enqueued("c");
  queue.clearAll();
  EXPECT_TRUE(queue.all().empty());
  EXPECT_FALSE(fs::exists(storage.recentUploadsURL()));
  EXPECT_TRUE(fs::exists(storage.pendingDirectory("staging")));  // not an entry: left alone

  const auto share = enqueued("s");
  queue.remove("s");
  EXPECT_THROW(queue.markUploading(share), ShareQueueError);
  EXPECT_THROW(queue.markFailed(share, "late failure"), ShareQueueError);
  EXPECT_FALSE(fs::exists(storage.pendingDirectory("s")));
  EXPECT_FALSE(queue.entry("s").has_value());

  // Another process (its own queue object) writes while this one removes, at the same moment.
  PendingShareQueue writer(storage);
  for (int round = 0; round < 300; ++round) {
    const auto id = "race-" + std::to_string(round);
    const auto raced = enqueued(id);
    std::atomic<bool> go = false;
    std::jthread write([&] {
      while (!go) {
      }
      try {
        writer.markFailed(raced, "offline");
      } catch (const ShareQueueError&) {
      }
    });
    go = true;
    queue.remove(id);
    write.join();
    ASSERT_FALSE(fs::exists(storage.pendingDirectory(id))) << "round " << round;
  }
}

TEST_F(PendingShareQueueTest, WhatAKilledProcessLeftIsReclaimedOnceNobodyHoldsIt) {
  enqueued("kept");
  fs::create_directories(storage.pendingDirectory("orphan"));
  std::ofstream(storage.pendingDirectory("orphan") / "01-a.zip") << "half an archive";
  std::ofstream(storage.pendingDirectory("kept") / ".share.json.tmp-1a2b3c4d") << "{";
  std::ofstream(storage.rootURL / ".recent-uploads.json.tmp-5e6f7a8b") << "[";
  ASSERT_EQ(::mkfifo((storage.pendingDirectory("fifo")).c_str(), 0700), 0);
  fs::create_directories(storage.pendingDirectory("jammed"));
  ASSERT_EQ(::mkfifo((storage.pendingDirectory("jammed") / "share.json").c_str(), 0600), 0);
  PendingShareQueue otherProcess(storage);
  otherProcess.makeStagingDirectory("busy");
  const auto leftovers = [&] {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(storage.rootURL))
      names.push_back(fs::relative(entry.path(), storage.rootURL).string());
    std::sort(names.begin(), names.end());
    return names;
  };
  const auto realNow = currentTimeMs();
  *clock = realNow;
  const auto before = leftovers();
  EXPECT_EQ(ids(queue.all()), (std::vector<std::string>{"kept"})) << "a FIFO never blocks";
  EXPECT_EQ(leftovers(), before) << "nothing young is reclaimed";

  *clock = realNow + PendingShareQueue::abandonedStagingMs + 1000;
  EXPECT_EQ(ids(queue.all()), (std::vector<std::string>{"kept"}));
  EXPECT_EQ(leftovers(),
            (std::vector<std::string>{".removed", "pending", "pending/busy", "pending/fifo",
                                      "pending/jammed", "pending/jammed/share.json", "pending/kept",
                                      "pending/kept/share.json"}))
      << "a damaged entry is no abandoned staging: it stays for the person to remove";
  otherProcess.discardStaging("busy");
}

}  // namespace
}  // namespace lumo
