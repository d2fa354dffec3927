#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

#include "QueueTestSupport.hpp"
#include "TestCommand.hpp"

namespace lumo {
namespace {

namespace fs = std::filesystem;

ShareUploadRecord decodeRecord(std::string_view json) {
  return ShareJSON::decoder().decode<ShareUploadRecord>(json);
}

TEST(ShareUploadRecordJSON, WritesTheCurrentLayoutReadsLegacyOnesAndClaimStatesDecideBinding) {
  ShareUploadRecord record{
      "id",    "link", "ab",         "https://lumo.example/ab", "T",    1000, 2000, true,
      "claim", 1500,   std::nullopt, "https://c/console/links", "bound"};
  EXPECT_EQ(
      ShareJSON::encoder().encode(record),
      R"({"clientShareId":"id","kind":"link","slug":"ab","shortUrl":"https://lumo.example/ab",)"
      R"("title":"T","uploadedAtMs":1000,"createdAt":1000,"expiresAt":2000,"anonymous":true,)"
      R"("claimToken":"claim","boundAt":1500,"consoleUrl":"https://c/console/links"})");
  EXPECT_EQ(decodeRecord(ShareJSON::encoder().encode(record)), record);

  const auto shareIdOnly =
      decodeRecord(R"({"shareId":"xyz","shortUrl":"https://old.example/s/xyz"})");
  const std::string docs(ShareApple::consoleDocsURL);
  const ShareUploadRecord expected{
      "xyz", "doc", "xyz",    "https://old.example/s/xyz", "", 0, 86400000, false, {}, {},
      {},    docs,  "unbound"};
  EXPECT_EQ(shareIdOnly, expected);

  const auto urlOnly = decodeRecord(R"({"kind":"link","shortUrl":"https://old.example/s/k9%20z"})");
  EXPECT_EQ(urlOnly.slug, "k9 z");
  EXPECT_EQ(urlOnly.consoleUrl, std::string(ShareApple::consoleLinksURL));
  EXPECT_EQ(urlOnly.clientShareId.size(), 36u);  // a fresh UUID

  const auto slugOnly = decodeRecord(R"({"slug":"q1"})");
  EXPECT_EQ(slugOnly.shortUrl, std::string(ShareApple::sharePageBase) + "q1");

  const auto old = decodeRecord(
      R"({"clientShareId":"c","slug":"s","createdAtMs":10,"expiresAtMs":20,"boundAtMs":15,"claimToken":"t"})");
  EXPECT_EQ(std::tuple(old.createdAtMs, old.expiresAtMs, old.boundAtMs, old.anonymous),
            std::tuple(10, 20, 15, true));
  EXPECT_EQ(old.claimState, "bound");
  EXPECT_FALSE(old.needsBind());

  const auto precedence = decodeRecord(
      R"({"slug":"s","uploadedAtMs":1,"createdAt":2,"createdAtMs":3,"expiresAt":4,"expiresAtMs":5,"boundAt":6,"boundAtMs":7})");
  EXPECT_EQ(std::tuple(precedence.createdAtMs, precedence.expiresAtMs, precedence.boundAtMs),
            std::tuple(1, 4, 6));

  const auto refused = decodeRecord(R"({"slug":"s","claimToken":"t","bindError":"gone"})");
  EXPECT_EQ(refused.claimState, "failed");
  EXPECT_FALSE(refused.needsBind());

  auto claimed =
      decodeRecord(R"({"slug":"s","claimToken":"t","uploadedAtMs":100,"expiresAt":200})");
  EXPECT_EQ(claimed.claimState, "unbound");
  EXPECT_TRUE(claimed.needsBind());
  EXPECT_FALSE(claimed.isExpiredForBind(199));
  EXPECT_TRUE(claimed.isExpiredForBind(200));
  claimed.claimToken = "";
  EXPECT_FALSE(claimed.needsBind());
}

class UploadRecordsTest : public ::testing::Test, protected testing::QueueFixture {
 protected:
  QueuedShare enqueued(const std::string& id) {
    queue.enqueue(testing::makeStagedShare(id, 1));
    return *queue.entry(id);
  }
  void succeed(const std::string& id, const std::string& slug, std::int64_t at,
               std::optional<std::string> claim = std::nullopt) {
    queue.markSucceeded(enqueued(id), testing::makeOutcome(slug, at, claim));
  }
};

TEST_F(UploadRecordsTest, SucceededShareBecomesARecordAndLeavesTheQueue) {
  const auto share = enqueued("s");
  queue.markSucceeded(share, testing::makeOutcome("abc", 5000, "claim"));
  EXPECT_FALSE(fs::exists(share.directoryURL));
  const auto records = queue.recentUploads(10);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0],
            (ShareUploadRecord{"s", "doc", "abc", "https://lumo.example/abc", "title s", 5000,
                               5000 + 86400000, true, "claim", std::nullopt, std::nullopt,
                               std::string(ShareApple::consoleDocsURL), "unbound"}));
  EXPECT_EQ(queue.stats().recent, 1);
}

TEST_F(UploadRecordsTest, ReuploadReplacesTheRecordAndKeepsAnEarlierBind) {
  succeed("s", "abc", 1000, "claim");
  EXPECT_EQ(queue.markBound({"abc"}, 1500), 1);
  succeed("s", "abc", 2000, "claim");
  auto records = queue.recentUploads(10);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].createdAtMs, 2000);
  EXPECT_EQ(records[0].boundAtMs, 1500);
  EXPECT_EQ(records[0].claimState, "bound");

