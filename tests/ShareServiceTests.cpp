// The reference service on an ephemeral loopback port, driven by the library's own client and
// transport: what a share really goes through.
#include <gtest/gtest.h>

#include <fstream>

#include "LumoShare.hpp"
#include "ServiceTest.hpp"
#include "TemporaryDirectory.hpp"
#include "TestCommand.hpp"

namespace lumo {
namespace {

namespace fs = std::filesystem;
using service::ShareService;

using testing::RunningService;
using testing::serviceOptions;
using testing::systemNow;

class ShareServiceTest : public testing::ServiceTest {
 protected:
  void SetUp() override {
    ServiceTest::SetUp();
    for (const auto* plan : {"hobby", "pro"}) {
      service_.store().addAccount({std::string(plan) + "-id", plan, plan, now_});
      tokens_[plan] = service_.secrets().issueToken(std::string(plan) + "-id", now_, 30);
    }
  }

  Url apiBase() const { return *Url::parse(running_.apiBase()); }
  ShareUploadClient client(std::optional<std::string> plan) {
    return ShareUploadClient(apiBase(), plan ? std::optional(tokens_[*plan]) : std::nullopt,
                             transport_, RetryPolicy{1, 1, 1, 0});
  }
  StagedShare file(const std::string& name, const std::string& content) {
    std::ofstream(folder_ / name, std::ios::binary) << content;
    StagedShare staged;
    staged.clientShareId = name;
    staged.payload.kind = "file";
    const auto size = static_cast<std::int64_t>(content.size());
    staged.attachments.push_back({"i1", name, "file", "text/plain", name, size, "", {}, {}, {}});
    return staged;
  }
  StagedShare link(const std::string& url) {
    StagedShare staged;
    staged.clientShareId = url;
    staged.payload.kind = "link";
    staged.payload.url = url;
    return staged;
  }
  std::optional<ShareUploadError> failure(const std::optional<std::string>& plan,
                                          const StagedShare& staged, const ShareOptions& options) {
    return testing::thrown<ShareUploadError>(
        [&] { client(plan).upload(staged, folder_.path(), options); });
  }
  ShareHTTPReply get(const std::string& path,
                     const std::map<std::string, std::string>& headers = {}) {
    auto request =
        ShareHTTP::makeRequest(*Url::parse("http://127.0.0.1:" + std::to_string(port_) + path),
                               "GET", std::nullopt, std::nullopt, std::nullopt, headers);
    return transport_->data(request);
  }
  /// An API call as the clients make it: `endpoint` under the API base, a bearer token, a JSON
  /// body.
  ShareHTTPReply call(const std::string& method, const std::string& endpoint,
                      const std::string& token = "", std::optional<std::string> body = {}) {
    const auto url = *Url::parse(apiBase().absoluteString() + "/" + endpoint);
    const auto contentType = body ? std::optional<std::string>("application/json") : std::nullopt;
    return transport_->data(
        ShareHTTP::makeRequest(url, method, token, std::move(body), contentType));
  }
  template <class Record>
  Record decoded(const ShareHTTPReply& reply) {
    EXPECT_EQ(reply.response.status, 200) << reply.body;
    return ShareHTTP::decode<Record>(reply.body);
  }
  /// The status and error code of a refusal.
  static std::pair<int, std::string> refusal(const ShareHTTPReply& reply) {
    const auto error = ShareHTTP::apiError(reply.body, reply.response.status);
    return {reply.response.status, error ? error->code : "(no error body) " + reply.body};
  }

