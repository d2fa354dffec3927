#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "BlobStore.hpp"
#include "ServiceSecrets.hpp"
#include "ServiceStore.hpp"

namespace httplib {
class Server;
struct Request;
struct Response;
class ContentReader;
}  // namespace httplib

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

/// The reference LumoShare service: the publishing API under "/api/v1" ("docs", "anon/docs",
/// "links", "anon/links", "me", "health") over SQLite and a blob folder, and the published
/// content under "/s/<slug>". One object serves many threads; its state is on disk.
class ShareService {
 public:
  struct Options {
    std::filesystem::path dataDirectory;
    std::string publicBase = "http://127.0.0.1:8787/";  ///< origin of the share pages, "/" last
    std::function<std::int64_t()> nowSeconds;           ///< the clock; the system's by default
    bool accessLog = true;                              ///< one line per request on stderr
  };

  static constexpr std::int64_t anonymousMaxBytes = 10485760;
  static constexpr std::int64_t anonymousDays = 1;
  static constexpr std::int64_t anonymousActiveLimit = 5;

  explicit ShareService(Options options);
  ~ShareService();
  ShareService(const ShareService&) = delete;
  ShareService& operator=(const ShareService&) = delete;

  /// Binds `host:port` (port 0: any free port) and answers the bound port; -1 on failure.
  int bind(const std::string& host, int port);
  /// Serves until `stop`; blocks.
  void listen();
  void stop();

  ServiceStore& store() { return store_; }
  const ServiceSecrets& secrets() const { return secrets_; }

 private:
  struct Caller;
  void routes();
  std::optional<Caller> signedIn(const httplib::Request& request, httplib::Response& response);
  void publishDocument(const httplib::Request& request, httplib::Response& response,
                       const httplib::ContentReader& reader, bool anonymous);
  void publishLink(const httplib::Request& request, const std::string& requestBody,
                   httplib::Response& response, bool anonymous);
  void me(const httplib::Request& request, httplib::Response& response);
  void serveContent(const httplib::Request& request, httplib::Response& response);
  std::int64_t now() const;

  Options options_;
  ServiceStore store_;
  ServiceSecrets secrets_;
  BlobStore blobs_;
  std::unique_ptr<httplib::Server> server_;
};

}  // namespace lumo::service
