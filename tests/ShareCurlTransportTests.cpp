#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <future>
#include <set>

#include "LumoShare.hpp"
#include "ServiceFixture.hpp"
#include "ShareTestServer.hpp"
#include "TemporaryDirectory.hpp"
#include "TestCommand.hpp"

namespace lumo {
namespace {

using namespace std::chrono_literals;
using testing::ScriptedReply;
using testing::ShareTestServer;

/// The code of the ShareURLError a call throws; nothing when it returns.
template <class Call>
std::optional<ShareURLError::Code> codeOf(Call&& call) {
  const auto error = testing::thrown<ShareURLError>(call);
  return error ? std::optional(error->code()) : std::nullopt;
}

class ShareCurlTransportTest : public ::testing::Test {
 protected:
  ShareHTTPRequest request(std::string_view path, std::string method = "GET",
                           std::optional<std::string> token = std::nullopt) const {
    return ShareHTTP::makeRequest(ShareHTTP::endpoint(server.apiBase(), path), std::move(method),
                                  token);
  }

  /// The session's configuration: the client's user agent, everything else the default.
  static ShareCurlSession::Configuration identified() {
    ShareCurlSession::Configuration configuration;
    configuration.userAgent = "lumo-share-apple/2.3.4 (56) (linux; test)";
    return configuration;
  }

