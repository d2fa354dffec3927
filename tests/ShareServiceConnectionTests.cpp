// How the service holds up against clients that connect and then send slowly, sit idle or send
// heads larger than any real client does: whatever one address does, others are answered.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ServiceTest.hpp"

namespace lumo {
namespace {

using namespace std::chrono_literals;
using service::ShareService;
using testing::RawClient;
using testing::RunningService;
using testing::serviceOptions;
using testing::systemNow;

/// One health request on a connection of its own from `from`: the answer's status line.
std::string healthFrom(int port, const char* from) {
  RawClient client(port, from);
  client.send("GET /api/v1/health HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
  const auto reply = client.receive(10s);
  return reply.substr(0, reply.find("\r\n"));
}

TEST(ShareServiceConnections, AThousandSlowOrIdleClientsOfFewAddressesLeaveTheServiceToOthers) {
  rlimit limit{};  // as many descriptors as allowed: both ends of each connection are ours
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
  getrlimit(RLIMIT_NOFILE, &limit);
  const auto clients = std::min<std::size_t>(1000, (limit.rlim_cur - 200) / 2);
  const struct {
    const char* name;
    const char* sent;  ///< what each slow client sends, and then nothing more
    int addresses;     ///< the clients come from 127.0.0.1 on, in turn
  } cases[] = {
      {"a head that never ends", "GET /api/v1/health HTTP/1.1\r\nHost: 127.0.0.1\r\n", 1},
      {"a body that never comes",
       "POST /api/v1/anon/links HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
       "Content-Length: 100\r\n\r\n{",
       4},
      {"a kept-alive connection left idle",
       "GET /api/v1/health HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 1},
  };
  for (const auto& slow : cases) {
    SCOPED_TRACE(slow.name);
    testing::TemporaryDirectory data;
    auto options = serviceOptions(data.path(), systemNow);
    options.connectionLimits.bodyGrace = 120s;  // the slow bodies keep their workers
    RunningService running(options);
    std::vector<std::unique_ptr<RawClient>> crowd;
    for (std::size_t index = 0; index < clients; ++index) {
      const auto from = "127.0.0." + std::to_string(1 + index % slow.addresses);
      crowd.push_back(std::make_unique<RawClient>(running.port, from.c_str()));
      crowd.back()->send(slow.sent);
    }
    EXPECT_EQ(healthFrom(running.port, "127.0.0.200"), "HTTP/1.1 200 OK");
    const auto perAddress = service::ConnectionLimits{}.perAddress * slow.addresses;
    std::size_t open = clients;
    for (int round = 0; round < 50 && open > perAddress; ++round) {
      open = static_cast<std::size_t>(std::count_if(
          crowd.begin(), crowd.end(), [](auto& client) { return !client->closed(); }));
      std::this_thread::sleep_for(100ms);
    }
    EXPECT_LE(open, perAddress) << "connections the addresses still hold";
  }
}

TEST(ShareServiceConnections, BadOrSlowHeadsAreRefusedGoodOnesKeptAliveAndStoppingCutsBodiesOff) {
  testing::TemporaryDirectory data;
  auto options = serviceOptions(data.path(), systemNow);
  options.connectionLimits.headDeadline = 1s;
  auto running = std::make_unique<RunningService>(options);
  const std::string request = "GET /api/v1/health HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  const std::string part =
      "--b\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.txt\"\r\n"
      "Content-Type: text/plain\r\n\r\nhello\r\n--b--\r\n";
  const std::string upload =
      "POST /api/v1/anon/docs HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
      "Content-Type: multipart/form-data; boundary=b\r\nContent-Length: " +
      std::to_string(part.size()) + "\r\n\r\n";
  std::string manyHeaders = request;
  for (int index = 0; index < 300; ++index) manyHeaders += "X-" + std::to_string(index) + ": 1\r\n";
  const struct {
    const char* name;
    std::string sent;
    std::string answered;        ///< status lines in order, one per line
    std::string sentLater = {};  ///< sent a moment after `sent`
  } cases[] = {
      {"a 64 KiB header line", request + "X-Long: " + std::string(65536, 'a') + "\r\n\r\n",
       "HTTP/1.1 431 Request Header Fields Too Large\n"},
      {"300 header lines", manyHeaders + "\r\n", "HTTP/1.1 431 Request Header Fields Too Large\n"},
      {"a POST with neither length nor transfer coding has no body",
       "POST /api/v1/anon/links HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n",
       "HTTP/1.1 400 Bad Request\n"},
      {"two requests in one write", request + "\r\n" + request + "Connection: close\r\n\r\n",
       "HTTP/1.1 200 OK\nHTTP/1.1 200 OK\n"},
      {"an API answer is whole whatever range is asked",
       request + "Range: bytes=0-3\r\nConnection: close\r\n\r\n", "HTTP/1.1 200 OK\n"},
      {"an empty line ending in a bare LF does not end a head",
       request + "\n" + "X-Long: " + std::string(20000, 'a') + "\r\n\r\n",
       "HTTP/1.1 431 Request Header Fields Too Large\n"},
      {"a header line httplib would pass over is refused, not read past",
       request + "Content-Length : 28\r\n\r\n" + request + "\r\n", "HTTP/1.1 400 Bad Request\n"},
      {"after a request that does not parse, the rest is no request",
       "NONSENSE\r\n\r\n" + request + "\r\n", "HTTP/1.1 400 Bad Request\n"},
      {"a body whose first piece is shorter than its boundary line", upload + part.substr(0, 3),
       "HTTP/1.1 200 OK\n", part.substr(3)},
  };
  for (const auto& head : cases) {
    SCOPED_TRACE(head.name);
    RawClient client(running->port);
    client.send(head.sent);
    if (!head.sentLater.empty()) {
      std::this_thread::sleep_for(100ms);
      client.send(head.sentLater);
    }
    const auto reply = client.receive(10s);
    std::string answered;
    for (auto at = reply.find("HTTP/1.1 "); at != std::string::npos;
         at = reply.find("HTTP/1.1 ", at + 1)) {
      answered += reply.substr(at, reply.find("\r\n", at) - at) + "\n";
    }
    EXPECT_EQ(answered, head.answered);
    EXPECT_TRUE(client.closed());
  }

  RawClient trickling(running->port);
  trickling.send(request);
  int linesSent = 0;
  while (linesSent < 100 && trickling.send("X-Slow: 1\r\n") && !trickling.closed(200ms)) {
    ++linesSent;
  }
  EXPECT_LT(linesSent, 100) << "a head sent a line at a time is cut off at its deadline";

  testing::TemporaryDirectory otherData;
  ShareService second(serviceOptions(otherData.path(), systemNow));
  EXPECT_EQ(second.bind("127.0.0.1", running->port), -1) << "the port is taken";
  EXPECT_EQ(healthFrom(running->port, "127.0.0.1"), "HTTP/1.1 200 OK");

  // Stopping cuts off a body still arriving.
  RawClient uploader(running->port);
  uploader.send(
      "POST /api/v1/anon/docs HTTP/1.1\r\nHost: 127.0.0.1\r\n"
      "Content-Type: multipart/form-data; boundary=b\r\nContent-Length: 5000000\r\n\r\n"
      "--b\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.bin\"\r\n\r\n");
  std::atomic<bool> done = false;
  std::thread trickle([&] {  // fast enough for the service's slowest accepted rate
    while (!done && uploader.send(std::string(1024, 'x'))) std::this_thread::sleep_for(50ms);
  });
  std::this_thread::sleep_for(1s);  // the upload is under way
  auto stopped = std::async(std::launch::async, [&] { running.reset(); });
  EXPECT_EQ(stopped.wait_for(60s), std::future_status::ready) << "stop waited for the upload";
  done = true;
  trickle.join();
}

}  // namespace
}  // namespace lumo