  testing::TemporaryDirectory folder_;
  std::map<std::string, std::string> tokens_;
  std::shared_ptr<ShareHTTPTransport> transport_ = URLSessionTransport::makeDefault();
};

TEST_F(ShareServiceTest, PublishesDocumentsAndLinksAnonymousAndSignedIn) {
  ShareOptions options;
  options.slug = "my-report";
  options.expiresInSeconds = 40 * 86400;
  options.title = "Report";
  const auto signedIn = client("pro").upload(file("r.txt", "report body"), folder_.path(), options);
  EXPECT_EQ(signedIn.slug, "my-report");
  EXPECT_EQ(signedIn.title, "Report");
  EXPECT_EQ(signedIn.expiresAtMs, (now_ + 40 * 86400) * 1000);
  EXPECT_EQ(signedIn.claimToken, std::nullopt);
  EXPECT_EQ(get("/my-report/file").body, "report body");

  // A repeat of the same share (its reply was lost, say) is the same share, not a second one.
  const auto again = client("pro").upload(file("r.txt", "report body"), folder_.path(), options);
  EXPECT_EQ(again.slug, "my-report");

  const auto anonymous =
      client(std::nullopt).upload(file("a.txt", "anonymous"), folder_.path(), options);
  const auto anonymousAgain =
      client(std::nullopt).upload(file("a.txt", "anonymous"), folder_.path(), options);
  EXPECT_EQ(anonymousAgain.slug, anonymous.slug);
  EXPECT_NE(anonymousAgain.claimToken, anonymous.claimToken) << "only the last claim is known";
  EXPECT_EQ(service_.store().activeShares(std::nullopt, std::nullopt, std::nullopt, 0), 1);
  EXPECT_NE(anonymous.slug, "my-report") << "anonymous shares get no slug of their own";
  EXPECT_EQ(anonymous.expiresAtMs, (now_ + 86400) * 1000) << "anonymous shares live one day";
  ASSERT_TRUE(anonymous.claimToken);
  EXPECT_GE(anonymous.claimToken->size(), 32u);

  const auto shortened =
      client("hobby").upload(link("https://example.org/page"), folder_.path(), {});
  EXPECT_EQ(service_.store().share(shortened.slug)->url, "https://example.org/page");
  EXPECT_EQ(shortened.expiresAtMs, (now_ + 7 * 86400) * 1000);
}

TEST_F(ShareServiceTest, EveryRefusalHasItsStatusAndCodeOnEveryRoute) {
  using E = ShareUploadError;
  ShareOptions password;
  password.password = "secret";
  ShareOptions shortSlug;
  shortSlug.slug = "abc";
  ShareOptions taken;
  taken.slug = "taken-slug";
  client("pro").upload(file("t.txt", "t"), folder_.path(), taken);
  auto big = file("big.bin", "");
  fs::resize_file(folder_ / "big.bin", 26 * 1048576);  // sparse: no disk space
  big.attachments[0].size = 26 * 1048576;
  tokens_["stranger"] = "not.a.token";

  // The account and device routes refuse with their own codes, before any quota is used up.
  const auto device = testing::pairDevice(service_.store(), "pro-id");
  BindRequest tooMany;
  tooMany.items.assign(21, BindItem{"doc", "slug", "claim"});
  const auto pro = tokens_["pro"];
  const std::string valid = R"({"code":"ABCD2345","name":"N","platform":"linux"})";
  const std::string amiga = R"({"code":"ABCD2345","name":"N","platform":"amiga"})";
  // The method, endpoint, token and body of a call, and its refusal.
  using Case = std::tuple<std::string, std::string, std::string, std::optional<std::string>,
                          std::pair<int, std::string>>;
  const std::vector<Case> cases{
      {"GET", "devices", "", {}, {401, "AUTH_REQUIRED"}},
      {"POST", "devices/pair/start", device, "{}", {401, "AUTH_REQUIRED"}},
      {"POST", "anon/bind", "", "{\"items\":[]}", {401, "AUTH_REQUIRED"}},
      {"POST", "anon/bind", pro, ShareJSON::encoder().encode(tooMany), {400, "VALIDATION_ERROR"}},
      {"POST", "anon/bind", pro, "{\"items\":{}}", {400, "invalid_request"}},
      {"POST", "anon/links", "", "{\"url\":", {400, "invalid_request"}},
      {"GET", "devices/me", "", {}, {401, "DEVICE_AUTH_REQUIRED"}},
      {"GET", "devices/me", pro, {}, {401, "DEVICE_AUTH_REQUIRED"}},
      {"DELETE", "devices/no-such-device", pro, {}, {404, "DEVICE_NOT_FOUND"}},
      {"POST", "devices/pair/claim", "", "{\"code\":", {400, "invalid_request"}},
      {"POST", "devices/pair/claim", "", valid, {404, "PAIR_CODE_NOT_FOUND"}},
      {"POST", "devices/pair/claim", "", amiga, {400, "VALIDATION_ERROR"}},
      {"GET", "devices/notices?limit=many", device, {}, {400, "VALIDATION_ERROR"}},
      {"GET", "devices/notices?since=-1", device, {}, {400, "VALIDATION_ERROR"}},
      {"POST", "devices/notices/n1/ack", device, R"({"status":"read"})", {400, "VALIDATION_ERROR"}},
      {"POST", "devices/notices/n1/ack", device, R"({"status":"shown"})", {404, "not_found"}},
      {"POST", "devices/pair/claim", "", std::string(70000, ' '), {413, "payload_too_large"}},
      {"GET", "no/such/route", pro, {}, {404, "not_found"}},
  };
  for (const auto& [method, endpoint, token, body, expected] : cases) {
    EXPECT_EQ(refusal(call(method, endpoint, token, body)), expected) << method << " " << endpoint;
  }
  const auto health = decoded<HealthResponse>(call("GET", "health"));
  EXPECT_EQ(health, (HealthResponse{true, "lumo-share-server", 1}));

  EXPECT_EQ(failure("stranger", file("x.txt", "x"), {}), E::unauthorized("sign in to use this"));
  EXPECT_EQ(failure("hobby", file("p.txt", "p"), password),
            E::paidPlanRequired(PaidPlanFeature::password));
  EXPECT_EQ(failure("hobby", file("s.txt", "s"), shortSlug),
            E::http(400, "VALIDATION_ERROR", false));
  EXPECT_EQ(failure("pro", file("u.txt", "u"), taken), E::http(409, "conflict", false));
  EXPECT_EQ(failure("hobby", big, {}), E::http(413, "FILE_SIZE_EXCEEDED", false));
  EXPECT_EQ(failure("pro", link("ftp://example.org/f"), {}),
            E::http(400, "VALIDATION_ERROR", false));
  for (int index = 0; index < 5; ++index) {
    client(std::nullopt).upload(file("anon" + std::to_string(index), "a"), folder_.path(), {});
  }
  EXPECT_EQ(failure(std::nullopt, file("sixth", "a"), {}), E::quotaExceeded(5, true));

  EXPECT_EQ(get("/api/v1/me").response.status, 401);
  const auto me = ShareHTTP::decode<MeResponse>(
      get("/api/v1/me", {{"Authorization", "Bearer " + tokens_["pro"]}}).body);
  EXPECT_EQ(std::tuple(me.plan, me.usage->at("docs").used), std::tuple(std::string("pro"), 1));

  // A refused upload leaves nothing behind: no blob but the one published share's.
  EXPECT_EQ(blobCount(), 1u + 5u + 0u) << "the pro share and the five anonymous ones";
  EXPECT_TRUE(service_.store().isIntact());
}

TEST_F(ShareServiceTest, PairedDevicesHearOfTheAccountsNewSharesOnce) {
  const auto pro = tokens_["pro"];
  const auto start = decoded<PairStartResponse>(
      call("POST", "devices/pair/start", pro, R"({"name":"Laptop","platform":"linux"})"));
  EXPECT_EQ(start.result.expires_at, now_ + 600);
  auto typed = start.result.code;  // as a person types it: lower case, a dash in the middle
  std::transform(typed.begin(), typed.end(), typed.begin(), ::tolower);
  typed.insert(4, "-");
  const PairClaimRequest claimRequest{typed, "Pixel", "android", std::vector<std::string>{"push"}};
  const auto claim = ShareJSON::encoder().encode(claimRequest);
  const auto paired = decoded<PairClaimResponse>(call("POST", "devices/pair/claim", "", claim));
  EXPECT_EQ(std::tuple(paired.result.uid, paired.result.device.name),
            std::tuple("pro-id", "Pixel"));
  EXPECT_EQ(refusal(call("POST", "devices/pair/claim", "", claim)),
            std::pair(404, std::string("PAIR_CODE_NOT_FOUND")))
      << "a code pairs one device";
  const auto device = paired.result.device_token;
  EXPECT_EQ(decoded<DeviceListResponse>(call("GET", "devices", pro)).result.devices,
            std::vector{paired.result.device});
  EXPECT_EQ(decoded<DeviceMeResponse>(call("GET", "devices/me", device)).result.device.last_seen_at,
            now_);

  ShareOptions options;
  options.title = "Quarterly report";
  client("pro").upload(file("q.pdf", "%PDF"), folder_.path(), options);
  client("hobby").upload(link("https://example.org/other-account"), folder_.path(), {});
  const auto first =
      decoded<DeviceNoticeListResponse>(call("GET", "devices/notices?limit=5", device));
  ASSERT_EQ(first.result.notices.size(), 1u) << "only the device's own account's share";
  const auto& notice = first.result.notices[0];
  EXPECT_EQ(std::tuple(notice.type, notice.kind, notice.title, notice.short_url),
            std::tuple("share.new", "file", std::optional<std::string>("Quarterly report"),
                       "http://127.0.0.1/" + notice.slug));
  const auto since = "devices/notices?limit=5&since=" + std::to_string(first.result.cursor);
  const auto later = decoded<DeviceNoticeListResponse>(call("GET", since, device)).result;
  EXPECT_EQ(std::tuple(later.notices.size(), later.cursor), std::tuple(0u, first.result.cursor));

  const auto& id = paired.result.device.id;
  EXPECT_EQ(decoded<DeleteDeviceResponse>(call("DELETE", "devices/" + id, pro)).result.deleted, id);
  EXPECT_EQ(refusal(call("GET", "devices/me", device)),
            std::pair(401, std::string("DEVICE_AUTH_REQUIRED")))
      << "a removed device's token is dead";

  const auto late = decoded<PairStartResponse>(call("POST", "devices/pair/start", pro)).result;
  clock_ = late.expires_at;
  const PairClaimRequest lateClaim{late.code, "Old phone", "ios", std::nullopt};
  EXPECT_EQ(refusal(call("POST", "devices/pair/claim", "", ShareJSON::encoder().encode(lateClaim))),
            std::pair(410, std::string("PAIR_CODE_EXPIRED")));
}

TEST_F(ShareServiceTest, AnonymousSharesBindToTheAccountThatHoldsTheirClaims) {
  const auto document = client(std::nullopt).upload(file("a.txt", "anon"), folder_.path(), {});
  const auto shortLink =
      client(std::nullopt).upload(link("https://example.org"), folder_.path(), {});
  const auto expiring = client(std::nullopt).upload(file("e.txt", "old"), folder_.path(), {});
  const BindRequest request{{{"doc", document.slug, *document.claimToken},
                             {"link", shortLink.slug, *shortLink.claimToken},
                             {"doc", shortLink.slug, *shortLink.claimToken},
                             {"doc", expiring.slug, *document.claimToken}}};
  const auto bind = [&](const BindRequest& body) {
    return decoded<BindResponse>(
               call("POST", "anon/bind", tokens_["hobby"], ShareJSON::encoder().encode(body)))
        .result;
  };
  const auto result = bind(request);
  EXPECT_EQ(result.bound, (std::vector<BoundItem>{
                              {"doc", document.slug, "http://127.0.0.1/" + document.slug},
                              {"link", shortLink.slug, "http://127.0.0.1/" + shortLink.slug}}));
  EXPECT_EQ(result.failed, (std::vector<FailedItem>{{"doc", shortLink.slug, "CLAIM_INVALID"},
                                                    {"doc", expiring.slug, "CLAIM_INVALID"}}))
      << "a claim binds only its own share, of its own kind";
  EXPECT_EQ(bind(request).bound, std::vector<BoundItem>{}) << "a claim serves once";
  const auto me = decoded<MeResponse>(call("GET", "me", tokens_["hobby"]));
  EXPECT_EQ(std::tuple(me.usage->at("docs").used, me.usage->at("links").used), std::tuple(1, 1));

  clock_ = now_ + 86400;
  EXPECT_EQ(bind(BindRequest{{{"doc", expiring.slug, *expiring.claimToken}}}).failed,
            (std::vector<FailedItem>{{"doc", expiring.slug, "CLAIM_EXPIRED"}}));
  EXPECT_EQ(get("/" + expiring.slug).response.status, 410) << "expired: no longer served";
  service_.purgeExpired();
  EXPECT_FALSE(service_.store().share(expiring.slug));
  EXPECT_EQ(blobCount(), 0u)
      << "every document here was anonymous, so all expired with their blobs";
}

TEST(ShareServiceOptions, DelayedAnswersIgnoredKeysARequestLogAndHTTPS) {
  using namespace std::chrono_literals;
  testing::TemporaryDirectory data;
  testing::TemporaryDirectory folder;
  auto options = serviceOptions(data.path(), systemNow);
  options.apiDelay = 300ms;
  options.idempotency = false;
  options.requestLog = folder / "requests.jsonl";
  std::ofstream(folder / "notes.txt") << "soak";
  StagedShare staged;
  staged.clientShareId = "share-1";
  staged.payload.kind = "file";
  staged.attachments.push_back(
      {"i1", "notes.txt", "file", "text/plain", "notes.txt", 4, "", {}, {}, {}});
  ShareOptions titled;
  titled.title = "Soak notes";
  ShareUploadOutcome first, second;
  {
    RunningService running(options);
    // Declared after the service, so its connections close before the service waits for them.
    const auto transport = URLSessionTransport::makeDefault();
    const ShareUploadClient anonymous(*Url::parse(running.apiBase()), std::nullopt, transport,
                                      RetryPolicy{1, 1, 1, 0});
    const auto started = std::chrono::steady_clock::now();
    first = anonymous.upload(staged, folder.path(), titled);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 300ms) << "answered before the delay";
    second = anonymous.upload(staged, folder.path(), titled);
    EXPECT_NE(second.slug, first.slug) << "the same key, and still a share of its own";
    EXPECT_EQ(running.service.store().activeShares(std::nullopt, std::nullopt, std::nullopt, 0), 2);
    const auto get = [&](const std::string& path, std::optional<std::string> token = {}) {
      const auto url = "http://127.0.0.1:" + std::to_string(running.port) + path;
      return transport->data(ShareHTTP::makeRequest(*Url::parse(url), "GET", token))
          .response.status;
    };
    EXPECT_EQ(get("/" + first.slug), 200);
    EXPECT_EQ(get("/api/v1/health?x=1", "secret-token"), 200);
  }

