#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "DataFolderLock.hpp"
#include "FolderBlobStore.hpp"
#include "RateLimiter.hpp"
#include "RequestLog.hpp"
#include "ServiceHttpServer.hpp"
#include "ServiceSecrets.hpp"
#include "ServiceStore.hpp"
#include "ShareApple.hpp"

namespace lumo::service {

/// What an account's plan allows.
struct PlanRules {
  std::string key;
  std::string displayName;
  std::int64_t maxDocumentBytes = 0;
  std::int64_t maxDays = 0;
  bool allowsPassword = false;
  std::int64_t maxDocuments = 0;
  std::int64_t maxLinks = 0;
  std::int64_t minSlugLength = 0;

  /// "hobby" or "pro"; nothing for another key.
  static std::optional<PlanRules> named(const std::string& key);
};

/// The reference LumoShare service: the API under "/api/v1" (publishing, taking shares back,
/// claim binding, the account's plan, device pairing, devices and their notices, health) over
/// SQLite and a blob folder, and the share pages at the public base. One object serves many
/// threads; its state is on disk. A thread of its own purges expired shares.
class ShareService {
 public:
  struct Options {
    /// The blobs, and unless `database` is set the records (SQLite) and the signing key.
    std::filesystem::path dataDirectory;
    /// "postgresql://…": the records are in this PostgreSQL database, which other service nodes
    /// may share along with the data folder (a shared mount). Empty: SQLite in the data folder.
    std::string database;
    /// Connections to PostgreSQL this node holds at most.
    std::size_t databaseConnections = ServiceStore::defaultConnections;
    std::string publicBase = "http://127.0.0.1:8787/";  ///< origin of the share pages, "/" last
    std::function<std::int64_t()> nowSeconds;           ///< the clock; the system's by default
    bool accessLog = true;                              ///< one line per request on stderr
    double rateBurst = 120;                  ///< requests a caller may make at once; 0: no limit
    double ratePerSecond = 2;                ///< how fast a caller's allowance refills
    std::chrono::seconds sweepInterval{60};  ///< how often expired shares are purged
    std::filesystem::path tlsCertificate;    ///< with `tlsKey`: serve HTTPS
    std::filesystem::path tlsKey;
    /// Unexpired anonymous shares one address may hold at once.
    std::int64_t anonymousActiveLimit = ShareApple::anonymousActiveLimit;
    /// Every API request is answered no sooner than this after it arrived: its handler waits
    /// before doing anything, so that a test's concurrent clients overlap (soak tests).
    std::chrono::milliseconds apiDelay{0};
    /// Whether a publish's "Idempotency-Key" is honoured; without, every publish request makes
    /// a share of its own (soak tests count what the clients really send).
    bool idempotency = true;
    /// When set: one JSON line per API request is appended to this file (see README.md).
    std::filesystem::path requestLog;
    /// What one client may hold of the service: connections, head size and time.
    ConnectionLimits connectionLimits;
  };

  static constexpr std::int64_t pairingSeconds = 600;
  /// Password tries per address and share: this many at once, and this many more a minute.
  static constexpr std::int64_t passwordTries = 5;
  /// Among several nodes, a publish request's reservation or upload this old is taken for the
  /// leftover of a node that died, not a request still under way.
  static constexpr std::int64_t staleReservationSeconds = 3600;
  /// The most a body read into memory may hold: a link request, a document's metadata.
  static constexpr std::size_t maxJSONBodyBytes = 65536;

  /// Opens the data folder (creating it, mode 0700, when missing) and the records, removes what
  /// a crash left and starts the sweeper. Throws DataFolderBusy when another service holds the
  /// folder (any service for SQLite; with PostgreSQL, a service on SQLite),
  /// StoreError, std::runtime_error (secrets, TLS files) or std::filesystem::filesystem_error.
  explicit ShareService(Options options);
  ~ShareService();
  ShareService(const ShareService&) = delete;
  ShareService& operator=(const ShareService&) = delete;

  /// Binds `host:port` (port 0: any free port) and answers the bound port; -1 on failure.
  int bind(const std::string& host, int port);
  /// Serves until `stop`; blocks.
  void listen();
  void stop();

  /// Removes expired shares with their blobs, expired notices and old pairing codes.
  void purgeExpired();

  ServiceStore& store() { return store_; }
  FolderBlobStore& blobs() { return blobs_; }
  const ServiceSecrets& secrets() const { return secrets_; }

 private:
  /// Who is calling: an account with its plan, or an anonymous client.
  struct Caller {
    std::optional<Account> account;
    std::optional<PlanRules> plan;
    std::string address;  ///< the client: an IPv4 address, an IPv6 /64 (`clientOfAddress`)

