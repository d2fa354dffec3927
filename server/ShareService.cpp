#include "ShareService.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "MeResponse.hpp"
#include "ServiceReplies.hpp"
#include "UnicodeText.hpp"
#include "Url.hpp"

namespace lumo::service {
namespace {

constexpr std::int64_t mebibyte = 1048576;

bool isUploadRoute(const std::string& path) {
  return path == "/api/v1/docs" || path == "/api/v1/anon/docs";
}

bool isAPIRoute(const std::string& path) {
  return path == "/api/v1" || path.rfind("/api/v1/", 0) == 0;
}

std::int64_t systemSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::int64_t systemMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::int64_t millisecondsSinceStart() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               requestNotes.start)
      .count();
}

void logAccess(const httplib::Request& request, const httplib::Response& response) {
  const auto ms = millisecondsSinceStart();
  // The path alone: query strings and headers may carry secrets.
  // A request line that did not parse (such as the rest of a refused body on a connection the
  // client should have closed) has neither method nor path.
  const auto shown = [](const std::string& text) { return text.empty() ? "-" : text.c_str(); };
  std::fprintf(stderr, "%s %s %d %zu %lldms\n", shown(request.method), shown(request.path),
               response.status, response.body.size(), static_cast<long long>(ms));
}

}  // namespace

std::optional<PlanRules> PlanRules::named(const std::string& key) {
  if (key == "hobby") return PlanRules{"hobby", "Hobby", 25 * mebibyte, 30, false, 50, 100, 6};
  if (key == "pro") {
    return PlanRules{"pro", "Pro", ShareApple::maxUploadBytes, 365, true, 1000, 5000, 4};
  }
  return std::nullopt;
}

namespace {

/// The path of the public base, "/" last, as a route pattern may hold it.
std::string pagePath(const std::string& publicBase) {
  const auto url = Url::parse(publicBase);
  auto path = url ? url->path() : std::string();
  const bool plain = std::all_of(path.begin(), path.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '/' || c == '-' || c == '_';
  });
  if (!url || !url->host() || path.empty() || path[0] != '/' || !plain) {
    throw std::runtime_error(
        "the public base must be an http(s) URL whose path has only "
        "letters, digits, '-', '_' and '/': " +
        publicBase);
  }
  if (path.back() != '/') path += '/';
  return path;
}

}  // namespace

ShareService::ShareService(Options options)
    : options_(std::move(options)),
      folderLock_(options_.dataDirectory, sql::Database::isPostgreSQL(options_.database)
                                              ? DataFolderLock::shared
                                              : DataFolderLock::exclusive),
      store_(options_.dataDirectory, options_.database, options_.databaseConnections),
      secrets_(options_.dataDirectory),
      blobs_(options_.dataDirectory),
      rateLimiter_(options_.rateBurst, options_.ratePerSecond),
      requestLog_(options_.requestLog.empty() ? nullptr
                                              : std::make_unique<RequestLog>(options_.requestLog)),
      server_(std::make_unique<ServiceHttpServer>(options_.connectionLimits,
                                                  options_.tlsCertificate, options_.tlsKey)) {
  if (!options_.nowSeconds) options_.nowSeconds = systemSeconds;
  if (options_.publicBase.empty() || options_.publicBase.back() != '/') options_.publicBase += '/';
  pagePath_ = pagePath(options_.publicBase);
  // The folder's blobs belong to the records that first used it. A service on other records
  // (another database, SQLite where PostgreSQL was, a lost service.db) would take them for a
  // crash's leftovers and sweep them away: it does not start.
  const auto owner =
      DataFolderLock::firstWritten(options_.dataDirectory / "records-id", store_.recordsId());
  if (owner != store_.recordsId()) {
    throw DataFolderBusy("the data folder " + options_.dataDirectory.string() +
                         " holds the documents of other records (" + owner + "), not of these (" +
                         store_.recordsId() + ")");
  }
  purgeExpired();
  // Alone with its records, the service knows that no request of another is under way: what
  // a crash left goes at once. Among several nodes, only what is too old to be under way goes.
  const auto shared = store_.isShared();
  store_.releaseUnfinishedKeys(shared ? now() - staleReservationSeconds : now());
  const auto referenced = store_.blobIds();
  blobs_.sweep({referenced.begin(), referenced.end()},
               shared ? std::chrono::seconds(staleReservationSeconds) : std::chrono::seconds(0));
  routes();
  sweeper_ = std::jthread([this](std::stop_token stop) { sweepEvery(stop); });
}

void ShareService::purgeExpired() {
  for (const auto& blob : store_.purgeExpired(now())) blobs_.remove(blob);
  // A node that died mid-request left its reservation; its client may send the key again.
  if (store_.isShared()) store_.releaseUnfinishedKeys(now() - staleReservationSeconds);
}

void ShareService::sweepEvery(std::stop_token stop) {
  std::mutex mutex;
  std::condition_variable_any wake;
  std::unique_lock lock(mutex);
  while (true) {
    wake.wait_for(lock, stop, options_.sweepInterval, [] { return false; });
    if (stop.stop_requested()) return;
    try {
      purgeExpired();
    } catch (const std::exception& error) {
      std::fprintf(stderr, "expiry sweep failed: %s\n", error.what());
    }
  }
}