  ShareTestServer server;
  URLSessionTransport transport{std::make_shared<ShareCurlSession>(identified())};
};

TEST_F(ShareCurlTransportTest, SendsTheRequestAsBuiltAndNeverThroughTheCallersProxy) {
  testing::ScopedEnvironment proxies("no_proxy", "example.invalid");
  for (const auto* name : {"http_proxy", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"})
    proxies.set(name, "http://127.0.0.1:1");
  server.enqueue(ScriptedReply::json(201, R"({"ok":true})", {{"X-Request-Id", "r-7"}}));
  auto built = ShareHTTP::makeRequest(ShareHTTP::endpoint(server.apiBase(), "devices/a b/ack"),
                                      "POST", "tok", std::string("{\"a\":1}"), "application/json",
                                      {{"X-Extra", "e"}});
  const auto reply = transport.data(built);

  EXPECT_EQ(reply.response.status, 201);
  EXPECT_EQ(reply.body, R"({"ok":true})");
  EXPECT_EQ(reply.response.value("x-request-id"), "r-7");
  const auto received = server.requests().at(0);
  EXPECT_EQ(received.target, "/api/v1/devices/a%20b/ack");
  for (const auto& [name, value] : built.headerFields) EXPECT_EQ(received.header(name), value);
  EXPECT_EQ(received.header("User-Agent"), identified().userAgent) << "the session's own";
  EXPECT_EQ(received.header("Expect"), std::nullopt);
  EXPECT_EQ(received.body, "{\"a\":1}");
  built.setValue("probe/1", "User-Agent");  // a request that names its own keeps it
  transport.data(built);
  EXPECT_EQ(server.requests().at(1).header("User-Agent"), "probe/1");
}

TEST_F(ShareCurlTransportTest, MethodsBodiesAndErrorStatusesOfEveryOperation) {
  transport.data(request("devices/..", "DELETE"));
  transport.upload(request("anon/docs", "POST"), std::string_view());
  auto put = request("blob", "PUT");
  put.body = "ignored by uploads";
  transport.upload(put, std::string_view("given\0", 6));

  // An error status is a reply like any other, and the connection is kept for the next request.
  server.enqueue(ScriptedReply::json(503, R"({"error":"BUSY"})"));
  EXPECT_EQ(transport.data(request("health")).response.status, 503);
  EXPECT_EQ(transport.data(request("health")).response.status, 200);

  const auto received = server.requests();
  ASSERT_EQ(received.size(), 5u);
  EXPECT_EQ(received[3].remotePort, received[4].remotePort);
  EXPECT_EQ(received[0].method, "DELETE");
  EXPECT_EQ(received[0].target, "/api/v1/devices/%2E%2E") << "never normalised into /api/v1";
  EXPECT_EQ(received[0].bodySize, 0u);
  EXPECT_EQ(received[1].header("Content-Length"), "0") << "a bodiless POST still ends its body";
  EXPECT_EQ(received[1].header("Content-Type"), std::nullopt) << "curl must not invent a form type";
  EXPECT_EQ(received[2].method, "PUT");
  EXPECT_EQ(received[2].body, std::string("given\0", 6));
}

TEST_F(ShareCurlTransportTest, OneSessionServesManyThreadsAtOnce) {
  constexpr int threads = 6;
  constexpr int requestsEach = 15;
  std::vector<std::future<int>> workers;
  for (int t = 0; t < threads; ++t) {
    workers.push_back(std::async(std::launch::async, [&, t] {
      int ok = 0;
      for (int i = 0; i < requestsEach; ++i) {
        const auto body = "t" + std::to_string(t) + "-" + std::to_string(i);
        const auto reply = transport.upload(request("links", "POST"), std::string_view(body));
        ok += reply.response.status == 200 ? 1 : 0;
      }
      return ok;
    }));
  }
  int succeeded = 0;
  for (auto& worker : workers) succeeded += worker.get();
  EXPECT_EQ(succeeded, threads * requestsEach);
  std::set<std::string> bodies;
  for (const auto& received : server.requests()) bodies.insert(received.body);
  EXPECT_EQ(bodies.size(), static_cast<std::size_t>(threads * requestsEach));
}

TEST_F(ShareCurlTransportTest, BrokenAndSilentServersFailInTimeOrWhenStopped) {
  ScriptedReply dropped = ScriptedReply::json(200, std::string(200000, 'x'));
  dropped.ending = ScriptedReply::Ending::dropMidBody;
  server.enqueue(dropped);
  EXPECT_EQ(codeOf([&] { transport.data(request("me")); }),
            ShareURLError::Code::networkConnectionLost);

  ScriptedReply silent;
  silent.ending = ScriptedReply::Ending::neverAnswer;
  server.enqueue(silent);
  auto impatient = request("me");
  impatient.timeout = 700ms;
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(codeOf([&] { transport.data(impatient); }), ShareURLError::Code::timedOut);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);

  // Nothing listens on a port that was just released.
  int closedPort = 0;
  {
    ShareTestServer gone;
    closedPort = gone.port();
  }
  const auto refused = ShareHTTP::makeRequest(
      *Url::parse("http://127.0.0.1:" + std::to_string(closedPort) + "/api/v1/me"), "GET");
  EXPECT_EQ(codeOf([&] { transport.data(refused); }), ShareURLError::Code::cannotConnectToHost);

  server.setFallback(silent);
  const auto sent = server.requestCount();
  std::stop_source stop;
  auto pending = std::async(std::launch::async, [&] {
    return codeOf([&] { transport.data(request("me"), stop.get_token()); });
  });
  while (server.requestCount() == sent) std::this_thread::sleep_for(5ms);
  const auto stopped = std::chrono::steady_clock::now();
  stop.request_stop();
  EXPECT_EQ(pending.get(), ShareURLError::Code::cancelled);
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, 2s);

  std::stop_source early;
  early.request_stop();
  EXPECT_EQ(codeOf([&] { transport.data(request("me"), early.get_token()); }),
            ShareURLError::Code::cancelled);
}

/// A loopback peer that answers one connection with raw bytes, in pieces a while apart: replies
/// no HTTP server library would send.
class RawPeer {
 public:
  RawPeer(std::vector<std::string> pieces, std::chrono::milliseconds interval)
      : listener_(testing::boundLoopbackSocket(port_)) {
    ::listen(listener_.get(), 4);
    thread_ = std::jthread([this, pieces = std::move(pieces), interval] {
      const FileDescriptor peer(::accept(listener_.get(), nullptr, nullptr));
      char request[4096];
      (void)!::read(peer.get(), request, sizeof request);
      for (const auto& piece : pieces) {
        std::this_thread::sleep_for(interval);
        (void)!::write(peer.get(), piece.data(), piece.size());
      }
    });
  }
  Url url() const {
    return *Url::parse("http://127.0.0.1:" + std::to_string(port_) + "/api/v1/me");
  }