  succeed("s", "new-slug", 3000, "claim");  // another slug: a fresh record
  records = queue.recentUploads(10);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_FALSE(records[0].boundAtMs.has_value());
}

TEST_F(UploadRecordsTest, FiftyRecordsAreKept) {
  for (int index = 0; index <= 50; ++index)
    succeed("s" + std::to_string(index), "k" + std::to_string(index), 100 + index);
  const auto records = queue.recentUploads(100);
  ASSERT_EQ(records.size(), 50u);
  EXPECT_EQ(records.front().slug, "k50");
  EXPECT_EQ(records.back().slug, "k1");  // the oldest, k0, was dropped
  EXPECT_EQ(queue.recentUploads(3).size(), 3u);
}

TEST_F(UploadRecordsTest, BindBookkeeping) {
  succeed("a", "a", 300, "t");
  succeed("b", "b", 100, "t");
  succeed("c", "c", 200, std::nullopt);
  succeed("d", "d", 50, "t");
  *clock = 50 + 86400000;  // d has just expired
  EXPECT_EQ(queue.pendingBinds(10).size(), 2u);
  EXPECT_EQ(queue.pendingBinds(1).front().slug, "b");

  EXPECT_EQ(queue.markBindSettled({{"b", "claim expired"}, {"zz", "x"}}), 1);
  EXPECT_EQ(queue.pendingBinds(10).front().slug, "a");
  EXPECT_EQ(queue.markBound({"a", "b"}), 2);
  const auto records = queue.recentUploads(10);
  const auto b =
      std::find_if(records.begin(), records.end(), [](const auto& r) { return r.slug == "b"; });
  EXPECT_EQ(b->boundAtMs, *clock);
  EXPECT_FALSE(b->bindError.has_value());
  EXPECT_TRUE(queue.pendingBinds(10).empty());
}

TEST_F(UploadRecordsTest, RemoveRecentTakesOnlyTheNamedRecordAndDamageCostsOnlyTheDamaged) {
  succeed("a", "a", 1);
  auto elsewhere = testing::makeOutcome("a", 2);  // the same slug on another service
  elsewhere.shortUrl = "https://other.example/a";
  queue.markSucceeded(enqueued("b"), elsewhere);
  const auto before = fs::last_write_time(storage.recentUploadsURL());
  EXPECT_EQ(queue.removeRecent("missing"), 0);
  EXPECT_EQ(queue.removeRecent("a", "https://third.example/a"), 0);
  EXPECT_EQ(fs::last_write_time(storage.recentUploadsURL()), before);
  EXPECT_EQ(queue.removeRecent("a", elsewhere.shortUrl), 1);
  ASSERT_EQ(queue.recentUploads(10).size(), 1u);
  EXPECT_EQ(queue.recentUploads(10).front().shortUrl, "https://lumo.example/a");
  EXPECT_EQ(queue.removeRecent("a"), 1);
  EXPECT_TRUE(queue.recentUploads(10).empty());

  storage.ensureDirectories();
  std::ofstream(storage.recentUploadsURL()) << "[{\"slug\":";
  EXPECT_TRUE(queue.recentUploads(10).empty());
  succeed("a", "a", 1);
  EXPECT_EQ(queue.recentUploads(10).size(), 1u);

  // One record of the wrong shape costs that record only.
  std::ofstream(storage.recentUploadsURL())
      << R"([{"slug":"good","uploadedAtMs":5},{"slug":"bad","anonymous":"yes"},7])";
  const auto records = queue.recentUploads(10);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].slug, "good");
}

TEST_F(UploadRecordsTest, TwoProcessesNeverLoseEachOthersRecords) {
  storage.ensureDirectories();
  constexpr int perProcess = 20;
  std::vector<pid_t> children;
  for (const char* prefix : {"left", "right"}) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      PendingShareQueue own(storage);
      for (int index = 0; index < perProcess; ++index) {
        const auto id = std::string(prefix) + std::to_string(index);
        own.enqueue(testing::makeStagedShare(id, index));
        own.markSucceeded(*own.entry(id), testing::makeOutcome(id, index));
      }
      ::_exit(0);
    }
    children.push_back(child);
  }
  for (const auto child : children) EXPECT_EQ(testing::exitStatus(child), 0);
  EXPECT_EQ(queue.recentUploads(100).size(), 2u * perProcess);
}

}  // namespace
}  // namespace lumo
