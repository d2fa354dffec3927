// Publishing queued shares for real: the upload session against the reference service, with
// the queue, the stored token and the service's records checked after each step.
#include <gtest/gtest.h>

#include "LumoShare.hpp"
#include "QueueTestSupport.hpp"
#include "ServiceFixture.hpp"
#include "TemporaryDirectory.hpp"

namespace lumo {
namespace {

class ShareUploadSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ShareAppleBundle::setMain(
        std::make_shared<ShareAppleBundle>(JSONValue{{"LumoShareAPIBase", running_->apiBase()}}));
    previousSink_ = ShareLog::setSink(log_);
    running_->service.store().addAccount({"pro-id", "pro", "pro", testing::systemNow()});
  }
  void TearDown() override {
    ShareLog::setSink(previousSink_);
    ShareAppleBundle::setMain(nullptr);
  }

  void signIn(const std::string& accessToken) {
    session_.tokenStore.save(ShareToken{accessToken, std::nullopt, std::nullopt, "pro-id", 0});
  }
  std::string validToken() {
    return running_->service.secrets().issueToken("pro-id", testing::systemNow(), 1);
  }
  /// A token of the right form that this service never signed.
  static std::string foreignToken() {
    return "eyJhbGciOiJIUzI1NiIsInR5cCI6IkpXVCJ9.eyJzdWIiOiJwcm8taWQifQ."
           "c2lnbmVkIGJ5IHNvbWVvbmUgZWxzZQ";
  }
  void enqueue(const std::string& id) { queue_->enqueue(testing::makeStagedShare(id, 1)); }
  std::int64_t storedShares() {
    return running_->service.store().activeShares(std::nullopt, std::nullopt, std::nullopt, 0) +
           running_->service.store().activeShares("pro-id", std::nullopt, std::nullopt, 0);
  }
  /// What was logged about rejected tokens.
  std::vector<std::string> logged() {
    std::vector<std::string> messages;
    for (const auto& entry : log_->entries()) {
      if (entry.message.find("401") != std::string::npos) messages.push_back(entry.message);
    }
    return messages;
  }

  testing::TemporaryDirectory data_;
  testing::TemporaryDirectory root_;
  std::unique_ptr<testing::RunningService> running_ = std::make_unique<testing::RunningService>(
      testing::serviceOptions(data_.path(), testing::systemNow));
  ShareStorage storage_{root_ / "root", ShareStorageLocation::injected};
  std::int64_t laterMs_ = 0;  ///< how far the queue's clock runs ahead
  std::shared_ptr<PendingShareQueue> queue_ =
      std::make_shared<PendingShareQueue>(storage_, [this] { return currentTimeMs() + laterMs_; });
  ShareUploadSession session_{
      queue_, ShareTokenStore(storage_), ShareSettingsStore{storage_},
      std::make_shared<URLSessionTransport>(std::make_shared<ShareCurlSession>()),
      RetryPolicy{1, 1, 1, 0}};
  std::shared_ptr<ShareLogCaptureSink> log_ = std::make_shared<ShareLogCaptureSink>();
  std::shared_ptr<ShareLogSink> previousSink_;
};

TEST_F(ShareUploadSessionTest, PublishesNowAndFallsBackToAnonymousWhenTheTokenIsRejected) {
  EXPECT_EQ(std::get<ShareUploadError>(session_.uploadNow("missing")),
            ShareUploadError::transport("队列条目丢失：missing"));

  signIn(validToken());
  enqueue("mine");
  ShareOptions options;
  options.slug = "my-own-slug";
  const auto mine = std::get<ShareUploadOutcome>(session_.uploadNow("mine", options));
  EXPECT_EQ(std::tuple(mine.slug, mine.anonymous), std::tuple("my-own-slug", false));
  EXPECT_EQ(running_->service.store().share("my-own-slug")->owner, "pro-id");
  EXPECT_FALSE(queue_->entry("mine")) << "a published share leaves the queue";
  EXPECT_EQ(queue_->recentUploads(10).size(), 1u);

  signIn(foreignToken());
  enqueue("fallback");
  const auto fallback = std::get<ShareUploadOutcome>(session_.uploadNow("fallback"));
  EXPECT_TRUE(fallback.anonymous);
  EXPECT_TRUE(fallback.claimToken);
  EXPECT_EQ(logged(), std::vector<std::string>{"分享 token 已失效（401），改走匿名上传"});
}

