// Publishing queued shares for real: the upload session against the reference service, with
// the queue, the stored token and the service's records checked after each step.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <thread>

#include "LumoShare.hpp"
#include "QueueTestSupport.hpp"
#include "ServiceFixture.hpp"
#include "TemporaryDirectory.hpp"

namespace lumo {
namespace {

/// The real transport, counting the publish requests of each share (by its idempotency key) and
/// asking `stopAfterFirst` to stop once the first request has been answered; or, `offline`, a
/// network that is down.
class CountingTransport : public ShareHTTPTransport {
 public:
  std::stop_source stopAfterFirst;
  bool offline = false;

  ShareHTTPReply data(const ShareHTTPRequest& request, std::stop_token stop) override {
    return counted(request, [&] { return real_.data(request, stop); });
  }
  ShareHTTPReply upload(const ShareHTTPRequest& request, std::string_view body,
                        std::stop_token stop) override {
    return counted(request, [&] { return real_.upload(request, body, stop); });
  }
  ShareHTTPReply uploadFile(const ShareHTTPRequest& request, const std::filesystem::path& file,
                            std::stop_token stop) override {
    return counted(request, [&] { return real_.uploadFile(request, file, stop); });
  }
  std::map<std::string, int> sends() {
    const std::lock_guard lock(mutex_);
    return sends_;
  }

 private:
  template <class Send>
  ShareHTTPReply counted(const ShareHTTPRequest& request, Send send) {
    if (const auto key = request.value("Idempotency-Key")) {
      const std::lock_guard lock(mutex_);
      ++sends_[*key];
    }
    if (offline) throw ShareURLError(ShareURLError::Code::cannotConnectToHost, "network off");
    auto reply = send();
    stopAfterFirst.request_stop();
    return reply;
  }

