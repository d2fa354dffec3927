// How the service holds up against clients that connect and then send slowly, sit idle or send
// heads larger than any real client does: whatever one address does, others are answered.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
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

std::string statusLine(const std::string& reply) {
  return reply.substr(0, reply.find("\r\n"));
}

/// One health request on a connection of its own from `from`: the answer's status line.
std::string healthFrom(int port, const char* from) {
  RawClient client(port, from);
  client.send("GET /api/v1/health HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
  return statusLine(client.receive(10s));
}

/// Descriptors for a thousand clients and the service they talk to.
void allowManyDescriptors() {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

TEST(ShareServiceConnections, AThousandSlowOrIdleClientsOfOneAddressLeaveTheServiceToOthers) {
  allowManyDescriptors();
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  const auto clients = std::min<std::size_t>(1000, limit.rlim_cur - 100);
  const struct {
    const char* name;
    const char* sent;  ///< what each slow client sends, and then nothing more
  } cases[] = {
      {"a head that never ends", "GET /api/v1/health HTTP/1.1\r\nHost: 127.0.0.1\r\n"},
      {"a body that never comes",
       "POST /api/v1/anon/links HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
       "Content-Length: 100\r\n\r\n{"},
      {"a kept-alive connection left idle",
       "GET /api/v1/health HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"},
  };
  for (const auto& slow : cases) {
    SCOPED_TRACE(slow.name);
    testing::TemporaryDirectory data;
    RunningService running(serviceOptions(data.path(), systemNow));
    std::vector<std::unique_ptr<RawClient>> crowd;
    for (std::size_t index = 0; index < clients; ++index) {
      crowd.push_back(std::make_unique<RawClient>(running.port));
      crowd.back()->send(slow.sent);
    }
    EXPECT_EQ(healthFrom(running.port, "127.0.0.2"), "HTTP/1.1 200 OK");
    const auto perAddress = service::ConnectionLimits{}.perAddress;
    std::size_t open = clients;
    for (int round = 0; round < 50 && open > perAddress; ++round) {
      open = static_cast<std::size_t>(std::count_if(
          crowd.begin(), crowd.end(), [](auto& client) { return !client->closed(); }));
      std::this_thread::sleep_for(100ms);
    }
    EXPECT_LE(open, perAddress) << "connections the one address still holds";
  }
}

TEST(ShareServiceConnections, HeadsTooLargeTooManyOrTooSlowAreRefusedAndGoodOnesKeptAlive) {
  testing::TemporaryDirectory data;
  auto options = serviceOptions(data.path(), systemNow);
  options.connectionLimits.headDeadline = 1s;
  RunningService running(options);
  const std::string request = "GET /api/v1/health HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  std::string manyHeaders = request;
  for (int index = 0; index < 300; ++index) manyHeaders += "X-" + std::to_string(index) + ": 1\r\n";
  const struct {
    const char* name;
    std::string sent;
    std::string answered;  ///< status lines in order, one per line
  } cases[] = {
      {"a 64 KiB header line", request + "X-Long: " + std::string(65536, 'a') + "\r\n\r\n",
       "HTTP/1.1 431 Request Header Fields Too Large\n"},
      {"300 header lines", manyHeaders + "\r\n", "HTTP/1.1 431 Request Header Fields Too Large\n"},
      {"a POST with neither length nor transfer coding has no body",
       "POST /api/v1/anon/links HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n",
       "HTTP/1.1 400 Bad Request\n"},
      {"two requests in one write", request + "\r\n" + request + "Connection: close\r\n\r\n",
       "HTTP/1.1 200 OK\nHTTP/1.1 200 OK\n"},
  };
  for (const auto& head : cases) {
    SCOPED_TRACE(head.name);
    RawClient client(running.port);
    client.send(head.sent);
    const auto reply = client.receive(10s);
    std::string answered;
    for (auto at = reply.find("HTTP/1.1 "); at != std::string::npos;
         at = reply.find("HTTP/1.1 ", at + 1)) {
      answered += reply.substr(at, reply.find("\r\n", at) - at) + "\n";
    }
    EXPECT_EQ(answered, head.answered);
    EXPECT_TRUE(client.closed());
  }

  RawClient trickling(running.port);
  trickling.send(request);
  int linesSent = 0;
  while (linesSent < 100 && trickling.send("X-Slow: 1\r\n") && !trickling.closed(200ms)) {
    ++linesSent;
  }
  EXPECT_LT(linesSent, 100) << "a head sent a line at a time is cut off at its deadline";

  testing::TemporaryDirectory otherData;
  ShareService second(serviceOptions(otherData.path(), systemNow));
  EXPECT_EQ(second.bind("127.0.0.1", running.port), -1) << "the port is taken";
  EXPECT_EQ(healthFrom(running.port, "127.0.0.1"), "HTTP/1.1 200 OK");
}

}  // namespace
}  // namespace lumo
