#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "ShareHTTPResponse.hpp"
#include "Url.hpp"

namespace httplib {
class Server;
struct Request;
struct Response;
class ContentReader;
}  // namespace httplib

namespace lumo::testing {

using HeaderFields = HTTPHeaderFields;

/// One request as the server received it.
struct RecordedRequest {
  std::string method;
  std::string target;  ///< the request target exactly as sent: escaped path and query
  HeaderFields headers;
  std::string body;  ///< the first `bodyRecordLimit` bytes of the body
  std::uint64_t bodySize = 0;
  std::string bodySHA256;  ///< lower-case hex digest of the whole body (empty when not digested)
  int remotePort = 0;      ///< tells connections apart: equal ports mean a reused connection

  /// The value of header `name` (ASCII case ignored), if it came.
  std::optional<std::string> header(std::string_view name) const;
};

/// What the server answers to one request.
struct ScriptedReply {
  enum class Ending {
    complete,     ///< the whole reply
    dropMidBody,  ///< headers announce the whole body; half of it is sent, then the
                  ///< connection is closed
    neverAnswer,  ///< the request is read, then nothing is sent until the server stops
    trickle,      ///< headers announce the whole body; it follows one byte per
                  ///< `trickleInterval`, until it is sent or the server stops
  };

  int status = 200;
  HeaderFields headers;
  std::string body = "{}";
  std::string contentType = "application/json";
  Ending ending = Ending::complete;
  std::chrono::milliseconds trickleInterval{100};

  static ScriptedReply json(int status, std::string body, HeaderFields headers = {});
};

/// A programmable HTTP server on 127.0.0.1 for tests and benchmarks. It records every request
/// and answers them in arrival order with the scripted replies (the fallback once the script
/// runs out). Bodies are streamed: only a prefix is kept, with size and digest of the whole,
/// so gigabyte uploads cost no memory. With `Security::selfSignedTLS` it serves HTTPS with a
/// freshly made self-signed certificate for 127.0.0.1, which clients must not trust by default.
class ShareTestServer {
 public:
  enum class Security { plain, selfSignedTLS };

  explicit ShareTestServer(Security security = Security::plain);
  ~ShareTestServer();
  ShareTestServer(const ShareTestServer&) = delete;
  ShareTestServer& operator=(const ShareTestServer&) = delete;

  int port() const { return port_; }
  /// "http://127.0.0.1:<port>" (or https).
  std::string origin() const;
  /// The origin with the API's base path "/api/v1".
  Url apiBase() const;
  /// The certificate in PEM, for clients that are told to trust it (TLS servers only).
  const std::string& certificatePEM() const { return certificatePEM_; }

  void enqueue(ScriptedReply reply);
  void setFallback(ScriptedReply reply);
  /// Keeps the first `limit` bytes of each body, and digests bodies when `digests` (by default);
  /// benchmarks turn it off so that the server's hashing does not set the pace.
  void setBodyRecording(std::size_t limit, bool digests = true);

  std::vector<RecordedRequest> requests() const;
  std::size_t requestCount() const;

 private:
  void handle(const httplib::Request& request, httplib::Response& response,
              const httplib::ContentReader* reader);
  ScriptedReply nextReply();
  /// Waits `duration` (for ever when absent) or until the server stops; true when it stopped.
  bool waitOrStop(std::optional<std::chrono::milliseconds> duration);

  std::unique_ptr<httplib::Server> server_;
  std::string certificatePEM_;
  std::string scheme_;
  int port_ = 0;
  std::atomic<bool> listenerEnded_ = false;
  std::thread listener_;

  mutable std::mutex mutex_;
  std::condition_variable stopping_;
  bool stopped_ = false;
  std::deque<ScriptedReply> script_;
  ScriptedReply fallback_;
  std::size_t bodyRecordLimit_ = 16 * 1024 * 1024;
  bool digestsBodies_ = true;
  std::vector<RecordedRequest> requests_;
};

}  // namespace lumo::testing
