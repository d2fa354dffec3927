#pragma once
// The reference service for tests: started in-process on an ephemeral loopback port over a data
// folder, stopped with the object.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include "FileDescriptor.hpp"
#include "ShareService.hpp"
#include "SqlDatabase.hpp"

namespace lumo::testing {

inline std::int64_t systemNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

/// A loopback TCP socket bound to a free port and not listening: while it is held, no other
/// process takes the port and connections to it are refused. The port is written to `port`.
inline FileDescriptor boundLoopbackSocket(int& port) {
  FileDescriptor socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("no loopback port");
  port = ntohs(address.sin_port);
  return socket;
}

/// Where a service under test keeps its records: a new database of its own on the PostgreSQL
/// cluster that LUMO_TEST_POSTGRESQL names (see with-postgresql.sh), else "" (SQLite in its data
/// folder).
inline std::string testDatabase() {
  const char* cluster = std::getenv("LUMO_TEST_POSTGRESQL");
  if (!cluster || !*cluster) return {};
  static std::atomic<int> made = 0;
  const auto name = "lumo_" + std::to_string(::getpid()) + "_" + std::to_string(++made);
  const auto admin = service::sql::Database::open(cluster, 1);
  const service::sql::Lease connection(*admin);
  connection->execute("CREATE DATABASE " + name);
  const std::string uri = cluster;
  return "postgresql:///" + name + uri.substr(uri.find('?'));
}

inline service::ShareService::Options serviceOptions(const std::filesystem::path& data,
                                                     std::function<std::int64_t()> clock) {
  service::ShareService::Options options;
  options.dataDirectory = data;
  options.database = testDatabase();
  options.publicBase = "http://127.0.0.1/";
  options.nowSeconds = std::move(clock);
  options.accessLog = false;
  return options;
}

struct RunningService {
  /// Listens on `port`, or on any free port when it is 0.
  explicit RunningService(const service::ShareService::Options& options, int port = 0)
      : service(options) {
    this->port = service.bind("127.0.0.1", port);
    thread = std::thread([this] { service.listen(); });
  }
  ~RunningService() {
    service.stop();
    thread.join();
  }
  std::string apiBase() const { return "http://127.0.0.1:" + std::to_string(port) + "/api/v1"; }

  service::ShareService service;
  int port = 0;
  std::thread thread;
};

}  // namespace lumo::testing
