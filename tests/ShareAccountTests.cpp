// The host side's service calls: devices, notices, health and the plan against the reference
// service; the claim-binding pass against the service and against scripted replies; a drain
// over the background uploader's transport.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <mutex>

#include "LumoShare.hpp"
#include "QueueTestSupport.hpp"
#include "ServiceFixture.hpp"
#include "ShareTestServer.hpp"
#include "TemporaryDirectory.hpp"
#include "TestCommand.hpp"

namespace lumo {
namespace {

/// Records every request; answers it through `inner`, or from `script` (status, body) in turn.
class RecordingTransport final : public ShareHTTPTransport {
 public:
  explicit RecordingTransport(std::shared_ptr<ShareHTTPTransport> inner = nullptr)
      : inner_(std::move(inner)) {}
  ShareHTTPReply data(const ShareHTTPRequest& request, std::stop_token stop) override {
    {
      const std::lock_guard lock(mutex_);
      requests.push_back(request);
      if (!inner_) {
        auto [status, body] = script.at(requests.size() - 1);
        return {body, ShareHTTPResponse{status, {}}};
      }
    }
    return inner_->data(request, stop);
  }
  ShareHTTPReply upload(const ShareHTTPRequest& request, std::string_view body,
                        std::stop_token stop) override {
    return inner_->upload(request, body, stop);
  }
  ShareHTTPReply uploadFile(const ShareHTTPRequest& request, const std::filesystem::path& file,
                            std::stop_token stop) override {
    return inner_->uploadFile(request, file, stop);
  }

  std::vector<std::pair<int, std::string>> script;
  std::vector<ShareHTTPRequest> requests;

 private:
  std::shared_ptr<ShareHTTPTransport> inner_;
  std::mutex mutex_;
};

class ShareAccountTest : public ::testing::Test {
 protected:
  void SetUp() override {
    running_->service.store().addAccount({"ana-id", "ana", "pro", testing::systemNow()});
    token_ = running_->service.secrets().issueToken("ana-id", testing::systemNow(), 1);
  }
  Url apiBase() const { return *Url::parse(running_->apiBase()); }
  /// `count` anonymous shares published for real, each leaving a record with its claim.
  void publishAnonymously(int count) {
    ShareUploadSession session{queue_, ShareTokenStore(storage_), ShareSettingsStore{storage_},
                               URLSessionTransport::makeDefault(), RetryPolicy{1, 1, 1, 0}};
    ShareAppleBundle::setMain(
        std::make_shared<ShareAppleBundle>(JSONValue{{"LumoShareAPIBase", running_->apiBase()}}));
    for (int index = 0; index < count; ++index) {
      const auto id = "anon-" + std::to_string(index);
      queue_->enqueue(testing::makeStagedShare(id, index));
      ASSERT_TRUE(std::holds_alternative<ShareUploadOutcome>(session.uploadNow(id)));
    }
    ShareAppleBundle::setMain(nullptr);
  }