ShareService::~ShareService() {
  stop();
}

int ShareService::bind(const std::string& host, int port) {
  return server_->bindTo(host, port);
}

void ShareService::listen() {
  server_->serve();
}

void ShareService::stop() {
  stopping_ = true;
  server_->stop();
}

void ShareService::delayAnswer(std::chrono::steady_clock::time_point arrived) const {
  // Short naps rather than a condition variable: `stop` runs in a signal handler, which must
  // not take a lock.
  constexpr auto nap = std::chrono::milliseconds(20);
  const auto until = arrived + options_.apiDelay;
  for (auto now = std::chrono::steady_clock::now(); now < until && !stopping_;
       now = std::chrono::steady_clock::now()) {
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(until - now, nap));
  }
}

/// The request log's line: when the request arrived, what it asked, the publish's key, file
/// name, title and share when there are any, how it was answered and how long that took.
void ShareService::logRequest(const httplib::Request& request, const httplib::Response& response) {
  if (!isAPIRoute(request.path)) return;
  JSONValue line{
      {"at", requestNotes.arrivedAtMs}, {"method", request.method}, {"path", request.path}};
  if (const auto key = request.get_header_value("Idempotency-Key"); !key.empty()) {
    line["idempotency_key"] = key;
  }
  if (requestNotes.filename) line["filename"] = *requestNotes.filename;
  if (requestNotes.title) line["title"] = *requestNotes.title;
  if (requestNotes.slug) line["slug"] = *requestNotes.slug;
  line["status"] = response.status;
  line["ms"] = millisecondsSinceStart();
  requestLog_->append(line);
}

std::int64_t ShareService::now() const {
  return options_.nowSeconds();
}

