// The reference service's limits: whom a rate limit counts, which bodies it reads, quotas under
// parallel uploads, one service per data folder, a full disk, what the sweep remembers, device
// tokens of removed accounts, malformed uploads and who may read the database.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>

#include <map>
#include <thread>

#include "DataFolderLock.hpp"
#include "ServiceTest.hpp"
#include "ShareJSON.hpp"
#include "TestCommand.hpp"

namespace lumo {
namespace {

namespace fs = std::filesystem;
using service::ShareService;
using testing::pairDevice;
using testing::RunningService;
using testing::serviceOptions;
using testing::systemNow;
using Outcome = std::pair<int, std::string>;  ///< a status and its error code ("" for none)

Outcome outcome(const httplib::Result& result) {
  if (!result) return {0, "no answer"};
  const auto body = JSONValue::parse(result->body, nullptr, false);
  return {result->status, body.is_object() ? body.value("error", "") : ""};
}

httplib::MultipartFormDataItems document(const std::string& content,
                                         const std::string& metadata = "{}") {
  return {{"metadata", metadata, "", "application/json"},
          {"file", content, "notes.txt", "text/plain"}};
}

class ShareServiceLimitTest : public testing::ServiceTest {
 protected:
  void SetUp() override {
    ServiceTest::SetUp();
    service_.store().addAccount({"pro-id", "pro", "pro", now_});
  }
  Outcome upload(const httplib::MultipartFormDataItems& items) const {
    httplib::Client http("127.0.0.1", port_);
    return outcome(http.Post("/api/v1/anon/docs", items));
  }
  Outcome get(const std::string& path, const std::string& bearer = "") const {
    if (bearer.empty()) return outcome(ServiceTest::get(path));
    return outcome(ServiceTest::get(path, {{"Authorization", "Bearer " + bearer}}));
  }
};

TEST(ShareServiceLimits, VerifiedCallersHaveAllowancesOfTheirOwnAndDataIsTheOwnersAlone) {
  // Over its allowance a caller is told to wait (Retry-After) for one request at the rate.
  testing::TemporaryDirectory data;
  auto options = serviceOptions(data.path(), systemNow);
  options.rateBurst = 2;
  options.ratePerSecond = 0.001;
  options.connectionLimits.proxies = {"127.0.0.1"};  // this test's client stands for a proxy
  RunningService running(options);
  running.service.store().addAccount({"ana-id", "ana", "hobby", systemNow()});
  const auto account = running.service.secrets().issueToken("ana-id", systemNow(), 1);
  const auto device = pairDevice(running.service.store(), "ana-id");
  const std::tuple<const char*, std::string, int> requests[] = {
      {"the address", "", 200},
      {"the address", "", 200},
      {"a bearer that does not verify", service::ServiceSecrets::newSecretToken(), 429},
      {"the account", account, 200},
      {"the account", account, 200},
      {"the account", account, 429},
      {"the device", device, 200},
      {"the device", device, 200},
      {"the device", device, 429},
  };
  httplib::Client http("127.0.0.1", running.port);
  for (const auto& [caller, bearer, status] : requests) {
    httplib::Headers headers;
    if (!bearer.empty()) headers.emplace("Authorization", "Bearer " + bearer);
    const auto reply = http.Get("/api/v1/health", headers);
    EXPECT_EQ(outcome(reply).first, status) << caller;
    if (reply && status == 429) {
      EXPECT_EQ(reply->get_header_value("Retry-After"), "1000") << caller;
    }
  }
  // Behind the proxy, a client is the one it names last; what came before is the client's say.
  for (const auto& [forwarded, status] : {std::pair("198.51.100.7, 192.0.2.1", 200),
                                          {"198.51.100.8, 192.0.2.1", 200},
                                          {"192.0.2.1", 429},
                                          {"192.0.2.2", 200}}) {
    EXPECT_EQ(outcome(http.Get("/api/v1/health", {{"X-Forwarded-For", forwarded}})).first, status)
        << forwarded;
  }

  testing::TemporaryDirectory parent;
  fs::permissions(parent.path(), static_cast<fs::perms>(0755));
  const auto umask = ::umask(022);
  {
    auto options = serviceOptions(parent / "data", systemNow);
    options.database.clear();  // the files of SQLite
    ShareService service(options);
    EXPECT_EQ(testing::modeOf(parent / "data"), 0700u);
    for (const char* file : {"service.db", "service.db-wal", "service.db-shm"}) {
      EXPECT_EQ(testing::modeOf(parent / "data" / file), 0600u) << file;
    }
  }
  ::umask(umask);
}

TEST(ShareServiceLimits, AClientIsAnIPv4AddressOrAnIPv6Slash64AndAFullTableForgetsTheOldest) {
  using service::clientOfAddress;
  const std::pair<const char*, const char*> same[] = {
      {"2001:db8:1:2::1", "2001:db8:1:2:ffff:ffff:ffff:ffff"},
      {"2001:0DB8:0001:0002::", "2001:db8:1:2:a::b"},
      {"::ffff:192.0.2.7", "192.0.2.7"},
  };
  const std::pair<const char*, const char*> apart[] = {
      {"2001:db8:1:2::1", "2001:db8:1:3::1"},
      {"192.0.2.7", "192.0.2.8"},
      {"::1", "127.0.0.1"},
  };
  for (const auto& [one, other] : same) {
    EXPECT_EQ(clientOfAddress(one), clientOfAddress(other)) << one << " and " << other;
  }
  for (const auto& [one, other] : apart) {
    EXPECT_NE(clientOfAddress(one), clientOfAddress(other)) << one << " and " << other;
  }
  // A trusted proxy is one exact address, never a /64 or a name.
  const std::pair<const char*, std::optional<std::string>> exact[] = {
      {"::ffff:192.0.2.7", "192.0.2.7"},
      {"2001:0DB8:1:2::1", "2001:db8:1:2::1"},
      {"localhost", std::nullopt},
      {"10.0.0.0/8", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [text, address] : exact) EXPECT_EQ(service::exactAddress(text), address) << text;

  service::RateLimiter limiter(1, 0);  // one request per caller, never refilled
  constexpr int callers = 70000;
  for (int caller = 0; caller < callers; ++caller) {
    ASSERT_FALSE(limiter.admit(std::to_string(caller))) << caller;
  }
  EXPECT_TRUE(limiter.admit(std::to_string(callers - 1)));
  EXPECT_TRUE(limiter.admit("45000")) << "a recent caller is remembered";
  EXPECT_FALSE(limiter.admit("0")) << "the least recent caller made room";
}

TEST(ShareServiceLimits, AFolderOfOtherRecordsIsNotSweptAway) {
  testing::TemporaryDirectory data;
  auto options = serviceOptions(data.path(), systemNow);
  options.database.clear();
  { ShareService first(options); }
  std::ofstream(data / "blobs" / "a-document") << "content";
  fs::remove(data / "service.db");  // other records: a new, empty database
  EXPECT_TRUE(testing::thrown<service::DataFolderBusy>([&] { ShareService other(options); }));
  EXPECT_TRUE(fs::exists(data / "blobs" / "a-document"));
}

TEST_F(ShareServiceLimitTest, ParallelAnonymousUploadsStopExactlyAtTheLimit) {
  const auto items = document(std::string(1 << 20, 'x'));
  std::vector<Outcome> outcomes(20);
  std::vector<std::thread> uploads;
  for (auto& result : outcomes) uploads.emplace_back([&] { result = upload(items); });
  for (auto& thread : uploads) thread.join();
  std::map<Outcome, int> counts;
  for (const auto& result : outcomes) ++counts[result];
  EXPECT_EQ(counts, (std::map<Outcome, int>{{{200, ""}, 5}, {{403, "ANON_QUOTA_EXCEEDED"}, 15}}));
  EXPECT_EQ(blobCount(), 5u);
}

TEST_F(ShareServiceLimitTest, OddBodiesABusyFolderRemovedAccountsAndFailedWritesAreRefused) {
  auto second = serviceOptions(data_.path(), systemNow);
  second.database.clear();  // on SQLite: the folder is the service's alone, whoever holds it
  EXPECT_TRUE(testing::thrown<service::DataFolderBusy>([&] { ShareService busy(second); }));
  const auto program = testing::runCommand(
      "timeout 20 " + testing::shellQuoted(LUMO_SERVER_EXECUTABLE) +
      " serve --listen 127.0.0.1:0 --data " + testing::shellQuoted(data_.path()) + " 2>&1");
  EXPECT_EQ(program.status, 1);
  EXPECT_NE(program.output.find("in use by another lumo-share-server"), std::string::npos)
      << program.output;

  const std::pair<std::string, int> heads[] = {
      {"POST /api/v1/anon/links HTTP/1.1\r\nTransfer-Encoding: Chunked\r\n\r\n", 413},
      {"POST /some-share/unlock HTTP/1.1\r\nTransfer-Encoding: CHUNKED\r\n\r\n", 413},
      {"POST /some-share/unlock HTTP/1.1\r\nContent-Type: "
       "application/x-www-form-urlencoded\r\n\r\n",
       411},
      {"POST /api/v1/anon/links HTTP/1.1\r\nTransfer-Encoding: gzip, chunked\r\n\r\n", 501},
      {"POST /api/v1/anon/docs HTTP/1.1\r\nTransfer-Encoding: identity\r\nContent-Length: "
       "5\r\n\r\n",
       501},
      {"POST /api/v1/anon/links HTTP/1.1\r\nContent-Length: 12abc\r\n\r\n", 400},
  };
  for (const auto& [head, status] : heads) {
    testing::RawClient client(port_);
    client.send(head);
    EXPECT_EQ(client.receive(std::chrono::seconds(5)).substr(0, 12),
              "HTTP/1.1 " + std::to_string(status))
        << head;
  }

  const auto device = pairDevice(service_.store(), "pro-id");
  EXPECT_EQ(get("/api/v1/devices/me", device).first, 200);
  // No command removes an account: an operator deletes its row.
  executeSql("DELETE FROM accounts WHERE id = 'pro-id'");
  EXPECT_EQ(get("/api/v1/devices/me", device), Outcome(401, "DEVICE_AUTH_REQUIRED"));

  // A file name in another encoding than UTF-8 is kept as text, on either store.
  EXPECT_EQ(upload({{"metadata", "{}", "", "application/json"},
                    {"file", "cv", "r\xe9sum\xe9.txt", "text/plain"}}),
            Outcome(200, ""));
  auto twoFiles = document("one");
  twoFiles.push_back({"file", "two", "other.txt", "text/plain"});
  for (const auto& items : {twoFiles, document("x", R"({"max_downloads":-5})")}) {
    EXPECT_EQ(upload(items), Outcome(400, "VALIDATION_ERROR")) << items.back().name;
  }
  EXPECT_EQ(blobCount(), 1u) << "the document with a Latin-1 name alone";
  EXPECT_EQ(service_.store().activeShares(std::nullopt, std::nullopt, std::nullopt, 0), 1);

  // Last, as the failed row breaks the records: a full disk or a failed row leaves no blob.
  const auto failingWith = [](int error) {
    return [error](int, const void*, std::size_t) -> ssize_t {
      errno = error;
      return -1;
    };
  };
  const std::tuple<const char*, std::function<void()>, Outcome> cases[] = {
      {"no space",
       [&] { service_.blobs().setWriteFunction(failingWith(ENOSPC)); },
       {507, "insufficient_storage"}},
      {"over the disk quota",
       [&] { service_.blobs().setWriteFunction(failingWith(EDQUOT)); },
       {507, "insufficient_storage"}},
      {"the row fails",
       [&] {
         service_.blobs().setWriteFunction(::write);
         // The share's row goes in, and its transaction fails after it.
         executeSql("ALTER TABLE gone RENAME TO gone_elsewhere");
       },
       {500, "internal"}},
  };
  for (const auto& [what, breakIt, expected] : cases) {
    breakIt();
    EXPECT_EQ(upload(document("some text")), expected) << what;
    EXPECT_EQ(blobCount(), 1u) << what;
  }
}

TEST_F(ShareServiceLimitTest, ASweptShareIsGoneFor30DaysThenUnknown) {
  service::StoredShare share;
  share.id = share.slug = "swept-link";
  share.kind = "link";
  share.url = "https://example.org/";
  share.expiresAt = now_ + 86400;
  service_.store().insertShare(share);
  clock_ = now_ + 2 * 86400;
  service_.purgeExpired();
  EXPECT_EQ(get("/swept-link").first, 410);
  clock_ = now_ + 33 * 86400;
  service_.purgeExpired();
  EXPECT_EQ(get("/swept-link").first, 404);
}

}  // namespace
}  // namespace lumo
