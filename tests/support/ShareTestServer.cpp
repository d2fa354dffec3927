#include "ShareTestServer.hpp"

#include <httplib.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "FileDigest.hpp"
#include "ShareHTTPResponse.hpp"

namespace lumo::testing {
namespace {

using namespace std::chrono_literals;

/// Carries a multipart request's content type past httplib, which would otherwise parse the
/// body into parts and never show the raw bytes.
constexpr const char* hiddenContentType = "X-Lumo-Test-Hidden-Content-Type";

/// Starts `server` as HTTPS with a self-signed P-256 certificate for 127.0.0.1, valid for a day,
/// made by the openssl tool; answers the certificate in PEM.
std::string startSelfSignedTLS(std::unique_ptr<httplib::Server>& server) {
  namespace fs = std::filesystem;
  auto folderName = (fs::temp_directory_path() / "lumo-test-server-XXXXXX").string();
  if (::mkdtemp(folderName.data()) == nullptr) throw std::runtime_error("no temporary folder");
  const fs::path folder = folderName;
  const auto command =
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes "
      "-days 1 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout '" +
      (folder / "key.pem").string() + "' -out '" + (folder / "cert.pem").string() + "' 2>/dev/null";
  const bool made = std::system(command.c_str()) == 0;
  if (made)
    server = std::make_unique<httplib::SSLServer>((folder / "cert.pem").c_str(),
                                                  (folder / "key.pem").c_str());
  std::ifstream pem(folder / "cert.pem");
  const std::string certificate((std::istreambuf_iterator<char>(pem)), {});
  fs::remove_all(folder);
  if (!made) throw std::runtime_error("cannot make a test certificate");
  return certificate;
}

/// Streams a body through SHA-256 while keeping a prefix of it.
class BodyRecorder {
 public:
  BodyRecorder(RecordedRequest& record, std::size_t limit, bool digests)
      : record_(record), limit_(limit) {
    if (digests) digest_.emplace();
  }
  void append(const char* data, std::size_t size) {
    if (digest_) digest_->update(data, size);
    record_.bodySize += size;
    const auto kept = std::min(size, limit_ - std::min(limit_, record_.body.size()));
    record_.body.append(data, kept);
  }
  void finish() {
    if (digest_) record_.bodySHA256 = digest_->hex();
  }

 private:
  RecordedRequest& record_;
  std::size_t limit_;
  std::optional<FileDigest::Sha256> digest_;
};

RecordedRequest recordOf(const httplib::Request& request) {
  RecordedRequest record;
  record.method = request.method;
  record.target = request.target;
  record.remotePort = request.remote_port;
  for (const auto& [name, value] : request.headers) {
    // httplib adds these pseudo headers to every request; they were never sent.
    if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
        name == "LOCAL_PORT")
      continue;
    record.headers.emplace_back(name == hiddenContentType ? "Content-Type" : name, value);
  }
  return record;
}

}  // namespace

std::optional<std::string> RecordedRequest::header(std::string_view name) const {
  return headerValue(headers, name);
}

ScriptedReply ScriptedReply::json(int status, std::string body, HeaderFields headers) {
  ScriptedReply reply;
  reply.status = status;
  reply.body = std::move(body);
  reply.headers = std::move(headers);
  return reply;
}

