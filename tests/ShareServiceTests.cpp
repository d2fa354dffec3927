// The reference service on an ephemeral loopback port, driven by the library's own client and
// transport: what a share really goes through.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <fstream>
#include <thread>

#include "LumoShare.hpp"
#include "ShareService.hpp"
#include "TemporaryDirectory.hpp"
#include "TestCommand.hpp"

namespace lumo {
namespace {

namespace fs = std::filesystem;
using service::ShareService;

class ShareServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = service_.bind("127.0.0.1", 0);
    ASSERT_GT(port_, 0);
    thread_ = std::thread([this] { service_.listen(); });
    for (const auto* plan : {"hobby", "pro"}) {
      service_.store().addAccount({std::string(plan) + "-id", plan, plan, now_});
      tokens_[plan] = service_.secrets().issueToken(std::string(plan) + "-id", now_, 30);
    }
  }
  void TearDown() override {
    service_.stop();
    thread_.join();
  }

  Url apiBase() const {
    return *Url::parse("http://127.0.0.1:" + std::to_string(port_) + "/api/v1");
  }
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

  const std::int64_t now_ = std::chrono::duration_cast<std::chrono::seconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count();
  testing::TemporaryDirectory data_;
  testing::TemporaryDirectory folder_;
  ShareService service_{ShareService::Options{data_.path(), "http://127.0.0.1/",
                                              [now = now_] { return now; }, false}};
  std::thread thread_;
  int port_ = 0;
  std::map<std::string, std::string> tokens_;
  std::shared_ptr<ShareHTTPTransport> transport_ =
      std::make_shared<URLSessionTransport>(std::make_shared<ShareCurlSession>());
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
  EXPECT_EQ(get("/s/my-report").body, "report body");

  const auto anonymous =
      client(std::nullopt).upload(file("a.txt", "anonymous"), folder_.path(), options);
  EXPECT_NE(anonymous.slug, "my-report") << "anonymous shares get no slug of their own";
  EXPECT_EQ(anonymous.expiresAtMs, (now_ + 86400) * 1000) << "anonymous shares live one day";
  ASSERT_TRUE(anonymous.claimToken);
  EXPECT_GE(anonymous.claimToken->size(), 32u);

  const auto shortened =
      client("hobby").upload(link("https://example.org/page"), folder_.path(), {});
  EXPECT_EQ(service_.store().share(shortened.slug)->url, "https://example.org/page");
  EXPECT_EQ(shortened.expiresAtMs, (now_ + 7 * 86400) * 1000);
}

TEST_F(ShareServiceTest, EveryRefusalHasItsStatusAndCode) {
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

  EXPECT_EQ(failure("stranger", file("x.txt", "x"), {}), E::unauthorized("sign in to use this"));
  EXPECT_EQ(failure("hobby", file("p.txt", "p"), password),
            E::paidPlanRequired(PaidPlanFeature::password));
  EXPECT_EQ(failure("hobby", file("s.txt", "s"), shortSlug),
            E::http(400, "VALIDATION_ERROR", false));
  EXPECT_EQ(failure("pro", file("u.txt", "u"), taken), E::http(409, "conflict", false));
  EXPECT_EQ(failure("hobby", big, {}), E::http(413, "FILE_SIZE_EXCEEDED", false));
  EXPECT_EQ(failure("pro", link("ftp://example.org/f"), {}),
            E::http(400, "VALIDATION_ERROR", false));
  auto broken = ShareHTTP::makeRequest(ShareHTTP::endpoint(apiBase(), "anon/links"), "POST",
                                       std::nullopt, std::string("{\"url\":"), "application/json");
  const auto malformed = transport_->data(broken);
  EXPECT_EQ(std::tuple(malformed.response.status, ShareHTTP::apiError(malformed.body, 400)->code),
            std::tuple(400, std::string("invalid_request")));
  auto huge = ShareHTTP::makeRequest(ShareHTTP::endpoint(apiBase(), "anon/links"), "POST",
                                     std::nullopt, std::string(200000, '['), "application/json");
  EXPECT_EQ(transport_->data(huge).response.status, 413);
  for (int index = 0; index < 5; ++index) {
    client(std::nullopt).upload(file("anon" + std::to_string(index), "a"), folder_.path(), {});
  }
  EXPECT_EQ(failure(std::nullopt, file("sixth", "a"), {}), E::quotaExceeded(5, true));

  const auto unknown = get("/api/v1/nothing-here");
  EXPECT_EQ(unknown.response.status, 404);
  EXPECT_EQ(ShareHTTP::apiError(unknown.body, 404)->code, "not_found");
  EXPECT_EQ(get("/api/v1/me").response.status, 401);
  const auto me = ShareHTTP::decode<MeResponse>(
      get("/api/v1/me", {{"Authorization", "Bearer " + tokens_["pro"]}}).body);
  EXPECT_EQ(std::tuple(me.plan, me.usage->at("docs").used), std::tuple(std::string("pro"), 1));

  // A refused upload leaves nothing behind: no blob but the one published share's.
  std::size_t blobs = 0;
  for (const auto& entry : fs::directory_iterator(data_ / "blobs"))
    blobs += entry.is_regular_file();
  EXPECT_EQ(blobs, 1u + 5u + 0u) << "the pro share and the five anonymous ones";
  EXPECT_TRUE(service_.store().isIntact());
}

TEST(ShareServiceRestart, AServerKilledDuringAnUploadLeavesNoPartialBlobOrRow) {
  testing::TemporaryDirectory data;
  testing::TemporaryDirectory folder;
  std::ofstream(folder / "upload.bin").close();
  fs::resize_file(folder / "upload.bin", 8 * 1048576);
  // A port that was free a moment ago.
  const auto port = [] {
    const FileDescriptor probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(probe.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(probe.get(), reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
  }();
  const auto base = "http://127.0.0.1:" + std::to_string(port);
  const auto server = testing::shellQuoted(LUMO_SERVER_EXECUTABLE) + " serve --data " +
                      testing::shellQuoted(data.path()) +
                      " --listen 127.0.0.1:" + std::to_string(port);
  const auto pidFile = folder / "server.pid";
  testing::runCommand(server + " >/dev/null 2>&1 & echo $! > " + testing::shellQuoted(pidFile));
  for (int tries = 0; tries < 100; ++tries) {
    if (testing::runCommand("curl -sf --max-time 2 " + base + "/api/v1/health").status == 0) break;
    ::usleep(50000);
  }
  // A slow upload, and the server killed while it streams in.
  testing::runCommand("curl -s --max-time 20 --limit-rate 1M -F 'metadata={}' -F file=@" +
                      testing::shellQuoted(folder / "upload.bin") + " " + base +
                      "/api/v1/anon/docs >/dev/null 2>&1 & sleep 1.5; kill -9 $(cat " +
                      testing::shellQuoted(pidFile) + "); wait");
  std::size_t partial = 0;
  for (const auto& entry : fs::directory_iterator(data / "blobs"))
    partial += entry.is_regular_file();
  EXPECT_EQ(partial, 1u) << "the upload was under way when the server died";

  ShareService restarted{ShareService::Options{data.path(), "", {}, false}};
  EXPECT_TRUE(fs::is_empty(data / "blobs")) << "the partial upload was swept at start-up";
  EXPECT_TRUE(restarted.store().isIntact());
  EXPECT_EQ(restarted.store().activeShares(std::nullopt, std::nullopt, std::nullopt, 0), 0);
}

}  // namespace
}  // namespace lumo
