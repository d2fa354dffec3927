// The service's publishing routes: documents and links, signed in or anonymous, each through one
// prologue (caller, idempotency key, quota), and the reply a publish or its repeat gets.
#include <algorithm>
#include <cerrno>

#include "DocShare.hpp"
#include "LinkRecord.hpp"
#include "ServiceReplies.hpp"
#include "ServiceRequests.hpp"
#include "ShareService.hpp"
#include "ShareUUID.hpp"
#include "ShareVocabularies.hpp"
#include "UnicodeText.hpp"
#include "Url.hpp"

namespace lumo::service {
namespace fs = std::filesystem;
namespace {

constexpr std::int64_t secondsPerDay = 86400;
/// What a document's upload may carry besides the file: its metadata and the multipart framing.
constexpr std::int64_t multipartAllowance = 2 * ShareService::maxJSONBodyBytes;

std::string randomSlug() {
  return ServiceSecrets::randomCode("abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789", 8);
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

/// The share's lifetime, slug and password as the caller's plan allows them, or the error to
/// answer (status, code, message).
struct Decision {
  int status = 0;  ///< 0: allowed
  std::string code;
  std::string message;
  std::int64_t days = 0;
  std::optional<std::string> slug{};
  std::optional<std::string> password{};
};

Decision decide(const std::optional<PlanRules>& plan, std::optional<std::int64_t> days,
                const std::optional<std::string>& slug,
                const std::optional<std::string>& password) {
  Decision decision;
  if (!plan) {  // anonymous: a fixed lifetime; slug, lifetime and password are ignored
    decision.days = ShareApple::anonymousMaxExpiresInSeconds / secondsPerDay;
    return decision;
  }
  decision.days =
      std::clamp<std::int64_t>(days.value_or(ShareApple::defaultExpiresInSeconds / secondsPerDay),
                               ShareApple::minExpiresInSeconds / secondsPerDay, plan->maxDays);
  if (password && !password->empty() && !plan->allowsPassword) {
    return {403, Codes::featureRequiresPaidPlan, "password protection needs the Pro plan"};
  }
  if (slug && !isValidSlug(*slug, plan->minSlugLength)) {
    return {
        400, Codes::validationError,
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
  share.expiresAt = moment + decision.days * secondsPerDay;
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

struct ShareService::Publish {
  const Caller& caller;
  std::int64_t moment;
  IdempotencyKey& idempotency;
  QuotaRule rule;
};

void ShareService::publishRoutes() {
  server_->set_payload_max_length(
      static_cast<std::size_t>(ShareApple::maxUploadBytes + multipartAllowance));
  for (const bool anonymous : {false, true}) {
    const std::string prefix = anonymous ? "/api/v1/anon/" : "/api/v1/";
    server_->Post(prefix + "docs", [this, anonymous](const httplib::Request& request,
                                                     httplib::Response& response,
                                                     const httplib::ContentReader& reader) {
      // A refusal may leave the body unread: the connection must not carry it into a next
      // request.
      response.set_header("Connection", "close");
      publish(request, response, anonymous, "doc",
              [&](Publish& publish) { publishDocument(request, response, reader, publish); });
    });
    postJSON(prefix + "links",
             [this, anonymous](const auto& request, const auto& body, auto& response) {
               publish(request, response, anonymous, "link",
                       [&](Publish& publish) { publishLink(body, response, publish); });
             });
  }
}

void ShareService::publish(const httplib::Request& request, httplib::Response& response,
                           bool anonymous, const std::string& kind,
                           const std::function<void(Publish&)>& next) {
  const auto caller = anonymous ? Caller{{}, {}, clientOf(request)} : signedIn(request, response);
  if (!caller) return;
  const auto moment = now();
  IdempotencyKey idempotency(store_, *caller, idempotencyKeyOf(request), moment);
  if (idempotency.answered(*this, response)) return;
  Publish publish{*caller, moment, idempotency,
                  quotaRule(caller->owner(), caller->address, caller->plan, kind, moment,
                            options_.anonymousActiveLimit)};
  const auto& rule = publish.rule;
  if (usedUp(store_, rule.quota)) return fail(response, 403, rule.code, rule.message);
  next(publish);
}

void ShareService::publishDocument(const httplib::Request& request, httplib::Response& response,
                                   const httplib::ContentReader& reader, Publish& publish) {
  const auto& [caller, moment, idempotency, rule] = publish;
  const auto limit = caller.maxBytes();
  const auto declared = request.get_header_value<std::uint64_t>("Content-Length");
  if (declared > static_cast<std::uint64_t>(limit + multipartAllowance)) {
    return fail(response, 413, Codes::fileSizeExceeded, "the file is too large");
  }
  if (!request.is_multipart_form_data()) {
    return fail(response, 400, Generic::invalidRequest, "a multipart body is required");
  }

  const auto id = makeLowercaseUUID();
  std::unique_ptr<BlobWriter> blob;
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
          blob = blobs_.create(id);
        } catch (const fs::filesystem_error& error) {
          storageError = error.code().value();
        }
        return blob != nullptr;
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
  const auto decision = decide(caller.plan, meta.expDays, meta.slug, meta.password);
  if (decision.status != 0) return fail(response, decision.status, decision.code, decision.message);

  StoredShare share;
  share.id = id;
  const auto claimToken =
      startShare(share, "doc", caller.owner(), caller.address, decision, moment);
  // A part's header may carry any bytes (a Latin-1 file name); the records hold text.
  share.filename = filename.empty() ? "file" : UnicodeText::wellFormed(filename);
  share.contentType =
      contentType.empty() ? "application/octet-stream" : UnicodeText::wellFormed(contentType);
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
  answerPublished(response, share, caller, claimToken);
}

void ShareService::publishLink(const std::string& requestBody, httplib::Response& response,
                               Publish& publish) {
  const auto& [caller, moment, idempotency, rule] = publish;
  const auto parsed = parseBody<LinkCreateRequest>(requestBody);
  if (!parsed)
    return fail(response, 400, Generic::invalidRequest, "the body is no valid link request");
  const auto& body = *parsed;
  const auto target = Url::parse(body.url);
  const auto scheme = target ? UnicodeText::lowercased(target->scheme()) : std::string();
  if (!target || !target->host() || (scheme != "http" && scheme != "https")) {
    return fail(response, 400, Codes::validationError, "the url must be an http(s) link");
  }
  const auto decision = decide(caller.plan, body.keepDays, body.slug, body.password);
  if (decision.status != 0) return fail(response, decision.status, decision.code, decision.message);

  StoredShare share;
  share.id = makeLowercaseUUID();
  share.url = body.url;
  const auto claimToken =
      startShare(share, "link", caller.owner(), caller.address, decision, moment);
  const auto inserted =
      insertWithSlug(store_, share, decision.slug, idempotency.scope(), rule.quota);
  if (inserted != ServiceStore::Insertion::inserted) {
    return failInsertion(response, inserted, rule);
  }
  announce(share);
  idempotency.used();
  answerPublished(response, share, caller, claimToken);
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

DeviceNotice ShareService::noticeOf(const StoredShare& share, const char* type,
                                    std::int64_t at) const {
  DeviceNotice notice;
  notice.type = type;
  notice.kind = noticeKind(share);
  notice.title = share.comment ? share.comment : share.filename;
  notice.slug = share.slug;
  notice.short_url = shortUrl(share.slug);
  notice.created_at = at;
  notice.expires_at = share.expiresAt;  // a notice goes when its share would
  return notice;
}

void ShareService::announce(const StoredShare& share) {
  if (share.owner) {
    store_.addNotices(*share.owner, noticeOf(share, NoticeTypeValues::shareNew, share.ctime));
  }
}

}  // namespace lumo::service
