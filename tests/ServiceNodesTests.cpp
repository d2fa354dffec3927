// Two service nodes (real processes) on one PostgreSQL database and one data folder, behind
// nginx configured by server/nginx-nodes.conf: what must hold across nodes holds in the
// database (download limits, burn after reading), and a node killed mid-upload loses no share
// it committed and leaves no record without its blob. Runs where with-postgresql.sh started a
// cluster; skipped elsewhere.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "ServiceFixture.hpp"
#include "ShareJSON.hpp"
#include "TemporaryDirectory.hpp"
#include "TestCommand.hpp"

namespace lumo {
namespace {

namespace fs = std::filesystem;
using Reply = std::pair<int, std::string>;

int freePort() {
  int port = 0;
  testing::boundLoopbackSocket(port);
  return port;
}

Reply replyOf(const httplib::Result& result) {
  return result ? Reply(result->status, result->body) : Reply(0, "");
}

bool answers(int port) {
  for (int tries = 0; tries < 200; ++tries) {
    httplib::Client client("127.0.0.1", port);
    if (replyOf(client.Get("/api/v1/health")).first == 200) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

class ServiceNodesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("LUMO_TEST_POSTGRESQL")) GTEST_SKIP() << "no PostgreSQL cluster here";
    const auto server = testing::shellQuoted(LUMO_SERVER_EXECUTABLE);
    database_ = testing::testDatabase();
    const auto records = " --data " + testing::shellQuoted(shared_.path()) + " --database " +
                         testing::shellQuoted(database_);
    ASSERT_EQ(testing::runCommand(server + " user add ana --plan pro" + records).status, 0);
    token_ = JSONValue::parse(testing::runCommand(server + " token ana" + records).output)
                 .value("access_token", "");
    std::string nodes;
    for (auto& port : nodePorts_) {
      port = freePort();
      start(server + " serve --rate-limit 0 --trusted-proxy 127.0.0.1 --listen 127.0.0.1:" +
                std::to_string(port) + records,
            port);
      nodes += "server 127.0.0.1:" + std::to_string(port) + ";\n";
    }
    nginxPort_ = freePort();
    std::ifstream example(fs::path(LUMO_SOURCE_DIR) / "server/nginx-nodes.conf");
    auto config = std::string(std::istreambuf_iterator<char>(example), {});
    for (const auto& [word, value] :
         std::map<std::string, std::string>{{"@PREFIX@", logs_.path()},
                                            {"@LISTEN@", "127.0.0.1:" + std::to_string(nginxPort_)},
                                            {"@NODES@", nodes}}) {
      for (auto at = config.find(word); at != std::string::npos; at = config.find(word))
        config.replace(at, word.size(), value);
    }
    std::ofstream(logs_ / "nginx.conf") << config;
    start("/usr/sbin/nginx -p " + testing::shellQuoted(logs_.path()) + " -c nginx.conf -g " +
              testing::shellQuoted("daemon off;"),
          nginxPort_);
  }
  void TearDown() override {
    for (const auto pid : pids_) ::kill(pid, SIGTERM);
  }

  /// Runs `command` in the background until it answers on `port`; its output goes to a log
  /// that a failure shows.
  void start(const std::string& command, int port) {
    const auto log = logs_ / ("log-" + std::to_string(port));
    pids_.push_back(std::stoi(
        testing::runCommand(command + " >" + testing::shellQuoted(log) + " 2>&1 & echo $!")
            .output));
    std::ifstream output(log);
    ASSERT_TRUE(answers(port)) << std::string(std::istreambuf_iterator<char>(output), {});
  }

  /// Publishes `content` as a document with `metadata`, through `port`; answers the status and
  /// the slug (the body when it failed).
  Reply publish(int port, const std::string& content, const JSONValue& metadata) const {
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(120);
    const auto result = client.Post(
        "/api/v1/docs", {{"Authorization", "Bearer " + token_}},
        httplib::MultipartFormDataItems{{"metadata", metadata.dump(), "", "application/json"},
                                        {"file", content, "notes.txt", "text/plain"}});
    const auto reply = replyOf(result);
    if (reply.first != 200) return reply;
    return {200, JSONValue::parse(reply.second).value("/result/doc/slug"_json_pointer, "")};
  }

  /// Sends `count` requests for `path` at once through nginx; answers how many got each status,
  /// and how many of them carried `content`.
  std::pair<std::map<int, int>, int> together(int count, const std::string& path,
                                              const std::string& content) const {
    std::vector<Reply> replies(static_cast<std::size_t>(count));
    std::atomic<bool> go = false;
    std::vector<std::thread> clients;
    for (auto& reply : replies) {
      clients.emplace_back([&] {
        httplib::Client client("127.0.0.1", nginxPort_);
        client.set_read_timeout(60);
        while (!go) std::this_thread::yield();
        reply = replyOf(client.Get(path));
      });
    }
    go = true;
    for (auto& client : clients) client.join();
    std::map<int, int> statuses;
    int carried = 0;
    for (const auto& [status, body] : replies) {
      ++statuses[status];
      carried += body.find(content) != std::string::npos ? 1 : 0;
    }
    return {statuses, carried};
  }

