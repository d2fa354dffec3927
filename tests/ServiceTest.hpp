#pragma once
// What the service tests share: a fixture with the reference service running over a data folder
// on a clock the test moves, and a bare client connection for what no HTTP library sends.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <string_view>

#include "ServiceFixture.hpp"
#include "TemporaryDirectory.hpp"

namespace lumo::testing {

/// The blobs kept in the service's data folder `data`.
inline std::size_t blobCount(const std::filesystem::path& data) {
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(data / "blobs"))
    count += entry.is_regular_file();
  return count;
}

/// A device paired to `account` in `store`; answers its bearer token.
inline std::string pairDevice(service::ServiceStore& store, const std::string& account) {
  const auto token = service::ServiceSecrets::newSecretToken();
  const auto now = systemNow();
  store.addPairing("TESTCODE", account, now + 600);
  store.claimPairing("TESTCODE", {account + "-laptop", "Laptop", "linux", std::nullopt, now, {}},
                     service::ServiceSecrets::secretHash(token), now);
  return token;
}

class ServiceTest : public ::testing::Test {
 protected:
  using Adjust = std::function<void(service::ShareService::Options&)>;
  /// `adjust` changes the service's options before it starts.
  explicit ServiceTest(const Adjust& adjust = {}) : running_(options(adjust)) {}
  void SetUp() override { ASSERT_GT(port_, 0); }

  httplib::Result get(const std::string& path, const httplib::Headers& headers = {}) const {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(60);
    return client.Get(path, headers);
  }
  std::size_t blobCount() const { return testing::blobCount(data_.path()); }
  /// Runs `sql` on the service's records, as an operator would.
  void executeSql(const std::string& sql) const {
    const auto records = service::sql::Database::open(
        database_.empty() ? (data_ / "service.db").string() : database_, 1);
    service::sql::Lease(*records)->execute(sql);
  }

  const std::int64_t now_ = systemNow();
  std::atomic<std::int64_t> clock_ = now_;
  TemporaryDirectory data_;
  std::string database_;  ///< the service's records: "" for SQLite in `data_`
  RunningService running_;
  service::ShareService& service_ = running_.service;
  const int port_ = running_.port;

 private:
  service::ShareService::Options options(const Adjust& adjust) {
    auto options = serviceOptions(data_.path(), [this] { return clock_.load(); });
    if (adjust) adjust(options);
    database_ = options.database;
    return options;
  }
};

/// A bare client connection, so that a test sends exactly what a misbehaving client sends.
class RawClient {
 public:
  /// Connects to the service on loopback from `from` (any 127.0.0.0/8 address is this host).
  RawClient(int port, const char* from = "127.0.0.1") : socket_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in local{AF_INET, 0, {}, {}};
    sockaddr_in remote{AF_INET, htons(static_cast<std::uint16_t>(port)), {}, {}};
    inet_pton(AF_INET, from, &local.sin_addr);
    inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
    if (socket_ >= 0 && ::bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0) {
      ::connect(socket_, reinterpret_cast<sockaddr*>(&remote), sizeof remote);
    }
  }
  ~RawClient() { ::close(socket_); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  /// False once the service stopped taking the bytes (it closed the connection).
  bool send(std::string_view bytes) {
    return ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }
  /// What the service sends until it closes the connection, or until it has been quiet for
  /// `patience`.
  std::string receive(std::chrono::milliseconds patience) {
    std::string received;
    char chunk[65536];
    pollfd watched{socket_, POLLIN, 0};
    while (::poll(&watched, 1, static_cast<int>(patience.count())) > 0) {
      const auto count = ::recv(socket_, chunk, sizeof chunk, 0);
      if (count <= 0) {
        closed_ = true;
        break;
      }
      received.append(chunk, static_cast<std::size_t>(count));
    }
    return received;
  }
  /// Whether the service has closed the connection (waiting at most `patience` for it).
  bool closed(std::chrono::milliseconds patience = std::chrono::milliseconds(0)) {
    receive(patience);
    return closed_;
  }

 private:
  int socket_;
  bool closed_ = false;
};

}  // namespace lumo::testing