TEST_F(ShareUploadSessionTest, EveryComposeOptionReachesTheService) {
  signIn(validToken());
  enqueue("options");
  ShareComposeDraft draft;
  draft.title = "Quarterly";
  draft.expiresInSeconds = 2592000;
  draft.passwordEnabled = true;
  draft.password = "open sesame";
  draft.slug = "q-report";
  draft.maxDownloadsText = "3";
  draft.disableDownload = true;
  draft.burnAfterReading = true;
  draft.watermarkEnabled = true;
  draft.watermarkText = "Ana only";
  draft.watermarkPosition = ShareComposeWatermarkPosition::diagonal;
  const auto outcome = std::get<ShareUploadOutcome>(
      session_.uploadNow("options", draft.makeOptions(false, false, true)));
  const auto stored = running_->service.store().share(outcome.slug);
  ASSERT_TRUE(stored);
  EXPECT_EQ(std::tuple(stored->slug, stored->comment, stored->expDays, stored->maxDownloads,
                       stored->disableDownload, stored->burnAfterReading),
            std::tuple("q-report", "Quarterly", 30, 3, true, true));
  EXPECT_TRUE(service::ServiceSecrets::passwordMatches(*stored->passwordHash, "open sesame"));
  EXPECT_EQ(ShareJSON::decoder().decode<WatermarkSettings>(*stored->watermark),
            (WatermarkSettings{true, "Ana only", "diagonal", 0.35, "#ffffff", 48, -30, true}));
}

TEST_F(ShareUploadSessionTest, ADrainSwitchesToAnonymousOnceAndCountsWhatItLeft) {
  EXPECT_EQ(session_.drain(5), ShareUploadReport{}) << "nothing to do: anonymous stays absent";
  signIn(foreignToken());
  for (const auto* id : {"a", "b", "c"}) enqueue(id);
  const auto report = session_.drain(2);
  EXPECT_EQ(
      std::tuple(report.uploaded.size(), report.failures.size(), report.skipped, report.anonymous),
      std::tuple(2u, 0u, 0, std::optional(true)));
  EXPECT_EQ(logged(), std::vector<std::string>{"分享 token 已失效（401），后续条目改走匿名上传"})
      << "the token is tried once per pass";
  EXPECT_EQ(storedShares(), 2);
}

TEST_F(ShareUploadSessionTest, AShareOutlivesAStoppedServerAndIsPublishedOnce) {
  signIn(validToken());
  enqueue("patient");
  const auto port = running_->port;
  running_.reset();  // the service is down
  const auto failed = session_.uploadNow("patient");
  ASSERT_TRUE(std::holds_alternative<ShareUploadError>(failed));
  EXPECT_EQ(std::get<ShareUploadError>(failed).kind(), ShareUploadError::Kind::transport);
  const auto kept = queue_->entry("patient");
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->entry.state, ShareQueueEntry::State::failed);
  EXPECT_FALSE(kept->entry.lastError.value_or("").empty());

  running_ = std::make_unique<testing::RunningService>(
      testing::serviceOptions(data_.path(), testing::systemNow), port);
  ASSERT_EQ(running_->port, port);
  laterMs_ = 3600000;  // past the queue's back-off
  const auto report = session_.drain(5, true);
  EXPECT_EQ(std::tuple(report.uploaded.size(), report.failures.size(), report.anonymous),
            std::tuple(1u, 0u, std::optional(false)));
  EXPECT_EQ(session_.drain(5, true), ShareUploadReport{});
  EXPECT_EQ(storedShares(), 1);
}

}  // namespace
}  // namespace lumo