  testing::TemporaryDirectory shared_;
  testing::TemporaryDirectory logs_;
  std::string database_;
  std::string token_;
  std::array<int, 2> nodePorts_{};
  int nginxPort_ = 0;
  std::vector<pid_t> pids_;  ///< the nodes', then nginx's
};

TEST_F(ServiceNodesTest, ADownloadLimitAndABurnHoldAcrossNodes) {
  const std::string content = "limited content " + std::string(4096, 'x');
  const auto limited = publish(nginxPort_, content, {{"max_downloads", 3}});
  ASSERT_EQ(limited.first, 200) << limited.second;
  const auto [downloads, copies] = together(50, "/" + limited.second + "/file", content);
  EXPECT_EQ(copies, 3) << "statuses: " << ::testing::PrintToString(downloads);
  EXPECT_EQ(downloads.count(500), 0u);

  const std::string secret = "read me once";
  const auto burning = publish(nginxPort_, secret, {{"burn_after_reading", true}});
  ASSERT_EQ(burning.first, 200) << burning.second;
  auto [views, pages] = together(20, "/" + burning.second, "data:");
  EXPECT_EQ(pages, 1) << "statuses: " << ::testing::PrintToString(views);
  EXPECT_EQ(views[200], 1);
}

TEST_F(ServiceNodesTest, ANodeKilledMidUploadLosesNothingItCommitted) {
  // Quick uploads that end before the node dies, and slow ones (a few seconds each) it dies in.
  std::ofstream(logs_ / "quick.bin") << std::string(1 << 20, 'q');
  std::ofstream(logs_ / "slow.bin") << std::string(3 << 20, 's');
  std::mutex mutex;
  std::map<std::string, fs::path> committed;  ///< slug → what was uploaded
  std::atomic<int> quickOnesDone = 0;
  std::vector<std::thread> uploads;
  for (int index = 0; index < 12; ++index) {
    uploads.emplace_back([&, quick = index % 2 == 0] {
      const auto file = logs_ / (quick ? "quick.bin" : "slow.bin");
      const auto reply = testing::runCommand(
          "curl -s --max-time 60 " + std::string(quick ? "" : "--limit-rate 1M ") +
          "-H 'Authorization: Bearer " + token_ + "' -F metadata={} -F file=@" +
          testing::shellQuoted(file) + " http://127.0.0.1:" + std::to_string(nodePorts_[0]) +
          "/api/v1/docs");
      const auto answer = JSONValue::parse(reply.output, nullptr, false);
      const auto slug = answer.is_object()
                            ? answer.value("/result/doc/slug"_json_pointer, std::string())
                            : std::string();
      std::lock_guard lock(mutex);
      if (!slug.empty()) committed[slug] = file;
      quickOnesDone += quick ? 1 : 0;
    });
  }
  while (quickOnesDone < 6) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ::kill(pids_[0], SIGKILL);
  for (auto& upload : uploads) upload.join();
  EXPECT_GE(committed.size(), 6u);
  EXPECT_LT(committed.size(), 12u) << "the node died with uploads under way";

  // The survivor serves every committed share, whole.
  httplib::Client survivor("127.0.0.1", nodePorts_[1]);
  for (const auto& [slug, uploaded] : committed) {
    std::ifstream in(uploaded, std::ios::binary);
    const std::string body(std::istreambuf_iterator<char>(in), {});
    const auto file = replyOf(survivor.Get("/" + slug + "/file"));
    EXPECT_EQ(file.first, 200) << slug;
    EXPECT_TRUE(file.second == body) << slug << ": " << file.second.size() << " bytes";
  }
  // No record points at a blob that is missing or short.
  const auto records = service::sql::Database::open(database_, 1);
  const service::sql::Lease connection(*records);
  service::sql::Statement blobs(*connection,
                                "SELECT blob, size FROM shares WHERE blob IS NOT NULL");
  std::size_t rows = 0;
  while (blobs.step()) {
    ++rows;
    const auto file = shared_ / "blobs" / blobs.text(0);
    ASSERT_TRUE(fs::exists(file)) << blobs.text(0);
    EXPECT_EQ(fs::file_size(file), static_cast<std::uintmax_t>(blobs.integer(1)));
  }
  EXPECT_GE(rows, committed.size());
}

}  // namespace
}  // namespace lumo
