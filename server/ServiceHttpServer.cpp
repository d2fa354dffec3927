#include "ServiceHttpServer.hpp"

#include <fmt/format.h>
#include <netdb.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <stdexcept>

#include "RateLimiter.hpp"
#include "ServiceConnection.hpp"

namespace lumo::service {
namespace {

using Clock = std::chrono::steady_clock;
using Progress = ServiceConnection::Progress;

/// Where the request head in `bytes` ends (past its empty line), when it is all there. The
/// head ends where httplib stops reading it: at the first empty line that ends in CR LF (httplib
/// passes over a line that ends in a bare LF, an empty one too).
std::optional<std::size_t> headEnd(std::string_view bytes) {
  const auto end = bytes.find("\n\r\n");
  if (end == std::string_view::npos) return std::nullopt;
  return end + 3;
}

/// Refuses a head that is too large before any of it is handled; the connection is closed.
/// Answers a head before any of it is handled: `status` is a whole status line's code and
/// reason. The connection closes after it.
void refuseHead(ServiceConnection& connection, std::string_view status) {
  const auto answer =
      fmt::format("HTTP/1.1 {}\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", status);
  std::size_t sent = 0;
  connection.send(answer.data(), answer.size(), sent);  // best effort: the socket never waits
}

constexpr std::string_view tooLarge = "431 Request Header Fields Too Large";

/// Whether every header line of `head` (a whole head) is one httplib reads as it is meant:
/// ended by CR LF, not folded onto the line before, a name of token characters right before
/// its colon, no NUL or bare CR. httplib passes over a line it cannot read, so a length hidden
/// in such a line would leave the body to be read as the next request.
bool headerLinesWellFormed(std::string_view head) {
  static constexpr std::string_view nameCharacters =
      "!#$%&'*+-.^_`|~0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  auto line = head.substr(head.find('\n') + 1);
  while (true) {
    const auto end = line.find('\n');
    if (end == 0 || end == std::string_view::npos || line[end - 1] != '\r') return false;
    const auto text = line.substr(0, end - 1);
    if (text.empty()) return true;  // the empty line that ends the head
    const auto colon = text.find(':');
    if (colon == 0 || colon == std::string_view::npos ||
        text.substr(0, colon).find_first_not_of(nameCharacters) != std::string_view::npos ||
        text.find_first_of(std::string_view("\r\0", 2)) != std::string_view::npos) {
      return false;
    }
    line = line.substr(end + 1);
  }
}

SSL_CTX* tlsContext(const std::filesystem::path& certificate, const std::filesystem::path& key) {
  if (certificate.empty()) return nullptr;
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  if (context && SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) == 1 &&
      SSL_CTX_use_certificate_chain_file(context, certificate.c_str()) == 1 &&
      SSL_CTX_use_PrivateKey_file(context, key.c_str(), SSL_FILETYPE_PEM) == 1 &&
      SSL_CTX_check_private_key(context) == 1) {
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    return context;
  }
  ERR_clear_error();
  SSL_CTX_free(context);
  throw std::runtime_error("cannot use the certificate " + certificate.string() + " with the key " +
                           key.string());
}

/// Waits until `socket` is ready for `events`, at most `limit`, and no longer once `stopping`.
bool awaitSocket(int socket, short events, Clock::duration limit,
                 const std::atomic<bool>& stopping) {
  // In slices, so that a stopping server cuts off a body that is still arriving.
  constexpr auto slice = std::chrono::milliseconds(100);
  const auto until = Clock::now() + limit;
  for (auto left = limit; left > Clock::duration::zero() && !stopping;
       left = until - Clock::now()) {
    pollfd watched{socket, events, 0};
    const auto wait =
        std::chrono::ceil<std::chrono::milliseconds>(std::min<Clock::duration>(left, slice));
    const int result = ::poll(&watched, 1, static_cast<int>(wait.count()));
    if (result > 0) return true;
    if (result < 0 && errno != EINTR) return false;
  }
  return false;
}

/// One request's view of its connection for httplib: what the event loop read of the head
/// first, then the socket, waiting as the server's time-outs allow. A body must keep up with
/// the server's slowest accepted rate.
class ConnectionStream final : public httplib::Stream {
 public:
  ConnectionStream(ServiceConnection& connection, const ConnectionLimits& limits,
                   Clock::duration readTimeout, Clock::duration writeTimeout,
                   const std::atomic<bool>& stopping)
      : connection_(connection),
        limits_(limits),
        stopping_(stopping),
        readTimeout_(readTimeout),
        writeTimeout_(writeTimeout),
        started_(Clock::now()) {}

