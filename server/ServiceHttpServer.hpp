#pragma once
// The service's HTTP server: cpp-httplib parses requests, routes them and writes responses, while
// the connections are held by one event loop of our own. A connection takes a worker thread only
// once its whole request head has arrived, so clients that send slowly or sit idle between
// requests cost a few bytes of memory, not a thread, and cannot starve the others.
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using SSL_CTX = struct ssl_ctx_st;

namespace lumo::service {

class ServiceConnection;

/// How much a client may hold of the server, and for how long.
struct ConnectionLimits {
  /// Open connections one address may hold (an IPv6 client by its /64); more are closed at once.
  std::size_t perAddress = 256;
  /// Open connections in all.
  std::size_t total = 8192;
  /// A request head (request line and headers) larger than this is refused with 431.
  std::size_t headBytes = 16384;
  /// A request head with more header lines than this is refused with 431.
  std::size_t headerLines = 100;
  /// The whole head must arrive within this time of its first byte (of the connection's
  /// opening, for a new connection); else the connection is closed.
  std::chrono::milliseconds headDeadline{10000};
  /// A connection idle between two requests is closed after this time.
  std::chrono::milliseconds keepAliveIdle{5000};
  /// Requests one connection may make before the server closes it.
  std::size_t requestsPerConnection = 100;
  /// Threads that handle requests whose head has arrived: this many from the start, more
  /// (up to `maxWorkers`) whenever a request arrives while every one is busy, so that clients
  /// that occupy workers with slow bodies from a few addresses do not keep others waiting.
  std::size_t workers = 16;
  std::size_t maxWorkers = 512;
  /// Requests of one address handled at once; its others wait for their turn, so that one
  /// address (with slow bodies, say) never holds every worker.
  std::size_t workersPerAddress = 16;
  /// A body must arrive at least this fast on average (after `bodyGrace`), so that a client
  /// trickling a byte at a time gives its worker back.
  std::size_t bodyBytesPerSecond = 1024;
  std::chrono::milliseconds bodyGrace{10000};
  /// A closing connection takes (and drops) at most this much more of what the client sends, for
  /// at most this long, so that the client reads its answer instead of a reset connection. A
  /// fast uploader refused early (413) has several MiB in flight by the time it reads the
  /// answer: far less than this would reset it and it would see a lost connection instead.
  std::size_t lingerBytes = 64 * 1048576;
  std::chrono::milliseconds lingerTime{2000};
  /// Reverse proxies in front of the service, each one exact address (see exactAddress): they
  /// hold the connections of many clients, so no per-address cap applies to them, and the
  /// service counts each request against the client they name (see ShareService::clientOf).
  std::set<std::string> proxies;
};

/// Serves the handlers registered on it (the `httplib::Server` interface) with its own
/// connection handling. `stop` may be called from a signal handler.
class ServiceHttpServer : public httplib::Server {
 public:
  /// Plain HTTP when `certificate` is empty; else HTTPS with the PEM certificate and key.
  /// Throws std::runtime_error when they cannot be used.
  explicit ServiceHttpServer(ConnectionLimits limits, const std::filesystem::path& certificate = {},
                             const std::filesystem::path& key = {});
  ~ServiceHttpServer() override;
  ServiceHttpServer(const ServiceHttpServer&) = delete;
  ServiceHttpServer& operator=(const ServiceHttpServer&) = delete;

  /// Listens on `host:port` (port 0: any free port) and answers the port; -1 when the address
  /// cannot be had, a port another socket listens on included.
  int bindTo(const std::string& host, int port);
  /// Serves until `stop`: blocks. Requests being handled are finished before it returns.
  void serve();
  /// Async-signal-safe.
  void stop();

  /// Logs as `httplib::Server::set_logger` does; the server needs the logger slot itself.
  ServiceHttpServer& set_logger(httplib::Logger logger);
  /// As `httplib::Server::set_pre_routing_handler`; the server needs that slot itself.
  ServiceHttpServer& set_pre_routing_handler(HandlerWithResponse handler);

 private:
  using ConnectionPtr = std::unique_ptr<ServiceConnection>;

  void acceptAll();
  void readHead(ConnectionPtr connection);
  void watch(ConnectionPtr connection, bool writable);
  void closeConnection(ConnectionPtr connection);
  void linger(ConnectionPtr connection);
  void drain(ConnectionPtr connection);
  void closeExpired();
  void takeBackReturned();
  void dispatch(ConnectionPtr connection);
  void work();
  /// Queued requests that a worker may start now (their address has a turn left).
  std::size_t runnableRequests() const;
  /// The first queued connection whose address may have another worker; null when none.
  ConnectionPtr nextTurn();
  void handle(ConnectionPtr connection);
  void wake();

  ConnectionLimits limits_;
  SSL_CTX* tls_ = nullptr;
  httplib::Logger logger_;
  HandlerWithResponse preRouting_;
  int listener_ = -1;
  int epoll_ = -1;
  int wakeup_ = -1;  ///< an eventfd: `stop` and returning workers wake the loop with it
  std::atomic<bool> stopping_ = false;

  /// Connections waiting for their request head, by socket.
  std::map<int, ConnectionPtr> waiting_;
  /// Open connections per address key (waiting, queued or being handled).
  std::map<std::string, std::size_t> perAddress_;
  std::size_t open_ = 0;
  std::chrono::steady_clock::time_point acceptPausedUntil_;
  std::chrono::steady_clock::time_point nextExpiryCheck_;

  std::mutex mutex_;  ///< guards what workers share with the loop (below)
  std::condition_variable ready_;
  std::deque<ConnectionPtr> queued_;             ///< heads that arrived, for the workers
  std::map<std::string, std::size_t> handling_;  ///< requests being handled, per address key
  std::deque<ConnectionPtr> returned_;           ///< kept alive by the workers, for the loop
  std::deque<ConnectionPtr> finished_;           ///< closed by the workers: the loop forgets them
  bool workersStop_ = false;
  std::size_t idleWorkers_ = 0;
  std::vector<std::thread> workers_;
};

}  // namespace lumo::service