 private:
  int port_ = 0;
  FileDescriptor listener_;
  std::jthread thread_;
};

TEST_F(ShareCurlTransportTest, TricklingRepliesEndAtTheResourceTimeOutAndNonHTTPOnesAreInvalid) {
  ScriptedReply trickling = ScriptedReply::json(200, std::string(600, 'x'));
  trickling.ending = ScriptedReply::Ending::trickle;
  trickling.trickleInterval = 50ms;  // half a minute for the whole body, never idle for long
  server.setFallback(trickling);
  ShareCurlSession::Configuration limited;
  limited.resourceTimeout = 1s;
  const std::pair<const char*, std::shared_ptr<ShareHTTPTransport>> sessions[] = {
      {"a session of its own", URLSessionTransport::makeDefault(limited)},
      {"the background uploader's live session",
       ShareBackgroundUploader::make(limited)->transport()},
  };
  for (const auto& [name, session] : sessions) {
    const auto error = testing::thrown<ShareURLError>([&] { session->data(request("me")); });
    ASSERT_TRUE(error) << name;
    EXPECT_EQ(error->code(), ShareURLError::Code::timedOut) << name;
    EXPECT_EQ(error->detail(), "the transfer took longer than 1000 ms") << name;
  }
  for (const std::string garbage : {"SSH-2.0-OpenSSH_9.2\r\n\r\n", "HTTP/1.1 OK\r\n\r\n"}) {
    RawPeer peer({garbage}, 0ms);
    const auto error = testing::thrown<ShareUploadError>(
        [&] { transport.data(ShareHTTP::makeRequest(peer.url(), "GET")); });
    EXPECT_EQ(error, ShareUploadError::invalidResponse()) << garbage;
  }
  // The time-out bounds silence, not the transfer: a reply whose header lines and then body
  // trickle in for longer than the time-out is read to its end (header bytes are progress too).
  RawPeer slow({"HTTP/1.1 200 OK\r\n", "X-Slow: 1\r\n", "X-Slow: 2\r\n",
                "Content-Length: 4\r\n\r\n", "ok", "ok"},
               250ms);
  auto patient = ShareHTTP::makeRequest(slow.url(), "GET");
  patient.timeout = 700ms;
  EXPECT_EQ(transport.data(patient).body, "okok");
}

/// Peak resident memory of this process so far, in bytes.
std::int64_t peakResidentBytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<std::int64_t>(usage.ru_maxrss) * 1024;
}

TEST_F(ShareCurlTransportTest, RefusesWhatCannotBeSentSafelyAndStreamsAGigabyteWithoutHoldingIt) {
  auto injected = request("me");
  injected.setValue("x\r\nX-Admin: yes", "X-Note");
  EXPECT_EQ(codeOf([&] { transport.data(injected); }), ShareURLError::Code::invalidRequest);
  auto badName = request("me");
  badName.setValue("v", "Bad Name");
  EXPECT_EQ(codeOf([&] { transport.data(badName); }), ShareURLError::Code::invalidRequest);
  const auto smuggled = request("me", "GET /admin HTTP/1.1\r\nX:");
  EXPECT_EQ(codeOf([&] { transport.data(smuggled); }), ShareURLError::Code::invalidRequest);
  const auto relative = ShareHTTP::makeRequest(*Url::parse("api/v1/me"), "GET");
  EXPECT_EQ(codeOf([&] { transport.data(relative); }), ShareURLError::Code::badURL);
  const auto local = ShareHTTP::makeRequest(*Url::parse("file:///etc/passwd"), "GET");
  EXPECT_NE(codeOf([&] { transport.data(local); }), ShareURLError::Code::unknown);
  EXPECT_EQ(server.requestCount(), 0u);

  URLSessionTransport small(std::make_shared<ShareCurlSession>(
      ShareCurlSession::Configuration{.maximumReplyBytes = 1000, .trustedAuthorities = {}}));
  server.enqueue(ScriptedReply::json(200, std::string(5000, 'x')));
  EXPECT_EQ(codeOf([&] { small.data(request("me")); }),
            ShareURLError::Code::dataLengthExceedsMaximum);

  testing::TemporaryDirectory folder;
  const auto post = request("docs", "POST");
  EXPECT_EQ(codeOf([&] { transport.uploadFile(post, folder / "missing.bin"); }),
            ShareURLError::Code::fileDoesNotExist);
  EXPECT_EQ(codeOf([&] { transport.uploadFile(post, folder.path()); }),
            ShareURLError::Code::cannotOpenFile);
  EXPECT_EQ(server.requestCount(), 1u) << "only the reply that was too large";

  const auto file = folder / "big.bin";
  constexpr std::int64_t size = std::int64_t{1} << 30;
  {
    // A sparse file with markers at both ends and in the middle: no disk space, real content.
    std::ofstream out(file, std::ios::binary);
    for (const std::int64_t offset : {std::int64_t{0}, size / 2, size - 5}) {
      out.seekp(offset);
      out.write("mark!", 5);
    }
  }
  ASSERT_EQ(std::filesystem::file_size(file), static_cast<std::uintmax_t>(size));
  server.setBodyRecording(16);
  const auto before = peakResidentBytes();

  const auto reply = transport.uploadFile(request("docs", "POST"), file);

  EXPECT_EQ(reply.response.status, 200);
  const auto received = server.requests().at(1);  // after the reply that was too large
  EXPECT_EQ(received.bodySize, static_cast<std::uint64_t>(size));
  EXPECT_EQ(received.bodySHA256, FileDigest::sha256Hex(file));
  EXPECT_EQ(received.body.substr(0, 5), "mark!");
  EXPECT_LT(peakResidentBytes() - before, 128 << 20) << "the upload grew the process by gigabytes";

  std::ofstream(folder / "ten.bin") << "0123456789";
  auto changed = ShareRequestParts::File::open(folder / "ten.bin", "ten.bin");
  changed.size = 11;  // it shrank since it was measured: the body would fall short of its length
  EXPECT_EQ(codeOf([&] {
              transport.uploadParts(post, ShareRequestParts{{"head", changed}});
            }),
            ShareURLError::Code::cannotOpenFile);
}

/// Runs `body` in a child process with a private mount namespace; answers its exit status, or
/// nothing when this machine allows no namespaces.
template <class Body>
std::optional<int> inMountNamespace(Body body) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
      ::_exit(77);
    ::_exit(body());
  }
  const int status = testing::exitStatus(child);
  return status < 0 || status == 77 ? std::nullopt : std::optional(status);
}