  bool is_readable() const override {
    return connection_.hasBuffered() ||
           awaitSocket(connection_.socket(), POLLIN, std::min(readTimeout_, bodyTimeLeft()),
                       stopping_);
  }
  bool is_writable() const override {
    return awaitSocket(connection_.socket(), POLLOUT, writeTimeout_, stopping_);
  }

  /// Reads all `size` bytes unless the connection ends or fails first. httplib never asks for
  /// more than the request holds (a body's length, a chunk, a byte of a line), and its multipart
  /// parser fails on a first piece shorter than the boundary line.
  ssize_t read(char* data, std::size_t size) override {
    std::size_t filled = 0;
    while (!failed_ && filled < size) {
      std::size_t received = 0;
      const auto progress = connection_.receive(data + filled, size - filled, received);
      filled += received;
      consumed_ += received;
      if (progress == Progress::ended) break;
      if (progress != Progress::moved) {
        failed_ = !await(progress, std::min(readTimeout_, bodyTimeLeft()));
      }
    }
    return filled > 0 || !failed_ ? static_cast<ssize_t>(filled) : -1;
  }

  ssize_t write(const char* data, std::size_t size) override {
    std::size_t written = 0;
    while (!failed_ && written < size) {
      std::size_t sent = 0;
      const auto progress = connection_.send(data + written, size - written, sent);
      written += sent;
      if (progress == Progress::ended) failed_ = true;
      if (progress == Progress::wantRead || progress == Progress::wantWrite) {
        failed_ = !await(progress, writeTimeout_);
      }
    }
    return failed_ ? -1 : static_cast<ssize_t>(written);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = connection_.remoteAddress();
    port = connection_.remotePort();
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip = connection_.localAddress();
    port = connection_.localPort();
  }
  socket_t socket() const override { return connection_.socket(); }

  /// Whether every read and write succeeded: the connection may carry another request.
  bool intact() const { return !failed_; }
  /// Bytes of the connection the request has read, its head included.
  std::size_t consumed() const { return consumed_; }

 private:
  bool await(Progress progress, Clock::duration limit) const {
    return awaitSocket(connection_.socket(), progress == Progress::wantWrite ? POLLOUT : POLLIN,
                       limit, stopping_);
  }
  Clock::duration bodyTimeLeft() const {
    const auto allowed = limits_.bodyGrace +
                         std::chrono::milliseconds(consumed_ * 1000 / limits_.bodyBytesPerSecond);
    return started_ + allowed - Clock::now();
  }

  ServiceConnection& connection_;
  const ConnectionLimits& limits_;
  const std::atomic<bool>& stopping_;
  Clock::duration readTimeout_;
  Clock::duration writeTimeout_;
  Clock::time_point started_;
  std::size_t consumed_ = 0;
  bool failed_ = false;
};

/// What a worker learns of the request it handles when httplib logs its response.
struct Exchange {
  bool closeAsked = false;       ///< by the request or the response
  std::uint64_t bodyLength = 0;  ///< the request's Content-Length
  bool chunked = false;          ///< the request's body has no length
  int status = 0;                ///< the response's
};
thread_local Exchange* currentExchange = nullptr;

}  // namespace

