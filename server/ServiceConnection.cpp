#include "ServiceConnection.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "RateLimiter.hpp"

namespace lumo::service {
namespace {

/// The numeric address and port of a socket address.
std::pair<std::string, int> numeric(const sockaddr_storage& address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    return {text, ntohs(v4.sin_port)};
  }
  if (address.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    return {text, ntohs(v6.sin6_port)};
  }
  return {"", 0};
}

template <class Query>
std::pair<std::string, int> endpoint(int socket, Query query) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (query(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {"", 0};
  return numeric(address);
}

}  // namespace

ServiceConnection::ServiceConnection(int socket, SSL_CTX* tls) : socket_(socket) {
  std::tie(remoteAddress_, remotePort_) = endpoint(socket, getpeername);
  std::tie(localAddress_, localPort_) = endpoint(socket, getsockname);
  addressKey_ = clientOfAddress(remoteAddress_);
  if (tls) {
    ssl_ = SSL_new(tls);
    if (ssl_) {
      SSL_set_fd(ssl_, socket);
      SSL_set_accept_state(ssl_);
    }
  }
  handshaken_ = tls == nullptr;
}

ServiceConnection::~ServiceConnection() {
  if (ssl_) {
    if (handshaken_) SSL_shutdown(ssl_);  // one attempt: the socket does not block
    SSL_free(ssl_);
  }
  ::close(socket_);
}

ServiceConnection::Progress ServiceConnection::tlsProgress(int result) {
  switch (SSL_get_error(ssl_, result)) {
    case SSL_ERROR_WANT_READ:
      return Progress::wantRead;
    case SSL_ERROR_WANT_WRITE:
      return Progress::wantWrite;
    default:
      ERR_clear_error();  // the error queue is the thread's: leave it clean for the next user
      return Progress::ended;
  }
}

ServiceConnection::Progress ServiceConnection::handshake() {
  if (handshaken_) return Progress::moved;
  if (!ssl_) return Progress::ended;
  const int result = SSL_do_handshake(ssl_);
  if (result == 1) {
    handshaken_ = true;
    return Progress::moved;
  }
  return tlsProgress(result);
}

ServiceConnection::Progress ServiceConnection::readRaw(char* data, std::size_t size,
                                                       std::size_t& received) {
  received = 0;
  if (ssl_) {
    const int result = SSL_read_ex(ssl_, data, size, &received);
    return result == 1 ? Progress::moved : tlsProgress(result);
  }
  const auto count = ::recv(socket_, data, size, 0);
  if (count > 0) {
    received = static_cast<std::size_t>(count);
    return Progress::moved;
  }
  if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
    return Progress::wantRead;
  }
  return Progress::ended;
}

ServiceConnection::Progress ServiceConnection::fill(std::size_t limit) {
  pending_.erase(0, used_);
  used_ = 0;
  char chunk[16384];
  while (pending_.size() < limit) {
    std::size_t received = 0;
    const auto progress = readRaw(chunk, std::min(sizeof chunk, limit - pending_.size()), received);
    if (progress != Progress::moved) return progress;
    pending_.append(chunk, received);
  }
  return Progress::moved;
}

ServiceConnection::Progress ServiceConnection::receive(char* data, std::size_t size,
                                                       std::size_t& received) {
  const auto buffered = pending();
  if (buffered.empty()) return readRaw(data, size, received);
  received = std::min(size, buffered.size());
  std::memcpy(data, buffered.data(), received);
  used_ += received;
  return Progress::moved;
}

ServiceConnection::Progress ServiceConnection::send(const char* data, std::size_t size,
                                                    std::size_t& sent) {
  sent = 0;
  if (ssl_) {
    const int result = SSL_write_ex(ssl_, data, size, &sent);
    return result == 1 ? Progress::moved : tlsProgress(result);
  }
  const auto count = ::send(socket_, data, size, MSG_NOSIGNAL);
  if (count >= 0) {
    sent = static_cast<std::size_t>(count);
    return Progress::moved;
  }
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return Progress::wantWrite;
  return Progress::ended;
}

void ServiceConnection::stopSending() {
  if (ssl_ && handshaken_) SSL_shutdown(ssl_);
  handshaken_ = false;  // the session has ended: the destructor sends no second notice
  ::shutdown(socket_, SHUT_WR);
}

ServiceConnection::Progress ServiceConnection::discard(std::size_t& dropped, std::size_t limit) {
  // The raw socket: what a client sends after the end is not worth decrypting.
  char scratch[16384];
  // At most this much per turn of the event loop, so that a client pushing fast cannot keep the
  // loop from every other connection.
  constexpr std::size_t turnBytes = 256 * 1024;
  const auto turnEnd = dropped + turnBytes;
  while (dropped < limit) {
    if (dropped >= turnEnd) return Progress::wantRead;
    const auto count = ::recv(socket_, scratch, sizeof scratch, 0);
    if (count > 0) {
      dropped += static_cast<std::size_t>(count);
      continue;
    }
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      return Progress::wantRead;
    }
    return Progress::ended;
  }
  return Progress::moved;
}

bool ServiceConnection::hasBuffered() const {
  return !pending().empty() || (ssl_ && SSL_pending(ssl_) > 0);
}

}  // namespace lumo::service