TEST(ShareCurlTransportTLS, RefusesUntrustedCertificatesAndRedirectsToPlainHTTP) {
  ShareTestServer server(ShareTestServer::Security::selfSignedTLS);
  const auto me = ShareHTTP::makeRequest(ShareHTTP::endpoint(server.apiBase(), "me"), "GET");
  URLSessionTransport transport(std::make_shared<ShareCurlSession>());
  EXPECT_EQ(codeOf([&] { transport.data(me); }), ShareURLError::Code::serverCertificateUntrusted);
  EXPECT_EQ(server.requestCount(), 0u);

  // The same server is reachable once its certificate is the trusted authority, so the refusal
  // above was the verification and not a broken TLS set-up.
  testing::TemporaryDirectory folder;
  std::ofstream(folder / "ca.pem") << server.certificatePEM();
  URLSessionTransport trusting(std::make_shared<ShareCurlSession>(ShareCurlSession::Configuration{
      .maximumReplyBytes = 32 << 20, .trustedAuthorities = folder / "ca.pem"}));
  EXPECT_EQ(trusting.data(me).response.status, 200);
  EXPECT_EQ(server.requestCount(), 1u);

  // A request that started on https never continues in clear text.
  ShareTestServer plain;
  server.enqueue(ScriptedReply::json(
      307, "", {{"Location", ShareHTTP::endpoint(plain.apiBase(), "docs").absoluteString()}}));
  const auto docs = ShareHTTP::makeRequest(ShareHTTP::endpoint(server.apiBase(), "docs"), "POST");
  EXPECT_THROW(trusting.upload(docs, std::string_view("secret body")), ShareURLError);
  EXPECT_EQ(plain.requestCount(), 0u) << "the body went out in clear text";

  // The server's certificate is made trusted by the system's certificate folder (in a private
  // mount namespace); a session with a private bundle that does not hold it must still refuse.
  // The private bundle holds the public roots of this machine, none of which signed the server.
  const std::filesystem::path roots = "/etc/ssl/certs/ca-certificates.crt";
  std::filesystem::create_directory(folder / "certs");
  std::ofstream(folder / "certs/server.pem") << server.certificatePEM();
  std::filesystem::copy_file(roots, folder / "certs/ca-certificates.crt");
  std::filesystem::copy_file(roots, folder / "roots.pem");
  ASSERT_EQ(std::system(("openssl rehash " + testing::shellQuoted(folder / "certs")).c_str()), 0);
  const auto statusWith = [&](std::optional<std::filesystem::path> bundle) {
    return inMountNamespace([&] {
      if (::mount((folder / "certs").c_str(), "/etc/ssl/certs", nullptr, MS_BIND, nullptr) != 0)
        return 77;
      URLSessionTransport isolated(
          std::make_shared<ShareCurlSession>(ShareCurlSession::Configuration{
              .maximumReplyBytes = 1 << 20, .trustedAuthorities = bundle}));
      try {
        return isolated.data(me).response.status == 200 ? 0 : 1;
      } catch (const ShareURLError& error) {
        return error.code() == ShareURLError::Code::serverCertificateUntrusted ? 2 : 3;
      }
    });
  };
  const auto systemTrust = statusWith(std::nullopt);
  if (!systemTrust) GTEST_SKIP() << "no mount namespaces here";
  EXPECT_EQ(systemTrust, 0) << "the system folder trusts the server";
  EXPECT_EQ(statusWith(folder / "roots.pem"), 2) << "the private bundle alone decides";
}