ServiceHttpServer::ServiceHttpServer(ConnectionLimits limits,
                                     const std::filesystem::path& certificate,
                                     const std::filesystem::path& key)
    : limits_(limits), tls_(tlsContext(certificate, key)) {
  epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
  wakeup_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (epoll_ < 0 || wakeup_ < 0) throw std::runtime_error("cannot create the server's event loop");
  // What the "Keep-Alive" header of each response tells the client.
  keep_alive_max_count_ = limits_.requestsPerConnection;
  keep_alive_timeout_sec_ =
      std::chrono::duration_cast<std::chrono::seconds>(limits_.keepAliveIdle).count();
  epoll_event event{EPOLLIN, {.fd = wakeup_}};
  ::epoll_ctl(epoll_, EPOLL_CTL_ADD, wakeup_, &event);
  httplib::Server::set_logger(
      [this](const httplib::Request& request, const httplib::Response& response) {
        if (auto* exchange = currentExchange) {
          exchange->closeAsked = response.get_header_value("Connection") == "close" ||
                                 request.get_header_value("Connection") == "close";
          exchange->bodyLength = request.get_header_value<std::uint64_t>("Content-Length");
          exchange->chunked = request.has_header("Transfer-Encoding");
          exchange->status = response.status;
        }
        if (logger_) logger_(request, response);
      });
  httplib::Server::set_pre_routing_handler(
      [this](const httplib::Request& request, httplib::Response& response) {
        if (preRouting_ && preRouting_(request, response) == HandlerResponse::Handled) {
          return HandlerResponse::Handled;
        }
        // A request with neither length nor transfer coding has no body, but httplib would read one
        // until the client closes. The request is the server's own object; handlers see it const.
        if (!request.has_header("Content-Length") && !request.has_header("Transfer-Encoding")) {
          const_cast<httplib::Request&>(request).set_header("Content-Length", "0");
        }
        return HandlerResponse::Unhandled;
      });
}

ServiceHttpServer::~ServiceHttpServer() {
  stop();
  for (auto* queue : {&queued_, &returned_, &finished_}) queue->clear();
  waiting_.clear();
  svr_sock_ = INVALID_SOCKET;
  if (listener_ >= 0) ::close(listener_);
  ::close(wakeup_);
  ::close(epoll_);
  SSL_CTX_free(tls_);
}

ServiceHttpServer& ServiceHttpServer::set_pre_routing_handler(HandlerWithResponse handler) {
  preRouting_ = std::move(handler);
  return *this;
}

ServiceHttpServer& ServiceHttpServer::set_logger(httplib::Logger logger) {
  logger_ = std::move(logger);
  return *this;
}

int ServiceHttpServer::bindTo(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return -1;
  const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owned(found, freeaddrinfo);
  for (auto* address = found; address && listener_ < 0; address = address->ai_next) {
    const int socket =
        ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    // SO_REUSEADDR lets a restarted service bind past old connections in TIME_WAIT; unlike
    // SO_REUSEPORT it never lets a second listener share the port.
    const int on = 1;
    if (socket >= 0 && ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
        ::bind(socket, address->ai_addr, address->ai_addrlen) == 0 &&
        ::listen(socket, SOMAXCONN) == 0) {
      listener_ = socket;
    } else if (socket >= 0) {
      ::close(socket);
    }
  }
  if (listener_ < 0) return -1;
  // httplib streams a response body only while its server socket is set: it stops streaming
  // when a server stops.
  svr_sock_ = listener_;
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&bound), &length);
  epoll_event event{EPOLLIN, {.fd = listener_}};
  ::epoll_ctl(epoll_, EPOLL_CTL_ADD, listener_, &event);
  return ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(bound).sin6_port
                                           : reinterpret_cast<sockaddr_in&>(bound).sin_port);
}

void ServiceHttpServer::stop() {
  stopping_ = true;
  wake();
}

void ServiceHttpServer::wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto written = ::write(wakeup_, &one, sizeof one);
}

void ServiceHttpServer::serve() {
  if (listener_ < 0) return;
  for (std::size_t index = 0; index < limits_.workers; ++index) {
    workers_.emplace_back([this] { work(); });
  }
  epoll_event events[256];
  while (!stopping_) {
    const int count = ::epoll_wait(epoll_, events, 256, 200);
    for (int index = 0; index < count && !stopping_; ++index) {
      const int socket = events[index].data.fd;
      if (socket == listener_) {
        acceptAll();
      } else if (socket == wakeup_) {
        std::uint64_t value = 0;
        [[maybe_unused]] const auto read = ::read(wakeup_, &value, sizeof value);
      } else if (auto found = waiting_.find(socket); found != waiting_.end()) {
        auto connection = std::move(found->second);
        waiting_.erase(found);
        readHead(std::move(connection));
      }
    }
    takeBackReturned();
    closeExpired();
  }
  svr_sock_ = INVALID_SOCKET;  // bodies being streamed end here
  {
    const std::lock_guard lock(mutex_);
    workersStop_ = true;
  }
  ready_.notify_all();
  for (auto& worker : workers_) worker.join();
  workers_.clear();
  takeBackReturned();
  while (!waiting_.empty()) closeConnection(std::move(waiting_.extract(waiting_.begin()).mapped()));
}