namespace {

bool equalsIgnoringCase(std::string_view text, std::string_view lowercase) {
  return text.size() == lowercase.size() &&
         std::equal(text.begin(), text.end(), lowercase.begin(), [](char c, char l) {
           return std::tolower(static_cast<unsigned char>(c)) == l;
         });
}

/// A refusal: the status, the error code and the message.
struct Refusal {
  int status;
  const char* code;
  const char* message;
};

/// Why a request's body is refused before anything reads it, if it is. A body has a plain
/// length or is chunked (the coding's name in any case), never both and nothing else; only
/// uploads may be chunked or longer than 64 KiB, since any other body is read into memory.
std::optional<Refusal> bodyRefusal(const httplib::Request& request) {
  const auto encodings = request.get_header_value_count("Transfer-Encoding");
  const auto lengths = request.get_header_value_count("Content-Length");
  const bool chunked = encodings == 1 &&
                       equalsIgnoringCase(request.get_header_value("Transfer-Encoding"), "chunked");
  if (encodings > 0 && !chunked) {
    return Refusal{501, Generic::invalidRequest, "only the chunked transfer coding is understood"};
  }
  const auto length = request.get_header_value("Content-Length");
  const bool plain =
      !length.empty() && length.size() <= 18 &&
      std::all_of(length.begin(), length.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (lengths > 1 || (lengths == 1 && (!plain || chunked))) {
    return Refusal{400, Generic::invalidRequest, "the body's length is unclear"};
  }
  const bool sized = lengths == 1 && std::stoull(length) > ShareService::maxJSONBodyBytes;
  if (!isUploadRoute(request.path) && (chunked || sized)) {
    return Refusal{413, Generic::payloadTooLarge, "the request is too large"};
  }
  // The password form's body is read into memory until the client stops; an API route's reader
  // stops at its bound, so a body-less POST there needs no length.
  if (request.method == "POST" && lengths == 0 && !chunked && !isAPIRoute(request.path)) {
    return Refusal{411, Generic::invalidRequest, "a form needs a Content-Length"};
  }
  return std::nullopt;
}

/// Whom the rate limit counts a request against: the account or device its bearer token
/// proves, else (no bearer, or one that proves nothing) its client. Made-up bearers never get
/// allowances of their own.
std::string rateLimitKey(const httplib::Request& request, const std::string& client,
                         const ServiceSecrets& secrets, const ServiceStore& store,
                         std::int64_t now) {
  if (const auto token = bearerToken(request)) {
    if (const auto account = secrets.verifyToken(*token, now)) return "account " + *account;
    if (const auto device = store.deviceWithToken(ServiceSecrets::secretHash(*token))) {
      return "device " + *device;
    }
  }
  return "client " + client;
}

}  // namespace

bool ShareService::admit(const httplib::Request& request, httplib::Response& response) {
  if (const auto refusal = bodyRefusal(request)) {
    response.set_header("Connection", "close");
    fail(response, refusal->status, refusal->code, refusal->message);
    return false;
  }
  if (const auto wait =
          rateLimiter_.admit(rateLimitKey(request, clientOf(request), secrets_, store_, now()))) {
    response.set_header("Connection", "close");
    response.set_header("Retry-After", std::to_string(*wait));
    fail(response, 429, Generic::rateLimited, "too many requests; try again later");
    return false;
  }
  return true;
}

void ShareService::postJSON(const std::string& pattern, JSONHandler handler) {
  server_->Post(pattern, [handler = std::move(handler)](const httplib::Request& request,
                                                        httplib::Response& response,
                                                        const httplib::ContentReader& reader) {
    std::string body;
    const bool read = reader([&](const char* data, std::size_t length) {
      // Stops one byte past the bound: enough to tell a body that is too large.
      body.append(data, std::min(length, maxJSONBodyBytes + 1 - body.size()));
      return body.size() <= maxJSONBodyBytes;
    });
    if (!read || body.size() > maxJSONBodyBytes) {
      response.set_header("Connection", "close");
      return fail(response, 413, Generic::payloadTooLarge, "the request is too large");
    }
    handler(request, body, response);
  });
}

void ShareService::routes() {
  server_->set_pre_routing_handler([this](const httplib::Request& request,
                                          httplib::Response& response) {
    requestNotes =
        RequestNotes{&request, std::chrono::steady_clock::now(), systemMilliseconds(), {}, {}, {}};
    if (options_.apiDelay.count() > 0 && isAPIRoute(request.path)) {
      delayAnswer(requestNotes.start);
    }
    // httplib would cut any answer to the ranges asked for: an API answer is always whole (the
    // file routes answer their ranges themselves). The request is the server's own object.
    if (isAPIRoute(request.path)) const_cast<httplib::Request&>(request).ranges.clear();
    return admit(request, response) ? httplib::Server::HandlerResponse::Unhandled
                                    : httplib::Server::HandlerResponse::Handled;
  });
  if (options_.accessLog || requestLog_) {
    server_->set_logger([this](const httplib::Request& request, const httplib::Response& response) {
      // A request refused before routing (an unreadable request line, say) has no notes of its
      // own: it arrived just now.
      if (requestNotes.request != &request) {
        requestNotes = RequestNotes{
            &request, std::chrono::steady_clock::now(), systemMilliseconds(), {}, {}, {}};
      }
      if (options_.accessLog) logAccess(request, response);
      if (requestLog_) logRequest(request, response);
      requestNotes = RequestNotes{};  // the next request on this thread starts afresh
    });
  }
  server_->set_error_handler([](const httplib::Request&, httplib::Response& response) {
    if (response.status == 404 && response.body.empty()) {
      fail(response, 404, "not_found", "no such resource");
    }
  });
  server_->set_exception_handler(
      [](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
        fail(response, 500, "internal", "the service failed");
      });
  server_->Get("/api/v1/health", [](const httplib::Request&, httplib::Response& response) {
    reply(response, HealthResponse{true, "lumo-share-server", 1});
  });
  server_->Get("/api/v1/me",
               [this](const auto& request, auto& response) { me(request, response); });
  publishRoutes();
  deleteRoutes();
  deviceRoutes();
  pageRoutes();
}

std::optional<ShareService::Caller> ShareService::signedIn(const httplib::Request& request,
                                                           httplib::Response& response) {
  const auto token = bearerToken(request);
  const auto accountId = token ? secrets_.verifyToken(*token, now()) : std::nullopt;
  const auto account = accountId ? store_.account(*accountId) : std::nullopt;
  const auto plan = account ? PlanRules::named(account->plan) : std::nullopt;
  if (!plan) {
    fail(response, 401, ShareServerErrorCodes::authRequired, "sign in to use this");
    return std::nullopt;
  }
  return Caller{account, plan, clientOf(request)};
}

std::string ShareService::clientOf(const httplib::Request& request) const {
  auto client = clientOfAddress(request.remote_addr);
  const auto proxy = exactAddress(request.remote_addr);
  if (!proxy || options_.connectionLimits.proxies.count(*proxy) == 0) return client;
  // The proxy appends the address it took the request from; what comes before is the client's
  // own say and proves nothing.
  const auto forwarded = request.get_header_value("X-Forwarded-For");
  const std::string last(UnicodeText::trimmed(forwarded.substr(forwarded.rfind(',') + 1)));
  return exactAddress(last) ? clientOfAddress(last) : client;
}

void ShareService::me(const httplib::Request& request, httplib::Response& response) {
  const auto caller = signedIn(request, response);
  if (!caller) return;
  const auto& plan = *caller->plan;
  const auto moment = now();
  const auto used = [&](const char* kind) {
    return store_.activeShares(caller->account->id, std::nullopt, kind, moment);
  };
  PlanLimits limits;
  limits.slugMinLength = plan.minSlugLength;
  limits.docFileSizeMB = plan.maxDocumentBytes / mebibyte;
  limits.docMaxExpDays = plan.maxDays;
  limits.linkMaxKeepDays = plan.maxDays;
  reply(response, MeResponse{plan.key, plan.displayName, limits,
                             std::map<std::string, PlanUsage>{
                                 {"docs", PlanUsage{used("doc"), plan.maxDocuments}},
                                 {"links", PlanUsage{used("link"), plan.maxLinks}}}});
}

}  // namespace lumo::service