/// A session that answers from memory and notes which session a transport chose.
class NamedSession final : public ShareURLSession {
 public:
  explicit NamedSession(std::string name) : name_(std::move(name)) {}
  ShareHTTPReply perform(const ShareHTTPRequest&, const ShareRequestBody& body,
                         std::stop_token) override {
    const auto* bytes = std::get_if<std::string_view>(&body);
    const auto* file = std::get_if<std::filesystem::path>(&body);
    const std::string what = bytes ? std::string(*bytes) : file ? file->string() : "-";
    return {name_ + ":" + what, {200, {}}};
  }

 private:
  std::string name_;
};

TEST(ShareHybridTransport, PlainRequestsLiveUploadsInTheBackgroundOnTheWorkerAndCancellable) {
  ShareHybridTransport hybrid(std::make_shared<NamedSession>("live"),
                              std::make_shared<NamedSession>("background"));
  auto withBody = ShareHTTP::makeRequest(*Url::parse("https://h/api/v1/links"), "POST");
  withBody.body = "own";
  EXPECT_EQ(hybrid.data(withBody).body, "live:own");
  EXPECT_EQ(hybrid.data(ShareHTTP::makeRequest(*Url::parse("https://h/me"), "GET")).body, "live:-");
  EXPECT_EQ(hybrid.upload(withBody, std::string_view("given")).body, "background:given");
  EXPECT_EQ(hybrid.uploadFile(withBody, std::filesystem::path("/staged/a.zip")).body,
            "background:/staged/a.zip");
  EXPECT_THROW(ShareHybridTransport(nullptr, std::make_shared<NamedSession>("b")),
               std::invalid_argument);

  ShareTestServer server;
  auto background = std::make_shared<ShareBackgroundSession>("com.lumo.share.apple.upload");
  ShareHybridTransport onWorker(std::make_shared<ShareCurlSession>(), background);
  const auto docs = ShareHTTP::makeRequest(ShareHTTP::endpoint(server.apiBase(), "docs"), "POST");

  EXPECT_EQ(onWorker.upload(docs, std::string_view("payload")).response.status, 200);
  EXPECT_EQ(server.requests().at(0).body, "payload");

  ScriptedReply silent;
  silent.ending = ScriptedReply::Ending::neverAnswer;
  server.setFallback(silent);
  const auto uploadUntilStopped = [&](std::string_view body, std::stop_token stop) {
    return std::async(std::launch::async, [&onWorker, &docs, body, stop] {
      return codeOf([&] { onWorker.upload(docs, body, stop); });
    });
  };
  std::stop_source stop;
  auto pending = uploadUntilStopped("second", stop.get_token());
  while (server.requestCount() < 2) std::this_thread::sleep_for(5ms);

  // A transfer queued behind the silent one ends as soon as its caller stops, without waiting.
  std::stop_source stopQueued;
  auto queued = uploadUntilStopped("third", stopQueued.get_token());
  std::this_thread::sleep_for(100ms);
  const auto stopped = std::chrono::steady_clock::now();
  stopQueued.request_stop();
  EXPECT_EQ(queued.get(), ShareURLError::Code::cancelled);
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, 1s);

  stop.request_stop();
  EXPECT_EQ(pending.get(), ShareURLError::Code::cancelled);
  EXPECT_EQ(server.requestCount(), 2u) << "the cancelled transfer was never sent";
}

}  // namespace
}  // namespace lumo