void ServiceHttpServer::acceptAll() {
  if (Clock::now() < acceptPausedUntil_) return;
  while (true) {
    const int socket = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (socket < 0) {
      // Out of descriptors: let the backlog wait a moment rather than spin on it.
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        acceptPausedUntil_ = Clock::now() + std::chrono::milliseconds(100);
      }
      return;
    }
    auto connection = std::make_unique<ServiceConnection>(socket, tls_);
    connection->proxy =
        limits_.proxies.count(exactAddress(connection->remoteAddress()).value_or("")) != 0;
    auto& fromAddress = perAddress_[connection->addressKey()];
    if ((fromAddress >= limits_.perAddress && !connection->proxy) || open_ >= limits_.total) {
      if (fromAddress == 0) perAddress_.erase(connection->addressKey());
      continue;  // closed at once: the client may try again when it holds fewer
    }
    ++fromAddress;
    ++open_;
    connection->deadline = Clock::now() + limits_.headDeadline;
    readHead(std::move(connection));
  }
}

void ServiceHttpServer::readHead(ConnectionPtr connection) {
  if (connection->lingering) return drain(std::move(connection));
  auto progress = connection->handshake();
  if (progress == Progress::moved) progress = connection->fill(limits_.headBytes + 1);
  if (connection->idle && !connection->pending().empty()) {
    connection->idle = false;
    connection->deadline = Clock::now() + limits_.headDeadline;
  }
  const auto head = connection->pending();
  if (const auto end = headEnd(head)) {
    const auto lines =
        static_cast<std::size_t>(std::count(head.begin(), head.begin() + *end, '\n'));
    if (lines > limits_.headerLines + 2 || *end > limits_.headBytes) {
      refuseHead(*connection, tooLarge);
      return linger(std::move(connection));
    }
    if (!headerLinesWellFormed(head.substr(0, *end))) {
      refuseHead(*connection, "400 Bad Request");
      return linger(std::move(connection));
    }
    connection->headBytes = *end;
    return dispatch(std::move(connection));
  }
  if (head.size() > limits_.headBytes) {
    refuseHead(*connection, tooLarge);
    return linger(std::move(connection));
  }
  if (progress == Progress::ended) return closeConnection(std::move(connection));
  // Only a TLS handshake waits to write.
  watch(std::move(connection), progress == Progress::wantWrite);
}

void ServiceHttpServer::watch(ConnectionPtr connection, bool writable) {
  const int socket = connection->socket();
  epoll_event event{EPOLLIN | (writable ? EPOLLOUT : 0u), {.fd = socket}};
  ::epoll_ctl(epoll_, connection->watched ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, socket, &event);
  connection->watched = true;
  waiting_[socket] = std::move(connection);
}

void ServiceHttpServer::closeConnection(ConnectionPtr connection) {
  const auto found = perAddress_.find(connection->addressKey());
  if (found != perAddress_.end() && --found->second == 0) perAddress_.erase(found);
  --open_;
}

void ServiceHttpServer::linger(ConnectionPtr connection) {
  connection->stopSending();
  connection->lingering = true;
  connection->deadline = Clock::now() + limits_.lingerTime;
  drain(std::move(connection));
}

void ServiceHttpServer::drain(ConnectionPtr connection) {
  const auto progress = connection->discard(connection->lingered, limits_.lingerBytes);
  if (progress != Progress::wantRead) return closeConnection(std::move(connection));
  watch(std::move(connection), false);
}

void ServiceHttpServer::closeExpired() {
  // A look at every waiting connection ten times a second is precise enough for deadlines of
  // seconds, and keeps a busy loop from scanning them at every event.
  const auto now = Clock::now();
  if (now < nextExpiryCheck_) return;
  nextExpiryCheck_ = now + std::chrono::milliseconds(100);
  for (auto entry = waiting_.begin(); entry != waiting_.end();) {
    if (entry->second->deadline > now) {
      ++entry;
      continue;
    }
    auto connection = std::move(entry->second);
    entry = waiting_.erase(entry);
    closeConnection(std::move(connection));
  }
}

void ServiceHttpServer::takeBackReturned() {
  std::deque<ConnectionPtr> returned;
  std::deque<ConnectionPtr> finished;
  {
    const std::lock_guard lock(mutex_);
    returned.swap(returned_);
    finished.swap(finished_);
  }
  for (auto& connection : finished) linger(std::move(connection));
  for (auto& connection : returned) {
    connection->idle = connection->pending().empty();
    connection->deadline =
        Clock::now() + (connection->idle ? limits_.keepAliveIdle : limits_.headDeadline);
    readHead(std::move(connection));
  }
}

