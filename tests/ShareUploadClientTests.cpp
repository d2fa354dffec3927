// The publishing client against the loopback test server, which sees the exact bytes sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <future>

#include "LumoShare.hpp"
#include "ShareTestServer.hpp"
#include "TemporaryDirectory.hpp"
#include "TestCommand.hpp"

namespace lumo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ScriptedReply;
using Client = ShareUploadClient;

constexpr std::int64_t now = 1700000000000;
constexpr std::int64_t mebibyte = 1048576;

std::string docReply(const std::string& claim = "", const std::string& ctime = "1700000000",
                     const std::string& days = "7") {
  const auto doc = R"({"uid":"u","id":"d1","slug":"abc","filename":"photo.jpg","r2_key":"k",)"
                   R"("content_type":"image/jpeg","size":5,"ctime":)" +
                   ctime + R"(,"mtime":1,"exp_days":)" + days +
                   R"(,"max_downloads":0,"download_count":0,"disable_download":false,)"
                   R"("burn_after_reading":false,"view_count":0})";
  return claim == "-"
             ? R"({"success":true,"result":{"doc":)" + doc + "}}"
             : R"({"success":true,"result":{"claim_token":")" + claim + R"(","doc":)" + doc + "}}";
}

constexpr const char* linkReply =
    R"({"success":true,"link":{"uid":"u","url":"https://example.org/p","slug":"k9","ctime":1,)"
    R"("mtime":1,"exp_days":1}})";

class ShareUploadClientTest : public ::testing::Test {
 protected:
  Client client(std::optional<std::string> token, RetryPolicy retry = RetryPolicy{},
                Client::Sleeper sleep = Client::sleepUnlessStopped) const {
    Client::Environment environment;
    environment.nowMs = [] { return now; };
    environment.random = [] { return 0.5; };
    environment.sleep = std::move(sleep);
    environment.sharePageBase = "https://s.example/";
    return Client(server.apiBase(), std::move(token), transport, retry, environment);
  }
  /// A staged file of `size` bytes (sparse beyond the content) and its attachment record.
  StagedAttachment stage(const std::string& fileName, const std::string& originalName,
                         const std::string& content = "data", std::int64_t size = 0) {
    std::ofstream(folder / fileName, std::ios::binary) << content;
    if (size > 0) fs::resize_file(folder / fileName, static_cast<std::uintmax_t>(size));
    return StagedAttachment{"i",  fileName, "file", "image/jpeg", originalName,
                            size, "",       {},     {},           {}};
  }
  StagedShare share(std::vector<StagedAttachment> attachments,
                    std::optional<std::string> text = std::nullopt,
                    std::optional<std::string> url = std::nullopt) const {
    StagedShare staged;
    staged.clientShareId = "id";
    staged.createdAt = now;
    staged.payload.title = "Holiday";
    staged.payload.text = std::move(text);
    staged.payload.url = std::move(url);
    staged.attachments = std::move(attachments);
    return staged;
  }
  Client::Plan plan(const Client& with, const StagedShare& staged,
                    const ShareOptions& options = {}) const {
    return with.makePlan(staged, folder.path(), options);
  }
  /// A sleeper that notes each wait instead of waiting.
  static Client::Sleeper recording(std::vector<std::chrono::milliseconds>& waits) {
    return [&waits](std::chrono::milliseconds duration, std::stop_token) {
      waits.push_back(duration);
      return true;
    };
  }
  std::optional<ShareUploadError> planError(const Client& with, const StagedShare& staged,
                                            const ShareOptions& options = {}) const {
    return testing::thrown<ShareUploadError>([&] { plan(with, staged, options); });
  }
  /// The entry names of a planned zip, one per line, as Info-ZIP lists them.
  std::string zipEntries(const Client::Plan& made) const {
    std::ofstream(folder / "plan.zip", std::ios::binary)
        << std::get<Client::DocumentPlan>(made).content.joined();
    return testing::runCommand("unzip -Z1 " + testing::shellQuoted(folder / "plan.zip")).output;
  }

  testing::TemporaryDirectory folder;
  testing::ShareTestServer server;
  std::shared_ptr<ShareHTTPTransport> transport = URLSessionTransport::makeDefault();
};