    bool anonymous() const { return !account.has_value(); }
    std::optional<std::string> owner() const {
      return account ? std::optional(account->id) : std::nullopt;
    }
    std::int64_t maxBytes() const {
      return plan ? plan->maxDocumentBytes : ShareApple::anonymousMaxFileBytes;
    }
  };
  using JSONHandler =
      std::function<void(const httplib::Request&, const std::string& body, httplib::Response&)>;
  void routes();
  /// The API's delay (`Options::apiDelay`) for a request that arrived at `arrived`; a stopping
  /// service waits no longer.
  void delayAnswer(std::chrono::steady_clock::time_point arrived) const;
  void logRequest(const httplib::Request& request, const httplib::Response& response);
  void deviceRoutes();
  void postJSON(const std::string& pattern, JSONHandler handler);
  bool admit(const httplib::Request& request, httplib::Response& response);
  std::optional<Caller> signedIn(const httplib::Request& request, httplib::Response& response);
  std::optional<std::pair<std::string, DeviceInfo>> deviceSignedIn(const httplib::Request& request,
                                                                   httplib::Response& response);
  /// The request's "Idempotency-Key", or "" when the service ignores the header.
  std::string idempotencyKeyOf(const httplib::Request& request) const;
  /// The notice of `type` about `share` that its account's devices get, made at `at`.
  DeviceNotice noticeOf(const StoredShare& share, const char* type, std::int64_t at) const;
  void announce(const StoredShare& share);
  void answerPublished(httplib::Response& response, const StoredShare& share, const Caller& caller,
                       const std::string& claimToken);
  void replayPublished(httplib::Response& response, const std::string& slug, const Caller& caller);

  /// A publish request's "Idempotency-Key": reserved while the request runs, bound to the share
  /// it makes in the share's own insert, or given up when it makes none. A repeat is answered
  /// with the first share.
  class IdempotencyKey {
   public:
    /// `key` is the request's header value; an empty one, or one that is too long or not
    /// printable ASCII, is no key.
    IdempotencyKey(ServiceStore& store, const Caller& caller, const std::string& key,
                   std::int64_t now);
    ~IdempotencyKey();
    IdempotencyKey(const IdempotencyKey&) = delete;
    IdempotencyKey& operator=(const IdempotencyKey&) = delete;
    /// True when the request is answered already: a replay, or a repeat still running.
    bool answered(ShareService& service, httplib::Response& response);
    /// The reserved key, for the share's insert to bind; nothing when there is none.
    std::optional<ServiceStore::KeyScope> scope() const;
    /// The share was inserted with the key: it is no longer to be given up.
    void used();

   private:
    ServiceStore& store_;
    const Caller& caller_;
    std::optional<ServiceStore::KeyScope> key_;  ///< absent: the request has no usable key
    ServiceStore::KeyUse use_;
    bool reserved_ = false;
  };
  void publishRoutes();
  /// What a publish knows once its prologue let it through: who calls and when, its idempotency
  /// key and the quota its share must fit.
  struct Publish;
  /// The prologue of every publish: the caller (anonymous, or signed in), the idempotency key (a
  /// repeat is answered here) and the quota of `kind` (refused here when used up); then `next`.
  void publish(const httplib::Request& request, httplib::Response& response, bool anonymous,
               const std::string& kind, const std::function<void(Publish&)>& next);
  void publishDocument(const httplib::Request& request, httplib::Response& response,
                       const httplib::ContentReader& reader, Publish& publish);
  void publishLink(const std::string& requestBody, httplib::Response& response, Publish& publish);
  void me(const httplib::Request& request, httplib::Response& response);
  void deleteRoutes();
  /// Takes back the share `slug` of `kind` ("doc" or "link") for `holder` and answers: the
  /// deletion, or the same 404 for a share the holder does not hold as for no share at all.
  void takeBack(httplib::Response& response, const std::string& kind, const std::string& slug,
                const ServiceStore::ShareHolder& holder);
  void pageRoutes();
  /// The share a page route names, when it exists, has not expired and is unlocked; else the
  /// page that says why is the response.
  std::optional<StoredShare> openShare(const httplib::Request& request,
                                       httplib::Response& response);
  void sharePage(const httplib::Request& request, httplib::Response& response);
  void unlock(const httplib::Request& request, httplib::Response& response);
  void serveFile(const httplib::Request& request, httplib::Response& response, bool attachment);
  void bindAnonymous(const httplib::Request& request, const std::string& body,
                     httplib::Response& response);
  void pairStart(const httplib::Request& request, const std::string& body,
                 httplib::Response& response);
  void pairClaim(const std::string& body, httplib::Response& response);
  void listDevices(const httplib::Request& request, httplib::Response& response);
  void deleteDevice(const httplib::Request& request, httplib::Response& response);
  void deviceMe(const httplib::Request& request, httplib::Response& response);
  void listNotices(const httplib::Request& request, httplib::Response& response);
  void acknowledgeNotice(const httplib::Request& request, const std::string& body,
                         httplib::Response& response);
  std::string shortUrl(const std::string& slug) const { return options_.publicBase + slug; }
  /// Who sent the request: its address (an IPv6 client by its /64), or behind a trusted proxy
  /// the address the proxy names last in "X-Forwarded-For".
  std::string clientOf(const httplib::Request& request) const;
  std::int64_t now() const;
  void sweepEvery(std::stop_token stop);

  Options options_;
  DataFolderLock folderLock_;  ///< before anything opens the folder (see DataFolderLock)
  ServiceStore store_;
  ServiceSecrets secrets_;
  FolderBlobStore blobs_;
  std::string pagePath_;  ///< the public base's path, "/" last: where share pages live
  RateLimiter rateLimiter_;
  std::unique_ptr<RequestLog> requestLog_;  ///< when `Options::requestLog` is set
  std::atomic<bool> stopping_ = false;      ///< set by `stop`: delayed answers wait no longer
  std::unique_ptr<ServiceHttpServer> server_;
  std::jthread sweeper_;  ///< last: stops before what it uses is destroyed
};

}  // namespace lumo::service