ShareTestServer::ShareTestServer(Security security) {
  if (security == Security::selfSignedTLS) {
    certificatePEM_ = startSelfSignedTLS(server_);
    scheme_ = "https";
  } else {
    server_ = std::make_unique<httplib::Server>();
    scheme_ = "http";
  }
  if (!server_->is_valid()) throw std::runtime_error("the test server cannot start");

  server_->set_pre_routing_handler([](const httplib::Request& request, httplib::Response&) {
    auto& headers = const_cast<httplib::Request&>(request).headers;  // httplib's own object
    if (const auto found = headers.find("Content-Type");
        found != headers.end() && found->second.starts_with("multipart/form-data")) {
      headers.emplace(hiddenContentType, found->second);
      headers.erase(found);
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  const auto plain = [this](const httplib::Request& request, httplib::Response& response) {
    handle(request, response, nullptr);
  };
  const auto withBody = [this](const httplib::Request& request, httplib::Response& response,
                               const httplib::ContentReader& reader) {
    handle(request, response, &reader);
  };
  const std::string everyPath = ".*";
  server_->Get(everyPath, plain);
  server_->Post(everyPath, withBody);
  server_->Put(everyPath, withBody);
  server_->Delete(everyPath, withBody);

  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("the test server cannot bind a port");
  listener_ = std::thread([this] {
    server_->listen_after_bind();
    listenerEnded_ = true;
  });
  // httplib ignores a stop() that comes before its accept loop runs, which would leave the
  // destructor waiting for ever; so the server counts as started only once the loop runs.
  while (!server_->is_running() && !listenerEnded_) std::this_thread::sleep_for(1ms);
  if (!server_->is_running()) {
    listener_.join();
    throw std::runtime_error("the test server cannot listen");
  }
}

ShareTestServer::~ShareTestServer() {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  stopping_.notify_all();
  server_->stop();
  listener_.join();
}

std::string ShareTestServer::origin() const {
  return scheme_ + "://127.0.0.1:" + std::to_string(port_);
}

Url ShareTestServer::apiBase() const {
  return *Url::parse(origin() + "/api/v1");
}

void ShareTestServer::enqueue(ScriptedReply reply) {
  std::lock_guard lock(mutex_);
  script_.push_back(std::move(reply));
}

void ShareTestServer::setFallback(ScriptedReply reply) {
  std::lock_guard lock(mutex_);
  fallback_ = std::move(reply);
}

void ShareTestServer::setBodyRecording(std::size_t limit, bool digests) {
  std::lock_guard lock(mutex_);
  bodyRecordLimit_ = limit;
  digestsBodies_ = digests;
}

std::vector<RecordedRequest> ShareTestServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::size_t ShareTestServer::requestCount() const {
  std::lock_guard lock(mutex_);
  return requests_.size();
}

ScriptedReply ShareTestServer::nextReply() {
  std::lock_guard lock(mutex_);
  if (script_.empty()) return fallback_;
  auto reply = std::move(script_.front());
  script_.pop_front();
  return reply;
}

bool ShareTestServer::waitOrStop(std::optional<std::chrono::milliseconds> duration) {
  std::unique_lock lock(mutex_);
  const auto stopped = [this] { return stopped_; };
  if (duration) return stopping_.wait_for(lock, *duration, stopped);
  stopping_.wait(lock, stopped);
  return true;
}

void ShareTestServer::handle(const httplib::Request& request, httplib::Response& response,
                             const httplib::ContentReader* reader) {
  auto record = recordOf(request);
  std::unique_lock lock(mutex_);
  BodyRecorder recorder(record, bodyRecordLimit_, digestsBodies_);
  lock.unlock();
  if (reader != nullptr) {
    (*reader)([&recorder](const char* data, std::size_t size) {
      recorder.append(data, size);
      return true;
    });
  }
  recorder.finish();
  lock.lock();
  requests_.push_back(std::move(record));
  lock.unlock();

  const auto reply = nextReply();
  if (reply.ending == ScriptedReply::Ending::neverAnswer) {
    waitOrStop(std::nullopt);
    return;
  }
  response.status = reply.status;
  for (const auto& [name, value] : reply.headers) response.set_header(name, value);
  if (reply.ending == ScriptedReply::Ending::trickle) {
    // Every byte is progress, so only a bound on the whole transfer ends it early.
    const auto oneByte = [this, body = reply.body, interval = reply.trickleInterval](
                             std::size_t offset, std::size_t, httplib::DataSink& sink) {
      return !waitOrStop(interval) && sink.write(body.data() + offset, 1);
    };
    response.set_content_provider(reply.body.size(), reply.contentType, oneByte);
    return;
  }
  if (reply.ending == ScriptedReply::Ending::dropMidBody) {
    response.set_content_provider(
        reply.body.size(), reply.contentType,
        [body = reply.body](std::size_t, std::size_t, httplib::DataSink& sink) {
          sink.write(body.data(), body.size() / 2);
          return false;  // httplib closes the connection with the body unfinished
        });
    return;
  }
  response.set_content(reply.body, reply.contentType);
}

}  // namespace lumo::testing