/// The boundary of a multipart content type, checked to be "lumo-" and a lower-case UUID.
std::string boundaryOf(const std::string& contentType) {
  const auto start = contentType.find("boundary=");
  const auto boundary = start == std::string::npos ? "" : contentType.substr(start + 9);
  const bool isUUID = boundary.size() == 41 && boundary.rfind("lumo-", 0) == 0 &&
                      boundary.find_first_not_of("0123456789abcdef-", 5) == std::string::npos;
  EXPECT_TRUE(isUUID) << contentType;
  return boundary;
}

TEST_F(ShareUploadClientTest, DocumentRequestBytesSignedInAndAnonymousAndOddReplies) {
  const auto staged = share({stage("01-photo.jpg", "photo.jpg", std::string("\xff\xd8jpg", 5))});
  ShareOptions options;
  options.slug = " my-slug ";
  options.expiresInSeconds = 3600;
  options.password = "pw";
  options.maxDownloads = 5;
  options.burnAfterReading = true;
  options.title = "  Trip / 2024  ";
  const auto expectBody = [&](const testing::RecordedRequest& received, const std::string& meta) {
    const auto boundary = boundaryOf(received.header("Content-Type").value_or(""));
    EXPECT_EQ(received.body, "--" + boundary +
                                 "\r\nContent-Disposition: form-data; name=\"metadata\"\r\n\r\n" +
                                 meta + "\r\n--" + boundary +
                                 "\r\nContent-Disposition: form-data; name=\"file\"; "
                                 "filename=\"photo.jpg\"\r\nContent-Type: image/jpeg\r\n\r\n" +
                                 std::string("\xff\xd8jpg", 5) + "\r\n--" + boundary + "--\r\n");
    EXPECT_EQ(received.header("Content-Length"), std::to_string(received.body.size()));
    EXPECT_EQ(std::count_if(received.headers.begin(), received.headers.end(),
                            [](const auto& field) {
                              return headerNamesEqual(field.first, "Content-Length");
                            }),
              1);
  };

  server.enqueue(ScriptedReply::json(200, docReply("-")));
  const auto signedIn = client("tok").upload(staged, folder.path(), options);
  const auto first = server.requests().at(0);
  EXPECT_EQ(first.target, "/api/v1/docs");
  EXPECT_EQ(first.header("Authorization"), "Bearer tok");
  expectBody(first, R"({"slug":"my-slug","exp_days":1,"password":"pw","max_downloads":5,)"
                    R"("burn_after_reading":true,"comment":"Trip / 2024"})");
  EXPECT_EQ(signedIn, (ShareUploadOutcome{"doc", "abc", "https://s.example/abc", "photo.jpg", false,
                                          now + 7 * 86400000, std::nullopt, now}));

  server.enqueue(ScriptedReply::json(200, docReply("")));
  const auto anonymous = client(std::nullopt).upload(staged, folder.path(), options);
  const auto second = server.requests().at(1);
  EXPECT_EQ(second.target, "/api/v1/anon/docs");
  EXPECT_EQ(second.header("Authorization"), std::nullopt);
  expectBody(second, R"({"max_downloads":5,"burn_after_reading":true,"comment":"Trip / 2024"})");
  EXPECT_TRUE(anonymous.anonymous);
  EXPECT_EQ(anonymous.claimToken, std::nullopt) << "an empty claim token is none";

  server.enqueue(ScriptedReply::json(200, R"({"success":true,"result":{}})"));
  const auto error =
      testing::thrown<ShareUploadError>([&] { client("tok").upload(staged, folder.path(), {}); });
  ASSERT_TRUE(error && error->as<ShareUploadError::Decoding>());
  server.enqueue(ScriptedReply::json(200, docReply("claim", "9223372036854775807", "100000")));
  const auto outcome = client(std::nullopt).upload(staged, folder.path(), {});
  EXPECT_EQ(outcome.expiresAtMs, std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(outcome.claimToken, "claim");
}

TEST_F(ShareUploadClientTest, LinkRequestBytesSignedInAndAnonymous) {
  const auto link = share({}, "https://example.org/a/b", "https://example.org/a/b");
  ShareOptions options;
  options.slug = "s";
  options.expiresInSeconds = 400 * 86400;
  options.password = "pw";
  const auto reply = [](const std::string& claim) {
    return R"({"success":true,"link":{"uid":"u","url":"https://example.org/a/b","slug":"k9",)"
           R"("ctime":1700000000,"mtime":1,"exp_days":1})" +
           claim + "}";
  };
  server.enqueue(ScriptedReply::json(200, reply("")));
  server.enqueue(ScriptedReply::json(200, reply(R"(,"claim_token":"ct")")));
  const auto signedIn = client("tok").upload(link, folder.path(), options);
  const auto anonymous = client("").upload(link, folder.path(), options);
  const auto received = server.requests();
  EXPECT_EQ(received[0].target, "/api/v1/links");
  EXPECT_EQ(received[0].body,
            R"({"url":"https://example.org/a/b","slug":"s","keep_days":365,"password":"pw"})");
  EXPECT_EQ(received[0].header("Content-Type"), "application/json");
  EXPECT_EQ(received[1].target, "/api/v1/anon/links");
  EXPECT_EQ(received[1].body, R"({"url":"https://example.org/a/b"})");
  EXPECT_EQ(signedIn,
            (ShareUploadOutcome{"link", "k9", "https://s.example/k9", "https://example.org/a/b",
                                false, now + 86400000, std::nullopt, now}));
  EXPECT_EQ(anonymous.claimToken, "ct");
}

TEST_F(ShareUploadClientTest, PlansLinksFilesMarkdownBundlesMissingFilesAndSizeLimits) {
  const auto signedIn = client("tok");
  const auto link = share({}, std::nullopt, "https://example.org/p");
  EXPECT_EQ(plan(signedIn, link), Client::Plan(Client::LinkPlan{"https://example.org/p"}));
  ShareOptions withNote;
  withNote.note = "see this";
  const auto noted = std::get<Client::DocumentPlan>(plan(signedIn, link, withNote));
  EXPECT_EQ(noted.filename, "message-" + SharePayloadFactory::timestamp(now) + ".md");
  EXPECT_EQ(noted.mimeType, "text/markdown");
  EXPECT_EQ(planError(signedIn, share({}, std::nullopt, "https://a b")),
            ShareUploadError::invalidMetadata("无效的 URL：https://a b"));
  auto nothing = share({}, "");
  nothing.payload.title.reset();
  EXPECT_EQ(planError(signedIn, nothing), ShareUploadError::invalidMetadata("没有可分享的内容"));

  auto photo = stage("01-photo.jpg", " photo.jpg ");
  photo.mime = "";
  const auto single = std::get<Client::DocumentPlan>(plan(signedIn, share({photo})));
  EXPECT_EQ(std::tuple(single.filename, single.mimeType, single.content.joined(), single.title),
            std::tuple("photo.jpg", "application/octet-stream", "data", "Holiday"));
  EXPECT_EQ(zipEntries(plan(signedIn, share({photo}, "caption"))), "01-photo.jpg\nmessage.md\n");
  EXPECT_EQ(zipEntries(plan(signedIn, share({stage("01-x", ".."), stage("02-y", "a/b")}))),
            "01-_\n02-a_b\nmessage.md\n");

  const auto missing = stage("01-gone.txt", "gone.txt");
  fs::remove(folder / "01-gone.txt");
  EXPECT_EQ(planError(signedIn, share({missing})),
            ShareUploadError::transport("本地文件丢失：gone.txt"));
  const auto folderInstead = stage("02-dir", "dir.txt");
  fs::remove(folder / "02-dir");
  fs::create_directory(folder / "02-dir");
  const auto error = planError(signedIn, share({folderInstead}, "with text"));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->message().rfind("网络错误：读取本地文件失败（dir.txt）：", 0), 0u)
      << error->message();

  const auto atLimit = share({stage("01-a.bin", "a.bin", "", 10485760)});
  const auto overLimit = share({stage("02-b.bin", "b.bin", "", 10485761)});
  EXPECT_FALSE(planError(client(std::nullopt), atLimit));
  const auto anonymous = planError(client(std::nullopt), overLimit);
  EXPECT_EQ(anonymous, ShareUploadError::payloadTooLarge("b.bin", 10485761, 10485760));
  EXPECT_NE(anonymous->message().find("匿名"), std::string::npos);
  EXPECT_FALSE(planError(client("tok"), overLimit));
  EXPECT_EQ(planError(client("tok"), share({stage("03-c.bin", "c.bin", "", 104857601)})),
            ShareUploadError::payloadTooLarge("c.bin", 104857601, 104857600));
  // Three 40 MiB files each pass, and the total fails at the third.
  const auto part = [&](int n) {
    return stage("1" + std::to_string(n) + "-p.bin", "p.bin", "", 40 * mebibyte);
  };
  EXPECT_EQ(planError(client("tok"), share({part(1), part(2), part(3)})),
            ShareUploadError::payloadTooLarge("合计 3 个附件", 120 * mebibyte, 104857600));
}

TEST_F(ShareUploadClientTest, RetriesFollowThePolicyAndEndAtA401TheLastAttemptOrAStop) {
  const auto staged = share({}, std::nullopt, "https://example.org/p");
  const auto busy = ScriptedReply::json(503, R"({"error":"unavailable"})");
  server.enqueue(busy);
  server.enqueue(busy);
  server.enqueue(ScriptedReply::json(200, linkReply));
  std::vector<std::chrono::milliseconds> waits;
  EXPECT_EQ(client("tok", RetryPolicy{}, recording(waits)).upload(staged, folder.path(), {}).slug,
            "k9");
  EXPECT_EQ(waits, (std::vector{500ms, 1000ms})) << "the policy's back-off, attempt by attempt";

  server.enqueue(ScriptedReply::json(429, "", {{"Retry-After", "0"}}));
  server.enqueue(ScriptedReply::json(401, ""));
  EXPECT_EQ(
      testing::thrown<ShareUploadError>([&] { client("tok").upload(staged, folder.path(), {}); }),
      ShareUploadError::unauthorized("HTTP 401"));
  ASSERT_EQ(server.requestCount(), 5u) << "401 is not retried";
  for (int index = 0; index < 3; ++index) server.enqueue(busy);
  EXPECT_EQ(testing::thrown<ShareUploadError>([&] {
              client("tok", RetryPolicy{3, 1, 1, 0}).upload(staged, folder.path(), {});
            }),
            ShareUploadError::http(503, "unavailable", true))
      << "the last attempt's error";
  ASSERT_EQ(server.requestCount(), 8u);

  // Stopped while it waits out a long Retry-After, or while a transfer hangs: it ends at once.
  ScriptedReply silent;
  silent.ending = ScriptedReply::Ending::neverAnswer;
  const std::tuple<const char*, ScriptedReply, std::chrono::milliseconds> stalls[] = {
      {"stopped in the wait", ScriptedReply::json(429, "", {{"Retry-After", "30"}}), 500ms},
      {"stopped in the transfer", silent, 2s}};
  for (const auto& [where, stall, promptly] : stalls) {
    server.setFallback(stall);
    const auto sent = server.requestCount();
    std::stop_source stop;
    auto pending = std::async(std::launch::async, [&] {
      return testing::thrown<ShareUploadError>(
          [&] { client("tok").upload(staged, folder.path(), {}, stop.get_token()); });
    });
    while (server.requestCount() == sent) std::this_thread::sleep_for(5ms);
    std::this_thread::sleep_for(100ms);
    const auto stopped = std::chrono::steady_clock::now();
    stop.request_stop();
    EXPECT_EQ(pending.get(), ShareUploadError::cancelled()) << where;
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, promptly) << where;
  }

  // Whatever Retry-After the service sends, a wait stays within an hour.
  constexpr auto hour = ShareApple::maxRetryDelayMs;
  // now is Tue, 14 Nov 2023 22:13:20 GMT
  const std::pair<const char*, std::int64_t> cases[] = {
      {"3599", 3599000},
      {"3601", hour},
      {"9223372036854775", hour},  // the most seconds whose milliseconds still fit int64
      {"Fri, 31 Dec 9999 23:59:59 GMT", hour},
      {"Tue, 14 Nov 2023 22:00:00 GMT", 0},
      {"-9223372036854775", 0},
      {"9223372036854775807", 500},  // no usable hint: the policy's own back-off
      {"-9223372036854775808", 500},
  };
  for (const auto& [retryAfter, expectedMs] : cases) {
    server.enqueue(ScriptedReply::json(429, "", {{"Retry-After", retryAfter}}));
    server.enqueue(ScriptedReply::json(200, linkReply));
    std::vector<std::chrono::milliseconds> waits;
    EXPECT_EQ(client("tok", RetryPolicy{}, recording(waits)).upload(staged, folder.path(), {}).slug,
              "k9");
    EXPECT_EQ(waits, std::vector{std::chrono::milliseconds(expectedMs)}) << retryAfter;
  }

  // With the real sleep, a wait too long for the clock is a wait (no deadline that overflows
  // into the past and ends it at once) until the caller stops it.
  std::stop_source stopSleep;
  auto sleeping = std::async(std::launch::async, [&] {
    return Client::sleepUnlessStopped(std::chrono::milliseconds::max(), stopSleep.get_token());
  });
  std::this_thread::sleep_for(100ms);
  stopSleep.request_stop();
  EXPECT_FALSE(sleeping.get()) << "a wait too long for the clock ends only when stopped";
}

TEST(ShareUploadClientSettings, RetryDelaysAndSharePageBase) {
  const RetryPolicy policy;
  const auto draw = [](double value) { return ShareRandom([value] { return value; }); };
  EXPECT_EQ(policy.delayMs(1, draw(0)), 400);
  EXPECT_EQ(policy.delayMs(2, draw(1)), 1200);
  EXPECT_EQ(policy.delayMs(5, draw(1)), 8000);
  EXPECT_EQ(policy.delayMs(40, draw(0.5)), 8000);
  EXPECT_EQ((RetryPolicy{3, 500, 8000, 0}).delayMs(2, draw(0)), 1000);
  EXPECT_EQ((RetryPolicy{3, 10, 8000, 0.2}).delayMs(1, draw(0)), 100) << "the floor";
  EXPECT_EQ((RetryPolicy{3, 10, 50, 0.2}).delayMs(1, draw(0)), 50) << "the cap wins";
  const auto endless = std::numeric_limits<double>::infinity();
  EXPECT_EQ((RetryPolicy{3, 500, 8000, endless}).delayMs(1, draw(0.5)), 100)
      << "a jitter that leaves no number gives the floor";
  EXPECT_EQ((RetryPolicy{3, std::numeric_limits<std::int64_t>::max(), 8000, 0.2})
                .delayMs(std::numeric_limits<std::int64_t>::max(), draw(1)),
            8000);

  const auto base = [](const char* value) {
    return ShareAppleBundle(JSONValue{{"LumoShareSharePageBase", value}}).sharePageBase();
  };
  EXPECT_EQ(base("http://127.0.0.1:8787/"), "http://127.0.0.1:8787/");
  // A self-hoster sets it in their own Info.json, which overrides the installed one key by key.
  testing::TemporaryDirectory config;
  fs::create_directories(config / "lumo-share");
  std::ofstream(config / "lumo-share/Info.json")
      << R"({"LumoShareSharePageBase":"https://me.example/"})";
  const testing::ScopedEnvironment home("XDG_CONFIG_HOME", config.path().string());
  const auto installed = ShareAppleBundle::main();
  ShareAppleBundle::setMain(nullptr);
  EXPECT_EQ(Client::defaultSharePageBase(), "https://me.example/");
  EXPECT_EQ(ShareAppleBundle::main()->appGroupIdentifier(), installed->appGroupIdentifier());
  ShareAppleBundle::setMain(installed);
  for (const auto* ignored : {"ftp://x.example/", "https://x.example/s/", "https://x.example",
                              "https://x.example/?q=1", "not a url"}) {
    EXPECT_EQ(base(ignored), std::string(ShareApple::sharePageBase)) << ignored;
  }
}

}  // namespace
}  // namespace lumo