  // One line per API request, in the order they were answered; share pages are not logged.
  std::vector<JSONValue> lines;
  std::ifstream log(folder / "requests.jsonl");
  for (std::string text; std::getline(log, text);) lines.push_back(JSONValue::parse(text));
  ASSERT_EQ(lines.size(), 3u);
  const std::pair<JSONValue, std::string> publishes[] = {{lines[0], first.slug},
                                                         {lines[1], second.slug}};
  for (const auto& [line, slug] : publishes) {
    EXPECT_EQ(line.at("method"), "POST");
    EXPECT_EQ(line.at("path"), "/api/v1/anon/docs");
    EXPECT_EQ(line.at("idempotency_key"), "share-1");
    EXPECT_EQ(line.at("filename"), "notes.txt");
    EXPECT_EQ(line.at("title"), "Soak notes");
    EXPECT_EQ(line.at("slug"), slug);
    EXPECT_EQ(line.at("status"), 200);
    EXPECT_GE(line.at("ms").get<std::int64_t>(), 300);
  }
  EXPECT_LE(lines[0].at("at").get<std::int64_t>(), lines[1].at("at").get<std::int64_t>());
  EXPECT_EQ(lines[2], (JSONValue{{"at", lines[2].at("at")},
                                 {"method", "GET"},
                                 {"path", "/api/v1/health"},
                                 {"status", 200},
                                 {"ms", lines[2].at("ms")}}))
      << "no key, no query, no token";

