#pragma once
// One client connection of the service: a non-blocking socket, its TLS session when the
// service speaks HTTPS, and the bytes read from it that no request has used yet.
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

using SSL = struct ssl_st;
using SSL_CTX = struct ssl_ctx_st;

namespace lumo::service {

class ServiceConnection {
 public:
  /// What an operation achieved: bytes moved (or the handshake done), nothing until the socket
  /// is readable or writable, or the end of the connection (closed by the peer, or failed).
  enum class Progress { moved, wantRead, wantWrite, ended };

  /// Takes `socket`; speaks TLS when `tls` is given.
  ServiceConnection(int socket, SSL_CTX* tls);
  ~ServiceConnection();
  ServiceConnection(const ServiceConnection&) = delete;
  ServiceConnection& operator=(const ServiceConnection&) = delete;

  int socket() const { return socket_; }
  const std::string& remoteAddress() const { return remoteAddress_; }
  int remotePort() const { return remotePort_; }
  const std::string& localAddress() const { return localAddress_; }
  int localPort() const { return localPort_; }
  const std::string& addressKey() const { return addressKey_; }

  /// Completes the TLS handshake; `moved` once it is done (at once for plain HTTP).
  Progress handshake();
  /// Reads what the connection has into `pending` until it holds `limit` bytes.
  Progress fill(std::size_t limit);
  /// Reads at most `size` bytes: those in `pending` first.
  Progress receive(char* data, std::size_t size, std::size_t& received);
  Progress send(const char* data, std::size_t size, std::size_t& sent);
  /// Whether bytes are read already that `receive` answers without waiting.
  bool hasBuffered() const;
  /// Sends no more (the TLS session's close notice, then the socket's end of sending), so that
  /// the client reads the last response whole while the server still takes what it sends.
  void stopSending();
  /// Reads and drops what the client sends until `dropped` (the bytes dropped so far) reaches
  /// `limit`; `moved` when it has.
  Progress discard(std::size_t& dropped, std::size_t limit);

  /// Bytes read and not yet used by a request: the start of the next request head.
  std::string_view pending() const { return std::string_view(pending_).substr(used_); }
  /// When the connection is closed unless its head has arrived.
  std::chrono::steady_clock::time_point deadline;
  /// Between two requests with nothing of the next one read yet.
  bool idle = false;
  /// Requests handled on the connection.
  std::size_t requests = 0;
  /// Registered with the server's event loop.
  bool watched = false;
  /// Set by the server: the connection comes from a trusted reverse proxy.
  bool proxy = false;
  /// Length of the request head being handled.
  std::size_t headBytes = 0;
  /// Closing: nothing more is sent, and what arrives is dropped until the client ends.
  bool lingering = false;
  std::size_t lingered = 0;  ///< bytes dropped while lingering

 private:
  Progress readRaw(char* data, std::size_t size, std::size_t& received);
  Progress tlsProgress(int result);

  int socket_;
  std::string pending_;
  std::size_t used_ = 0;  ///< bytes at the start of `pending_` that a request has used
  SSL* ssl_ = nullptr;
  bool handshaken_ = false;
  std::string remoteAddress_;
  int remotePort_ = 0;
  std::string localAddress_;
  int localPort_ = 0;
  std::string addressKey_;
};

}  // namespace lumo::service