  URLSessionTransport real_{std::make_shared<ShareCurlSession>()};
  std::mutex mutex_;
  std::map<std::string, int> sends_;
};

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
  ShareUploadSession session_{queue_, ShareTokenStore(storage_), ShareSettingsStore{storage_},
                              URLSessionTransport::makeDefault(), RetryPolicy{1, 1, 1, 0}};
  std::shared_ptr<ShareLogCaptureSink> log_ = std::make_shared<ShareLogCaptureSink>();
  std::shared_ptr<ShareLogSink> previousSink_;
};

TEST_F(ShareUploadSessionTest, PublishesNowWithEveryOptionAndFallsBackToAnonymousOnARejectedToken) {
  EXPECT_EQ(std::get<ShareUploadError>(session_.uploadNow("missing")),
            ShareUploadError::transport("队列条目丢失：missing"));

  signIn(validToken());
  enqueue("mine");
  ShareOptions options;
  options.slug = "my-own-slug";
  const auto mine = std::get<ShareUploadOutcome>(session_.uploadNow("mine", options));
  EXPECT_EQ(std::tuple(mine.slug, mine.anonymous), std::tuple("my-own-slug", false));
  EXPECT_EQ(running_->service.store().share("my-own-slug")->owner, "pro-id");

  signIn(foreignToken());
  enqueue("fallback");
  const auto fallback = std::get<ShareUploadOutcome>(session_.uploadNow("fallback"));
  EXPECT_TRUE(fallback.anonymous);
  EXPECT_TRUE(fallback.claimToken);
  EXPECT_EQ(logged(), std::vector<std::string>{"分享 token 已失效（401），改走匿名上传"});

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

TEST_F(ShareUploadSessionTest, OnlyTheOwnerSendsAShare) {
  signIn(validToken());
  for (const auto* id : {"a", "held", "b"}) enqueue(id);
  auto counting = std::make_shared<CountingTransport>();
  auto session = session_;
  session.transport = counting;
  const auto heldElsewhere = PendingShareQueue(storage_).claim("held");
  ASSERT_TRUE(heldElsewhere);

  const auto busy = std::get<ShareUploadError>(session.uploadNow("held"));
  EXPECT_EQ(busy, ShareUploadError::transport(std::string(ShareUploadSession::busyText) + "held"));
  const auto report = session.drain(10);
  EXPECT_EQ(std::tuple(report.uploaded.size(), report.failures.size()), std::tuple(2u, 0u));
  const auto untouched = queue_->entry("held")->entry;
  EXPECT_EQ(std::tuple(untouched.state, untouched.attempts),
            std::tuple(ShareQueueEntry::State::queued, std::int64_t{0}));
  EXPECT_EQ(counting->sends(), (std::map<std::string, int>{{"a", 1}, {"b", 1}}));

  // Three drains of their own, at once, over one queue: every share goes out exactly once.
  for (int index = 0; index < 12; ++index) enqueue("many-" + std::to_string(index));
  {
    std::vector<std::jthread> drains;
    for (int drain = 0; drain < 3; ++drain) {
      drains.emplace_back([&] {
        auto own = session;
        own.queue = std::make_shared<PendingShareQueue>(storage_);
        own.drain(20);
      });
    }
  }
  for (const auto& [key, count] : counting->sends()) EXPECT_EQ(count, 1) << key;
  EXPECT_EQ(counting->sends().size(), 14u);
  EXPECT_EQ(queue_->all().size(), 1u) << "only the held share is left";
}

TEST_F(ShareUploadSessionTest, AStoppedDrainLeavesTheSharesItDidNotTakeUntouched) {
  for (const auto* id : {"first", "second", "third"}) enqueue(id);
  const auto before = queue_->all();
  auto counting = std::make_shared<CountingTransport>();
  auto session = session_;
  session.transport = counting;
  const auto report = session.drain(10, false, counting->stopAfterFirst.get_token());
  EXPECT_EQ(std::tuple(report.uploaded.size(), report.failures.size()), std::tuple(1u, 0u));
  EXPECT_EQ(queue_->all(), std::vector<QueuedShare>(before.begin() + 1, before.end()));
}

TEST_F(ShareUploadSessionTest, AHeldShareIsQueuedWhenSentAndAShareOutlivesAStoppedServer) {
  signIn(validToken());
  queue_->makeStagingDirectory("held");
  auto lease = queue_->takeStagingLease("held");
  ASSERT_TRUE(lease);
  HeldShare held(queue_, testing::makeStagedShare("held", 1), *std::move(lease));
  EXPECT_TRUE(session_.drain(10).uploaded.empty()) << "not queued before it is sent";
  ShareOptions options;
  options.slug = "held-slug";
  auto offline = session_;
  auto down = std::make_shared<CountingTransport>();
  down->offline = true;
  offline.transport = down;
  ASSERT_TRUE(std::holds_alternative<ShareUploadError>(offline.uploadNow(held, options)));
  EXPECT_TRUE(queue_->claim("held")) << "a failed share is the queue's again";
  const auto outcome = std::get<ShareUploadOutcome>(session_.uploadNow(held, options));
  EXPECT_EQ(outcome.slug, "held-slug");
  EXPECT_FALSE(queue_->entry("held"));
  EXPECT_EQ(queue_->recentUploads(10).size(), 1u);

  enqueue("patient");
  const auto port = running_->port;
  running_.reset();  // the service is down
  const auto failed = session_.uploadNow("patient");
  ASSERT_TRUE(std::holds_alternative<ShareUploadError>(failed));
  EXPECT_EQ(std::get<ShareUploadError>(failed).kind(), ShareUploadError::Kind::transport);
  const auto kept = queue_->entry("patient");
  ASSERT_TRUE(kept);
  EXPECT_EQ(std::tuple(kept->entry.state, kept->entry.attempts),
            std::tuple(ShareQueueEntry::State::failed, std::int64_t{1}));
  EXPECT_FALSE(kept->entry.lastError.value_or("").empty());
  laterMs_ = 3600000;  // past the back-off: a drain tries again, and counts it
  EXPECT_EQ(session_.drain(5).failures.size(), 1u);
  EXPECT_EQ(queue_->entry("patient")->entry.attempts, 2);

  running_ = std::make_unique<testing::RunningService>(
      testing::serviceOptions(data_.path(), testing::systemNow), port);
  ASSERT_EQ(running_->port, port);
  laterMs_ = 2 * 3600000;  // past the queue's back-off
  const auto report = session_.drain(5, true);
  EXPECT_EQ(std::tuple(report.uploaded.size(), report.failures.size(), report.anonymous),
            std::tuple(1u, 0u, std::optional(false)));
  EXPECT_EQ(session_.drain(5, true), ShareUploadReport{});
  EXPECT_EQ(storedShares(), 2) << "the held share and the patient one, each once";
}

}  // namespace
}  // namespace lumo
