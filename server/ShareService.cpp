#include "ShareService.hpp"

#include <httplib.h>
#include <sodium.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>

#include "DeviceRecords.hpp"
#include "DocShare.hpp"
#include "LinkRecord.hpp"
#include "MeResponse.hpp"
#include "ServiceHttpServer.hpp"
#include "ServiceReplies.hpp"
#include "ServiceRequests.hpp"
#include "ShareJSON.hpp"
#include "ShareMultipart.hpp"
#include "ShareServerErrorCodes.hpp"
#include "ShareUUID.hpp"
#include "ShareVocabularies.hpp"
#include "UnicodeText.hpp"
#include "Url.hpp"

namespace lumo::service {
namespace fs = std::filesystem;
namespace {

constexpr std::int64_t mebibyte = 1048576;
constexpr std::int64_t defaultDays = 7;
constexpr std::size_t maxJSONBodyBytes = 65536;  ///< a link request, a document's metadata
constexpr std::int64_t multipartAllowance = 2 * maxJSONBodyBytes;
namespace Codes = ShareServerErrorCodes;
namespace Generic = ErrorCodeValues;

std::string randomSlug() {
  return ServiceSecrets::randomCode("abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789", 8);
}

bool isUploadRoute(const std::string& path) {
  return path == "/api/v1/docs" || path == "/api/v1/anon/docs";
}

bool isAPIRoute(const std::string& path) {
  return path == "/api/v1" || path.rfind("/api/v1/", 0) == 0;
}

/// The kind a notice names for a stored share: "link", or the document's kind by its type.
std::string noticeKind(const StoredShare& share) {
  if (share.kind == "link") return ShareKindValues::link;
  const auto type = share.contentType.value_or("");
  for (const char* kind :
       {ShareKindValues::image, ShareKindValues::audio, ShareKindValues::video}) {
    if (type.rfind(std::string(kind) + "/", 0) == 0) return kind;
  }
  return ShareKindValues::file;
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

/// What the logs tell of the request being handled on this thread: when it arrived, and what
/// a publish was about and made.
struct RequestNotes {
  const httplib::Request* request = nullptr;  ///< whose notes these are
  std::chrono::steady_clock::time_point start;
  std::int64_t arrivedAtMs = 0;
  std::optional<std::string> filename;
  std::optional<std::string> title;
  std::optional<std::string> slug;
};
thread_local RequestNotes requestNotes;

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
  if (key == "pro") return PlanRules{"pro", "Pro", 100 * mebibyte, 365, true, 1000, 5000, 4};
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
      folderLock_(options_.dataDirectory),
      store_(options_.dataDirectory),
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
  purgeExpired();
  store_.releaseUnfinishedKeys();
  const auto referenced = store_.blobIds();
  blobs_.sweep({referenced.begin(), referenced.end()});
  routes();
  sweeper_ = std::jthread([this](std::stop_token stop) { sweepEvery(stop); });
}

void ShareService::purgeExpired() {
  for (const auto& blob : store_.purgeExpired(now())) blobs_.remove(blob);
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
  const bool sized = lengths == 1 && std::stoull(length) > maxJSONBodyBytes;
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
std::string rateLimitKey(const httplib::Request& request, const ServiceSecrets& secrets,
                         const ServiceStore& store, std::int64_t now) {
  if (const auto token = bearerToken(request)) {
    if (const auto account = secrets.verifyToken(*token, now)) return "account " + *account;
    if (const auto device = store.deviceWithToken(ServiceSecrets::secretHash(*token))) {
      return "device " + *device;
    }
  }
  return "client " + clientOfAddress(request.remote_addr);
}

}  // namespace

bool ShareService::admit(const httplib::Request& request, httplib::Response& response) {
  if (const auto refusal = bodyRefusal(request)) {
    response.set_header("Connection", "close");
    fail(response, refusal->status, refusal->code, refusal->message);
    return false;
  }
  if (const auto wait = rateLimiter_.admit(rateLimitKey(request, secrets_, store_, now()))) {
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
  server_->set_payload_max_length(
      static_cast<std::size_t>(PlanRules::named("pro")->maxDocumentBytes + multipartAllowance));
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
  for (const bool anonymous : {false, true}) {
    const std::string prefix = anonymous ? "/api/v1/anon/" : "/api/v1/";
    server_->Post(prefix + "docs",
                  [this, anonymous](const httplib::Request& request, httplib::Response& response,
                                    const httplib::ContentReader& reader) {
                    publishDocument(request, response, reader, anonymous);
                  });
    postJSON(prefix + "links",
             [this, anonymous](const auto& request, const auto& body, auto& response) {
               publishLink(request, body, response, anonymous);
             });
  }
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
  return Caller{account, plan, clientOfAddress(request.remote_addr)};
}

namespace {

/// The share's lifetime, slug and password as the caller's plan allows them, or the error to
/// answer (status, code, message).
struct Decision {
  std::int64_t days = 0;
  std::optional<std::string> slug;
  std::optional<std::string> password;
  int status = 0;
  std::string code;
  std::string message;
};

Decision decide(const std::optional<PlanRules>& plan, std::optional<std::int64_t> days,
                const std::optional<std::string>& slug,
                const std::optional<std::string>& password) {
  Decision decision;
  if (!plan) {  // anonymous: a fixed lifetime; slug, lifetime and password are ignored
    decision.days = ShareService::anonymousDays;
    return decision;
  }
  decision.days = std::clamp<std::int64_t>(days.value_or(defaultDays), 1, plan->maxDays);
  if (password && !password->empty() && !plan->allowsPassword) {
    return Decision{
        0, {}, {}, 403, Codes::featureRequiresPaidPlan, "password protection needs the Pro plan"};
  }
  if (slug && !isValidSlug(*slug, plan->minSlugLength)) {
    return Decision{
        0,
        {},
        {},
        400,
        Codes::validationError,
        "a slug is " + std::to_string(plan->minSlugLength) + " to 64 letters, digits, '-' or '_'"};
  }
  decision.slug = slug;
  if (password && !password->empty()) decision.password = password;
  return decision;
}

/// The quota a new share of `kind` must fit, and what its refusal says.
struct QuotaRule {
  ServiceStore::Quota quota;
  const char* code;
  const char* message;
};

QuotaRule quotaRule(const std::optional<std::string>& owner, const std::string& address,
                    const std::optional<PlanRules>& plan, const std::string& kind,
                    std::int64_t moment, std::int64_t anonymousLimit) {
  if (!plan) {
    return {{std::nullopt, address, std::nullopt, anonymousLimit, moment},
            Codes::anonQuotaExceeded,
            "too many anonymous shares"};
  }
  if (kind == "doc") {
    return {{owner, std::nullopt, kind, plan->maxDocuments, moment},
            Codes::docShareLimitReached,
            "the plan's documents are used up"};
  }
  return {{owner, std::nullopt, kind, plan->maxLinks, moment},
          Codes::linkLimitReached,
          "the plan's links are used up"};
}

/// The quota is used up already: refused before an upload streams in. The insert counts again.
bool usedUp(const ServiceStore& store, const ServiceStore::Quota& quota) {
  return store.activeShares(quota.owner, quota.anonymousClient, quota.kind, quota.now) >=
         quota.limit;
}

/// Answers a share its insert refused: over its quota, or its requested slug taken.
void failInsertion(httplib::Response& response, ServiceStore::Insertion outcome,
                   const QuotaRule& rule) {
  if (outcome == ServiceStore::Insertion::overQuota) {
    return fail(response, 403, rule.code, rule.message);
  }
  fail(response, 409, Generic::conflict, "the slug is taken");
}

constexpr const char* insufficientStorage = "insufficient_storage";

/// Answers a blob the disk did not take: full (or over the quota of the service's user), so
/// worth trying later, or another failure.
void failStorage(httplib::Response& response, int error) {
  if (error == ENOSPC || error == EDQUOT) {
    return fail(response, 507, insufficientStorage, "the service's disk is full; try again later");
  }
  fail(response, 500, Generic::internal, "the service cannot store the file");
}

/// Fills in what every new share has: its owner or anonymous client, the claim of an anonymous
/// one, the password and the times. Answers the claim token to hand out ("" when signed in).
std::string startShare(StoredShare& share, const std::string& kind,
                       const std::optional<std::string>& owner, const std::string& address,
                       const Decision& decision, std::int64_t moment) {
  share.kind = kind;
  share.owner = owner;
  std::string claimToken;
  if (!owner) {
    share.anonymousClient = address;
    claimToken = ServiceSecrets::newSecretToken();
    share.claimHash = ServiceSecrets::secretHash(claimToken);
  }
  if (decision.password) share.passwordHash = ServiceSecrets::hashPassword(*decision.password);
  share.ctime = moment;
  share.expDays = decision.days;
  share.expiresAt = moment + decision.days * 86400;
  return claimToken;
}

/// Stores the share under the requested slug, or under a fresh random one, when it fits the
/// quota; slugTaken when the requested slug is taken (or, unlikely, every random one tried).
ServiceStore::Insertion insertWithSlug(ServiceStore& store, StoredShare& share,
                                       const std::optional<std::string>& slug,
                                       const std::optional<ServiceStore::KeyScope>& key,
                                       const ServiceStore::Quota& quota) {
  for (int attempt = 0; attempt <= 8; ++attempt) {
    share.slug = slug.value_or(randomSlug());
    const auto outcome = store.insertShareWithin(share, quota, key);
    if (outcome != ServiceStore::Insertion::slugTaken || slug) return outcome;
  }
  return ServiceStore::Insertion::slugTaken;
}

}  // namespace

std::string ShareService::idempotencyKeyOf(const httplib::Request& request) const {
  return options_.idempotency ? request.get_header_value("Idempotency-Key") : std::string();
}

ShareService::IdempotencyKey::IdempotencyKey(ServiceStore& store, const Caller& caller,
                                             const std::string& key, std::int64_t now)
    : store_(store), caller_(caller) {
  const bool usable =
      !key.empty() && key.size() <= 200 &&
      std::all_of(key.begin(), key.end(), [](char c) { return c > ' ' && c < 127; });
  if (!usable) return;
  key_ = ServiceStore::KeyScope{
      caller.anonymous() ? "anonymous " + caller.address : caller.account->id, key};
  use_ = store_.useIdempotencyKey(key_->scope, key_->key, now);
  reserved_ = use_.outcome == ServiceStore::KeyUse::fresh;
}

ShareService::IdempotencyKey::~IdempotencyKey() {
  if (!reserved_) return;
  try {
    store_.releaseIdempotencyKey(*key_);
  } catch (const std::exception&) {
    // Start-up releases what is left.
  }
}

std::optional<ServiceStore::KeyScope> ShareService::IdempotencyKey::scope() const {
  if (!reserved_) return std::nullopt;
  return key_;
}

bool ShareService::IdempotencyKey::answered(ShareService& service, httplib::Response& response) {
  if (!key_) return false;
  if (use_.outcome == ServiceStore::KeyUse::done) {
    service.replayPublished(response, use_.slug, caller_);
    return true;
  }
  if (use_.outcome == ServiceStore::KeyUse::inProgress) {
    fail(response, 409, Generic::conflict, "the same request is still being handled");
    return true;
  }
  return false;
}

void ShareService::IdempotencyKey::used() {
  reserved_ = false;
}

void ShareService::publishDocument(const httplib::Request& request, httplib::Response& response,
                                   const httplib::ContentReader& reader, bool anonymous) {
  // A refusal may leave the body unread: the connection must not carry it into a next request.
  response.set_header("Connection", "close");
  auto caller = anonymous ? Caller{{}, {}, clientOfAddress(request.remote_addr)}
                          : signedIn(request, response);
  if (!caller) return;
  const auto moment = now();
  IdempotencyKey idempotency(store_, *caller, idempotencyKeyOf(request), moment);
  if (idempotency.answered(*this, response)) return;
  const auto rule = quotaRule(caller->owner(), caller->address, caller->plan, "doc", moment,
                              options_.anonymousActiveLimit);
  if (usedUp(store_, rule.quota)) return fail(response, 403, rule.code, rule.message);
  const auto limit = caller->maxBytes();
  const auto declared = request.get_header_value<std::uint64_t>("Content-Length");
  if (declared > static_cast<std::uint64_t>(limit + multipartAllowance)) {
    return fail(response, 413, Codes::fileSizeExceeded, "the file is too large");
  }
  if (!request.is_multipart_form_data()) {
    return fail(response, 400, Generic::invalidRequest, "a multipart body is required");
  }

  const auto id = makeLowercaseUUID();
  std::optional<BlobStore::Writer> blob;
  std::string metadata, part, filename, contentType;
  bool tooLarge = false, repeated = false, sawMetadata = false;
  int storageError = 0;
  const bool read = reader(
      [&](const httplib::MultipartFormData& header) {
        part = header.name;
        repeated = (part == "file" && blob) || (part == "metadata" && sawMetadata);
        sawMetadata = sawMetadata || part == "metadata";
        if (repeated || part != "file") return !repeated;
        filename = header.filename;
        contentType = header.content_type;
        try {
          blob.emplace(blobs_, id);
        } catch (const fs::filesystem_error& error) {
          storageError = error.code().value();
        }
        return blob.has_value();
      },
      [&](const char* data, std::size_t length) {
        if (part == "metadata") {
          tooLarge = metadata.size() + length > maxJSONBodyBytes;
          if (!tooLarge) metadata.append(data, length);
          return !tooLarge;
        }
        if (part != "file") return true;
        tooLarge = blob->size() + length > static_cast<std::uint64_t>(limit);
        return !tooLarge && blob->append(std::string_view(data, length));
      });
  if (tooLarge) return fail(response, 413, Codes::fileSizeExceeded, "the file is too large");
  if (repeated) {
    return fail(response, 400, Codes::validationError,
                "an upload has one \"metadata\" part and one \"file\" part");
  }
  if (blob && blob->error() != 0) storageError = blob->error();
  if (storageError != 0) return failStorage(response, storageError);
  if (!read || !blob) return fail(response, 400, Generic::invalidRequest, "no file part");
  requestNotes.filename = filename;

  const auto parsed =
      metadata.empty() ? std::optional(DocMetadata{}) : parseBody<DocMetadata>(metadata);
  if (!parsed) {
    return fail(response, 400, Generic::invalidRequest, "the metadata is no valid JSON record");
  }
  const auto& meta = *parsed;
  requestNotes.title = meta.comment;
  if (meta.maxDownloads.value_or(0) < 0) {
    return fail(response, 400, Codes::validationError, "max_downloads is 0 (no limit) or more");
  }
  const auto decision = decide(caller->plan, meta.expDays, meta.slug, meta.password);
  if (decision.status != 0) return fail(response, decision.status, decision.code, decision.message);

  StoredShare share;
  share.id = id;
  const auto claimToken =
      startShare(share, "doc", caller->owner(), caller->address, decision, moment);
  share.filename = filename.empty() ? "file" : filename;
  share.contentType = contentType.empty() ? "application/octet-stream" : contentType;
  share.size = static_cast<std::int64_t>(blob->size());
  share.blob = id;
  share.comment = meta.comment;
  share.maxDownloads = meta.maxDownloads.value_or(0);
  share.disableDownload = meta.disableDownload.value_or(false);
  share.burnAfterReading = meta.burnAfterReading.value_or(false);
  if (meta.watermark) share.watermark = ShareJSON::encoder().encode(*meta.watermark);

  // The blob is complete on disk before its row exists: a crash leaves no row without content.
  try {
    blob->commit();
  } catch (const fs::filesystem_error& error) {
    return failStorage(response, error.code().value());
  }
  auto inserted = ServiceStore::Insertion::slugTaken;
  try {
    inserted = insertWithSlug(store_, share, decision.slug, idempotency.scope(), rule.quota);
  } catch (...) {
    blobs_.remove(id);  // its row never came: the blob goes now, not at the next start
    throw;
  }
  if (inserted != ServiceStore::Insertion::inserted) {
    blobs_.remove(id);
    return failInsertion(response, inserted, rule);
  }
  announce(share);
  response.headers.erase("Connection");  // the body was read whole: the connection may stay
  idempotency.used();
  answerPublished(response, share, *caller, claimToken);
}

void ShareService::publishLink(const httplib::Request& request, const std::string& requestBody,
                               httplib::Response& response, bool anonymous) {
  auto caller = anonymous ? Caller{{}, {}, clientOfAddress(request.remote_addr)}
                          : signedIn(request, response);
  if (!caller) return;
  const auto moment = now();
  IdempotencyKey idempotency(store_, *caller, idempotencyKeyOf(request), moment);
  if (idempotency.answered(*this, response)) return;
  const auto rule = quotaRule(caller->owner(), caller->address, caller->plan, "link", moment,
                              options_.anonymousActiveLimit);
  if (usedUp(store_, rule.quota)) return fail(response, 403, rule.code, rule.message);
  const auto parsed = parseBody<LinkCreateRequest>(requestBody);
  if (!parsed)
    return fail(response, 400, Generic::invalidRequest, "the body is no valid link request");
  const auto& body = *parsed;
  const auto target = Url::parse(body.url);
  const auto scheme = target ? UnicodeText::lowercased(target->scheme()) : std::string();
  if (!target || !target->host() || (scheme != "http" && scheme != "https")) {
    return fail(response, 400, Codes::validationError, "the url must be an http(s) link");
  }
  const auto decision = decide(caller->plan, body.keepDays, body.slug, body.password);
  if (decision.status != 0) return fail(response, decision.status, decision.code, decision.message);

  StoredShare share;
  share.id = makeLowercaseUUID();
  share.url = body.url;
  const auto claimToken =
      startShare(share, "link", caller->owner(), caller->address, decision, moment);
  const auto inserted =
      insertWithSlug(store_, share, decision.slug, idempotency.scope(), rule.quota);
  if (inserted != ServiceStore::Insertion::inserted) {
    return failInsertion(response, inserted, rule);
  }
  announce(share);
  idempotency.used();
  answerPublished(response, share, *caller, claimToken);
}

/// The reply to a publish: the share as the service describes it, with the claim token of an
/// anonymous one.
void ShareService::answerPublished(httplib::Response& response, const StoredShare& share,
                                   const Caller& caller, const std::string& claimToken) {
  const auto uid = caller.anonymous() ? std::string("anonymous") : caller.account->id;
  requestNotes.slug = share.slug;
  if (share.kind == "link") {
    LinkRecord link;
    link.uid = uid;
    link.id = share.id;
    link.url = share.url.value_or("");
    link.slug = share.slug;
    link.ctime = share.ctime;
    link.mtime = share.ctime;
    link.exp_days = share.expDays;
    return reply(response,
                 LinkCreateResponse{true, link,
                                    caller.anonymous() ? std::optional(claimToken) : std::nullopt});
  }
  std::optional<WatermarkSettings> watermark;
  if (share.watermark) watermark = ShareJSON::decoder().decode<WatermarkSettings>(*share.watermark);
  const DocShare doc{uid,
                     share.id,
                     share.slug,
                     share.filename.value_or("file"),
                     "blobs/" + share.blob.value_or(""),
                     share.contentType.value_or(""),
                     share.size,
                     share.comment,
                     share.ctime,
                     share.ctime,
                     share.expDays,
                     std::nullopt,
                     share.maxDownloads,
                     share.downloadCount,
                     share.disableDownload,
                     share.burnAfterReading,
                     watermark,
                     std::nullopt,
                     0};
  if (caller.anonymous()) return reply(response, AnonDocCreateResponse{true, {doc, claimToken}});
  reply(response, DocCreateResponse{true, {doc}});
}

/// Answers a repeated publish (same Idempotency-Key, same caller) with the share the first one
/// made. An anonymous caller gets a new claim token for it: the first reply never arrived, and
/// only the claim's hash is kept.
void ShareService::replayPublished(httplib::Response& response, const std::string& slug,
                                   const Caller& caller) {
  const auto share = store_.share(slug);
  if (!share) return fail(response, 410, Generic::expired, "the share of this request is gone");
  std::string claimToken;
  if (caller.anonymous()) {
    claimToken = ServiceSecrets::newSecretToken();
    store_.replaceClaim(slug, ServiceSecrets::secretHash(claimToken));
  }
  answerPublished(response, *share, caller, claimToken);
}

void ShareService::announce(const StoredShare& share) {
  if (!share.owner) return;
  const auto title = share.comment ? share.comment : share.filename;
  store_.addNotices(*share.owner, DeviceNotice{{},
                                               NoticeTypeValues::shareNew,
                                               noticeKind(share),
                                               title,
                                               share.slug,
                                               shortUrl(share.slug),
                                               std::nullopt,
                                               std::nullopt,
                                               share.ctime,
                                               share.expiresAt});
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