  // With a certificate and its key it serves HTTPS; without a usable key it does not start.
  testing::TemporaryDirectory secure;
  const auto cert = secure / "cert.pem", key = secure / "key.pem";
  ASSERT_EQ(testing::runCommand("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 "
                                "-nodes -days 1 -subj /CN=127.0.0.1 -addext "
                                "subjectAltName=IP:127.0.0.1 -keyout " +
                                testing::shellQuoted(key) + " -out " + testing::shellQuoted(cert) +
                                " 2>/dev/null")
                .status,
            0);
  auto tls = serviceOptions(secure.path(), systemNow);
  tls.tlsCertificate = cert;
  tls.tlsKey = key;
  RunningService secured(tls);
  const auto health =
      testing::runCommand("curl -sf --cacert " + testing::shellQuoted(cert) +
                          " https://127.0.0.1:" + std::to_string(secured.port) + "/api/v1/health");
  EXPECT_EQ(health.output, R"({"ok":true,"service":"lumo-share-server","v":1})");
  tls.tlsKey = secure / "missing.pem";
  tls.dataDirectory = secure / "other";  // the running service holds `secure`
  EXPECT_TRUE(testing::thrown<std::runtime_error>([&] { ShareService broken(tls); }));
}

TEST(ShareServiceRestart, AServerKilledDuringAnUploadLeavesNoPartialBlobOrRow) {
  testing::TemporaryDirectory data;
  testing::TemporaryDirectory folder;
  std::ofstream(folder / "upload.bin").close();
  fs::resize_file(folder / "upload.bin", 8 * 1048576);
  int port = 0;
  testing::boundLoopbackSocket(port);  // a port that was free a moment ago
  const auto base = "http://127.0.0.1:" + std::to_string(port);
  const auto pidFile = folder / "server.pid";
  // The server in the background, its process id in `pidFile`, until it answers.
  testing::runCommand(testing::shellQuoted(LUMO_SERVER_EXECUTABLE) + " serve --data " +
                      testing::shellQuoted(data.path()) +
                      " --listen 127.0.0.1:" + std::to_string(port) +
                      " >/dev/null 2>&1 & echo $! > " + testing::shellQuoted(pidFile));
  for (int tries = 0; tries < 100; ++tries) {
    if (testing::runCommand("curl -sf --max-time 2 " + base + "/api/v1/health").status == 0) break;
    ::usleep(50000);
  }
  // A slow upload, and the server killed while it streams in.
  testing::runCommand("curl -s --max-time 20 --limit-rate 1M -F 'metadata={}' -F file=@" +
                      testing::shellQuoted(folder / "upload.bin") + " " + base +
                      "/api/v1/anon/docs >/dev/null 2>&1 & sleep 1.5; kill -9 $(cat " +
                      testing::shellQuoted(pidFile) + "); wait");
  EXPECT_EQ(testing::blobCount(data.path()), 1u) << "the upload was under way when the server died";

  std::ofstream(data / "blobs" / "orphan") << "a blob whose row never came";
  auto options = serviceOptions(data.path(), systemNow);
  options.database.clear();  // the killed one's records, in SQLite
  ShareService restarted{options};
  EXPECT_TRUE(fs::is_empty(data / "blobs")) << "the partial upload and the orphan were swept";
  EXPECT_TRUE(restarted.store().isIntact());
  EXPECT_EQ(restarted.store().activeShares(std::nullopt, std::nullopt, std::nullopt, 0), 0);
}

}  // namespace
}  // namespace lumo