void ServiceHttpServer::dispatch(ConnectionPtr connection) {
  if (connection->watched) {
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, connection->socket(), nullptr);
    connection->watched = false;
  }
  bool needsWorker = false;
  {
    const std::lock_guard lock(mutex_);
    queued_.push_back(std::move(connection));
    // A worker woken for a request still counts as idle until it takes one: compare the
    // requests that may start now with the idle workers, not just look for an idle one.
    needsWorker = runnableRequests() > idleWorkers_ && workers_.size() < limits_.maxWorkers;
  }
  // Only the loop starts workers, and only `serve` (after the loop) joins them.
  if (needsWorker) workers_.emplace_back([this] { work(); });
  ready_.notify_one();
}

std::size_t ServiceHttpServer::runnableRequests() const {
  std::map<std::string_view, std::size_t> turns;  // per address: handled and counted here
  std::size_t runnable = 0;
  for (const auto& connection : queued_) {
    auto& taken = turns[connection->addressKey()];
    if (taken == 0) {
      const auto busy = handling_.find(connection->addressKey());
      taken = busy == handling_.end() ? 0 : busy->second;
    }
    if (taken < limits_.workersPerAddress || connection->proxy) {
      ++taken;
      ++runnable;
    }
  }
  return runnable;
}

ServiceHttpServer::ConnectionPtr ServiceHttpServer::nextTurn() {
  const auto turn = std::find_if(queued_.begin(), queued_.end(), [this](const auto& connection) {
    const auto busy = handling_.find(connection->addressKey());
    return busy == handling_.end() || busy->second < limits_.workersPerAddress || connection->proxy;
  });
  if (turn == queued_.end()) return nullptr;
  auto connection = std::move(*turn);
  queued_.erase(turn);
  ++handling_[connection->addressKey()];
  return connection;
}

void ServiceHttpServer::work() {
  while (true) {
    ConnectionPtr connection;
    {
      std::unique_lock lock(mutex_);
      ++idleWorkers_;
      ready_.wait(lock, [&] { return workersStop_ || (connection = nextTurn()) != nullptr; });
      --idleWorkers_;
      if (workersStop_) {
        // Requests not yet started are not answered: their connections just close.
        if (connection) queued_.push_back(std::move(connection));
        for (auto& left : queued_) finished_.push_back(std::move(left));
        queued_.clear();
        return;
      }
    }
    const auto address = connection->addressKey();
    handle(std::move(connection));
    bool waiting = false;
    {
      const std::lock_guard lock(mutex_);
      if (--handling_[address] == 0) handling_.erase(address);
      // A request of this address may have waited for its turn. This worker takes one itself
      // when it loops; one more is woken only when more may start, not every idle worker.
      waiting = runnableRequests() > 1;
    }
    if (waiting) ready_.notify_one();
  }
}

void ServiceHttpServer::handle(ConnectionPtr connection) {
  using std::chrono::microseconds;
  using std::chrono::seconds;
  ConnectionStream stream(
      *connection, limits_, seconds(read_timeout_sec_) + microseconds(read_timeout_usec_),
      seconds(write_timeout_sec_) + microseconds(write_timeout_usec_), stopping_);
  Exchange exchange;
  currentExchange = &exchange;
  bool connectionClosed = false;
  const bool last = ++connection->requests >= limits_.requestsPerConnection || stopping_;
  const bool answered = process_request(stream, last, connectionClosed, nullptr);
  currentExchange = nullptr;
  // What httplib did not read of the head, or a body the handler left unread (a refusal),
  // would be taken for the next request; after a request it could not parse (400), the rest
  // of the connection is no request either. Such a connection ends here.
  const bool wholeRequestRead = !exchange.chunked && exchange.status != 400 &&
                                stream.consumed() >= connection->headBytes &&
                                stream.consumed() - connection->headBytes >= exchange.bodyLength;
  const bool keep = answered && stream.intact() && wholeRequestRead && !connectionClosed &&
                    !exchange.closeAsked && !last;
  {
    const std::lock_guard lock(mutex_);
    (keep ? returned_ : finished_).push_back(std::move(connection));
  }
  wake();
}

}  // namespace lumo::service