  testing::TemporaryDirectory data_, root_;
  std::unique_ptr<testing::RunningService> running_ =
      std::make_unique<testing::RunningService>([this] {
        auto options = testing::serviceOptions(data_.path(), testing::systemNow);
        options.anonymousActiveLimit = 50;  // the binding test holds 45 at once
        return options;
      }());
  std::string token_;
  ShareStorage storage_{root_ / "root", ShareStorageLocation::injected};
  std::int64_t nowMs_ = 1'700'000'000'000;
  std::shared_ptr<PendingShareQueue> queue_ =
      std::make_shared<PendingShareQueue>(storage_, [this] { return nowMs_; });
};

TEST_F(ShareAccountTest, APairedDeviceSeesSharesIsRemovedOnceAndBadRepliesAreTypedErrors) {
  auto transport = std::make_shared<RecordingTransport>(URLSessionTransport::makeDefault());
  const ShareAPIClient account{apiBase(), token_, transport};
  EXPECT_EQ(account.health().service, "lumo-share-server");

  const auto code = account.pairStart("laptop", "linux").code;
  const auto claim =
      ShareAPIClient::pairClaim(apiBase(), {code, "laptop", "linux", std::nullopt}, *transport);
  EXPECT_FALSE(transport->requests.back().value("Authorization"))
      << "a claim carries no account token";
  const ShareDeviceClient device{apiBase(), claim.device_token, transport};
  EXPECT_EQ(device.me().id, claim.device.id);
  EXPECT_EQ(account.listDevices().size(), 1u);

  ShareUploadClient(apiBase(), token_, URLSessionTransport::makeDefault())
      .upload(testing::makeStagedShare("noticed", 1), root_.path(), ShareOptions{});
  const auto feed = device.notices(std::nullopt, 50);
  ASSERT_EQ(feed.notices.size(), 1u);
  EXPECT_EQ(feed.notices[0].type, NoticeTypeValues::shareNew);
  device.ack(feed.notices[0].id, AckStatusValues::shown);
  EXPECT_TRUE(device.notices(feed.cursor, 50).notices.empty());
  EXPECT_TRUE(transport->requests.back().url.absoluteString().ends_with(
      "/devices/notices?limit=50&since=" + std::to_string(feed.cursor)))
      << "limit first, then since";

  EXPECT_EQ(account.deleteDevice(claim.device.id), claim.device.id);
  const auto gone = testing::thrown<ShareAPIError>([&] { account.deleteDevice(claim.device.id); });
  ASSERT_TRUE(gone) << "a removed device is gone";
  EXPECT_EQ(std::tuple(gone->status(), gone->code()), std::tuple(404, "DEVICE_NOT_FOUND"));
  EXPECT_THROW(device.me(), ShareAPIError) << "its token died with it";

  auto scripted = std::make_shared<RecordingTransport>();
  scripted->script = {{200, "<html>"}, {404, ""}};
  const ShareAPIClient client{apiBase(), token_, scripted};
  const auto apiError = [](auto call) { return testing::thrown<ShareAPIError>(call).value(); };
  EXPECT_EQ(apiError([&] { client.listDevices(); }).code(), "decoding");
  EXPECT_EQ(apiError([&] { client.deleteDevice("x"); }),
            ShareAPIError(404, "http_404", "HTTP 404"));
  // The service's own rate limit: one request, then 429 for the plan.
  std::filesystem::create_directories(data_ / "limited");
  auto options = testing::serviceOptions(data_ / "limited", testing::systemNow);
  options.rateBurst = 1;
  options.ratePerSecond = 0.001;
  testing::RunningService limited(options);
  limited.service.store().addAccount({"bo-id", "bo", "pro", testing::systemNow()});
  const ShareEntitlementsClient plan{
      *Url::parse(limited.apiBase()),
      limited.service.secrets().issueToken("bo-id", testing::systemNow(), 1),
      URLSessionTransport::makeDefault()};
  EXPECT_EQ(plan.fetch().plan, "pro");
  const auto refused = testing::thrown<ShareUploadError>([&] { plan.fetch(); });
  ASSERT_TRUE(refused && refused->as<ShareUploadError::Http>()) << "over the limit";
  EXPECT_EQ(std::tuple(refused->as<ShareUploadError::Http>()->status, refused->isRetryable()),
            std::tuple(429, true));
  const ShareAPIClient down{*Url::parse("http://127.0.0.1:1/api/v1"), token_,
                            URLSessionTransport::makeDefault()};
  EXPECT_EQ(apiError([&] { down.health(); }).code(), "transport");
}

TEST_F(ShareAccountTest, FortyFiveClaimsBindInThreeBatchesAndTheBackgroundUploaderPublishes) {
  publishAnonymously(45);
  auto transport = std::make_shared<RecordingTransport>(URLSessionTransport::makeDefault());
  nowMs_ += 5000;
  const auto report = ShareBindCoordinator(queue_, apiBase(), token_, transport).bindPending();
  EXPECT_EQ(report, (ShareBindReport{45, 45, 0, 0, std::nullopt}));
  EXPECT_EQ(transport->requests.size(), 3u) << "20, 20 and 5; the fourth batch is empty";
  for (const auto& record : queue_->recentUploads(100)) {
    EXPECT_EQ(record.boundAtMs, nowMs_) << "bound at the queue's time";
    EXPECT_EQ(running_->service.store().share(record.slug)->owner, "ana-id");
  }
  EXPECT_EQ(ShareBindCoordinator(queue_, apiBase(), token_, transport).bindPending(),
            ShareBindReport{});

  ShareAppleBundle::setMain(
      std::make_shared<ShareAppleBundle>(JSONValue{{"LumoShareAPIBase", running_->apiBase()}}));
  const ShareUploadSession session{queue_, ShareTokenStore(storage_), ShareSettingsStore{storage_},
                                   ShareBackgroundUploader::make()->transport(),
                                   RetryPolicy{1, 1, 1, 0}};
  for (const auto* id : {"w0", "w1"}) queue_->enqueue(testing::makeStagedShare(id, 1));
  EXPECT_EQ(session.drain(5).uploaded.size(), 2u);
  EXPECT_TRUE(queue_->all().empty());
  ShareAppleBundle::setMain(nullptr);
}

TEST_F(ShareAccountTest, ScriptedAnswersSettleCountAndStopThePass) {
  for (int index = 0; index < 25; ++index) {
    const auto id = "s" + std::to_string(index);
    queue_->enqueue(testing::makeStagedShare(id, index));
    queue_->markSucceeded(*queue_->entry(id),
                          ShareUploadOutcome{"doc", id, "https://x/" + id, std::nullopt, true,
                                             nowMs_ + 86'400'000, "claim-" + id, nowMs_});
  }
  const auto bound = [](int from, int to) {
    std::string items;
    for (int index = from; index < to; ++index) {
      items += (items.empty() ? "" : ",") +
               fmt::format(R"({{"kind":"doc","slug":"s{}","short_url":"u"}})", index);
    }
    return items;
  };
  using Case = std::tuple<const char*, std::vector<std::pair<int, std::string>>, ShareBindReport>;
  const std::vector<Case> cases{
      {"401 in the second batch",
       {{200, R"({"success":true,"result":{"bound":[)" + bound(0, 20) + R"(],"failed":[]}})"},
        {401, R"({"error":"AUTH_REQUIRED"})"}},
       {25, 20, 0, 0, "401|AUTH_REQUIRED"}},
      {"a partial answer with one slug failed twice",
       {{200, R"({"success":true,"result":{"bound":[)" + bound(20, 22) +
                  R"(],"failed":[{"kind":"doc","slug":"s22","error":"first"},)"
                  R"({"kind":"doc","slug":"s22","error":"CLAIM_EXPIRED"}]}})"}},
       {5, 2, 1, 2, std::nullopt}},
  };
  for (const auto& [name, script, report] : cases) {
    auto transport = std::make_shared<RecordingTransport>();
    transport->script = script;
    EXPECT_EQ(ShareBindCoordinator(queue_, apiBase(), token_, transport, 0 + 20).bindPending(),
              report)
        << name;
  }
  const auto settled = queue_->recentUploads(100);
  const auto s22 = std::find_if(settled.begin(), settled.end(),
                                [](const auto& record) { return record.slug == "s22"; });
  EXPECT_EQ(s22->bindError, "CLAIM_EXPIRED") << "the later text is the one kept";
  EXPECT_EQ(queue_->pendingBinds(100).size(), 2u) << "the unanswered two wait for a later pass";

  auto untouched = std::make_shared<RecordingTransport>();
  std::vector<BindItem> tooMany(21, BindItem{"doc", "s", "c"});
  EXPECT_EQ(testing::thrown<ShareAPIError>([&] {
              ShareAPIClient{apiBase(), token_, untouched}.bindAnonymous(tooMany);
            }),
            ShareAPIError(0, "batch_too_large", "单次最多 20 条（实际 21）"));
  EXPECT_TRUE(untouched->requests.empty());
  EXPECT_EQ(ShareBindCoordinator(queue_, apiBase(), token_, untouched, -3).batchSize(), 1);
  EXPECT_EQ(ShareBindCoordinator(queue_, apiBase(), token_, untouched, 99).batchSize(), 20);
}

TEST_F(ShareAccountTest, ASharesTakenBackByItsClaimThenItsAccountAndByNobodyElse) {
  publishAnonymously(2);
  running_->service.store().addAccount({"bo-id", "bo", "pro", testing::systemNow()});
  const auto signIn = [&](const char* account) {
    const ShareTokenStore tokens(storage_);
    if (!account) return tokens.clear();
    tokens.save({running_->service.secrets().issueToken(account, testing::systemNow(), 1),
                 std::nullopt, std::nullopt, account, 0});
  };
  const auto deletion = [&](const Url& api) {
    return ShareDeletion({{queue_, ShareTokenStore(storage_), ShareSettingsStore{storage_},
                           URLSessionTransport::makeDefault(), RetryPolicy{1, 1, 1, 0}},
                          api});
  };
  const auto service = deletion(apiBase());
  const auto live = [&](const std::string& slug) {
    return running_->service.store().share(slug).has_value();
  };
  auto claimed = *service.record(queue_->recentUploads(2).at(0).shortUrl + "/");
  auto bound = queue_->recentUploads(2).at(1);
  // A service without the routes answers its own 404, or 405: the record stays.
  testing::ShareTestServer older;
  older.enqueue(testing::ScriptedReply::json(404, R"({"error":"not_found"})"));
  older.enqueue(testing::ScriptedReply::json(405, ""));
  for (int reply = 0; reply < 2; ++reply)
    EXPECT_EQ(deletion(older.apiBase()).takeBack(claimed), ShareDeletionResult::unsupported);
  // Whether a share is still served, its page tells (a link's redirect is not followed); a page
  // that cannot be reached tells nothing.
  const auto served = [&](std::string page) {
    auto record = claimed;
    record.shortUrl = std::move(page);
    return service.served(record, std::chrono::seconds(5));
  };
  const auto origin = "http://127.0.0.1:" + std::to_string(running_->port) + "/";
  older.enqueue(testing::ScriptedReply::json(302, "", {{"Location", older.origin() + "/gone"}}));
  older.setFallback(testing::ScriptedReply::json(410, ""));
  EXPECT_EQ(served(older.origin() + "/link"), true);
  EXPECT_EQ(older.requestCount(), 3u) << "a redirect is not followed";
  EXPECT_EQ(served(origin + claimed.slug), true);
  EXPECT_EQ(served("http://127.0.0.1:1/" + claimed.slug), std::nullopt);
  EXPECT_EQ(served("not a link"), std::nullopt);

  auto elsewhere = claimed;  // the same slug, published on another service
  elsewhere.shortUrl = "https://elsewhere.example/" + claimed.slug;
  EXPECT_THROW(service.takeBack(elsewhere), ShareElsewhereError);
  // Pointed at another service by another program since this one started: nothing is sent.
  const std::filesystem::path settings = *ShareAppleBundle::userInfoFile();
  AtomicFile::write(settings, R"({"LumoShareAPIBase": "http://127.0.0.1:9/api/v1"})", 0600);
  const auto pointedElsewhere = testing::thrown<ShareAPIError>([&] { service.takeBack(claimed); });
  EXPECT_EQ(pointedElsewhere ? pointedElsewhere->code() : "", "settingsChanged");
  std::filesystem::remove(settings);
  auto wrongClaim = claimed;
  wrongClaim.claimToken = "not-the-claim";
  EXPECT_EQ(service.takeBack(wrongClaim), ShareDeletionResult::refused);
  EXPECT_TRUE(live(claimed.slug) && service.record(claimed.slug));
  EXPECT_EQ(service.takeBack(claimed), ShareDeletionResult::deleted);
  EXPECT_FALSE(live(claimed.slug) || service.record(claimed.slug)) << "share and record go";
  EXPECT_EQ(service.takeBack(claimed), ShareDeletionResult::deleted) << "a repeat";
  EXPECT_EQ(served(origin + claimed.slug), false) << "410 once taken back";
  EXPECT_EQ(served(origin + "never-was"), false) << "404";

  // No answer to a take-back (the connection drops): the share's page says whether it went.
  const auto pages = older.origin() + "/";
  const auto bundle = ShareAppleBundle::main();
  ShareAppleBundle::setMain(
      std::make_shared<ShareAppleBundle>(JSONValue{{"LumoShareSharePageBase", pages}}));
  auto dropped = testing::ScriptedReply::json(200, std::string(100000, 'x'));
  dropped.ending = testing::ScriptedReply::Ending::dropMidBody;
  auto unanswered = bound;
  unanswered.shortUrl = pages + bound.slug;
  older.enqueue(dropped);
  older.enqueue(testing::ScriptedReply::json(200, ""));
  const auto error =
      testing::thrown<ShareAPIError>([&] { deletion(older.apiBase()).takeBack(unanswered); });
  EXPECT_TRUE(error && error->status() == 0) << "a share whose page still answers is not gone";
  older.enqueue(dropped);
  older.enqueue(testing::ScriptedReply::json(410, ""));
  EXPECT_EQ(deletion(older.apiBase()).takeBack(unanswered), ShareDeletionResult::deleted);
  ShareAppleBundle::setMain(bundle);

  const auto beforeBind = bound;  // what a window read before its sync bound the claim
  ShareBindCoordinator(queue_, apiBase(), token_, URLSessionTransport::makeDefault()).bindPending();
  bound = *service.record(bound.slug);
  const auto refusal = testing::thrown<ShareAPIError>([&] { service.takeBack(bound); });
  EXPECT_TRUE(refusal && refusal->isUnauthorized()) << "a bound share needs the account";
  signIn("bo-id");
  EXPECT_EQ(service.takeBack(bound), ShareDeletionResult::refused) << "another account's";
  EXPECT_TRUE(live(bound.slug) && service.record(bound.slug));
  signIn("ana-id");
  EXPECT_EQ(service.takeBack(beforeBind), ShareDeletionResult::deleted) << "by the account";
  EXPECT_FALSE(live(bound.slug));
  auto expired = bound;
  expired.slug = "long-gone";
  expired.expiresAtMs = 1;
  EXPECT_EQ(service.takeBack(expired), ShareDeletionResult::alreadyGone);
}

}  // namespace
}  // namespace lumo
