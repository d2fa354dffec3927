#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <variant>

#include "DocShare.hpp"
#include "LinkRecord.hpp"
#include "RetryPolicy.hpp"
#include "ShareHTTPTransport.hpp"
#include "ShareMultipart.hpp"
#include "ShareOptions.hpp"
#include "ShareTime.hpp"
#include "ShareUploadError.hpp"
#include "ShareUploadOutcome.hpp"
#include "StagedShare.hpp"
#include "Url.hpp"

namespace lumo {

/// Publishes one staged share: as a short link, or as one document (the single staged file, a
/// Markdown file made of text and chat, or a zip of several items). It enforces the client-side
/// size limits, maps the compose options onto the service's metadata, sends with a bounded
/// retry and turns the reply into a ShareUploadOutcome. Every failure is a ShareUploadError
/// (a zip that cannot be written passes its ShareZipError on). An immutable value: each upload
/// makes its own; it may be used from any thread.
class ShareUploadClient {
 public:
  /// What goes out: a link to shorten, or one document with an optional title.
  struct LinkPlan {
    std::string url;
    bool operator==(const LinkPlan&) const = default;
  };
  /// The document's bytes are pieces (the staged files stay on disk until they are sent).
  struct DocumentPlan {
    std::string filename;
    std::string mimeType;
    ShareRequestParts content;
    std::optional<std::string> title;
    bool operator==(const DocumentPlan&) const = default;
  };
  using Plan = std::variant<LinkPlan, DocumentPlan>;

  /// Waits `duration` on the monotonic clock; false when `stop` was requested first.
  using Sleeper = std::function<bool(std::chrono::milliseconds duration, std::stop_token stop)>;

  /// Collaborators with their defaults: the system clock and random source, a real sleep and the
  /// share-page base of the information dictionary.
  struct Environment {
    ShareClock nowMs = systemClock();
    ShareRandom random = systemRandom();
    Sleeper sleep = sleepUnlessStopped;
    std::string sharePageBase = defaultSharePageBase();
  };

  static constexpr std::int64_t maxExpDays = 365;

  ShareUploadClient(Url apiBase, std::optional<std::string> token,
                    std::shared_ptr<ShareHTTPTransport> transport,
                    RetryPolicy retry = RetryPolicy::defaultValue());
  ShareUploadClient(Url apiBase, std::optional<std::string> token,
                    std::shared_ptr<ShareHTTPTransport> transport, RetryPolicy retry,
                    Environment environment);

  /// No token, or an empty one.
  bool isAnonymous() const;
  /// Who is told how a document's upload advances.
  void setUploadProgress(ShareUploadProgress progress) { progress_ = std::move(progress); }

  /// Plans and publishes `staged`, whose files lie in `directory`. `stop` ends a transfer or a
  /// retry wait at once with `cancelled`.
  ShareUploadOutcome upload(const StagedShare& staged, const std::filesystem::path& directory,
                            const ShareOptions& options, std::stop_token stop = {}) const;

  /// A link when the share is one web link and nothing else; else the one document to send.
  Plan makePlan(const StagedShare& staged, const std::filesystem::path& directory,
                const ShareOptions& options) const;
  /// Sends the document as a multipart body streamed from its pieces; the sizes were checked
  /// when it was planned.
  ShareUploadOutcome publishDoc(const DocumentPlan& document, const StagedShare& staged,
                                const ShareOptions& options, std::stop_token stop = {}) const;
  ShareUploadOutcome publishLink(const std::string& url, const StagedShare& staged,
                                 const ShareOptions& options, std::stop_token stop = {}) const;

  /// The document metadata for these options; anonymous uploads carry no slug, lifetime or
  /// password.
  DocMetadata metadata(const std::optional<std::string>& title, const ShareOptions& options) const;
  /// The link request for these options; anonymous ones carry only the URL.
  LinkCreateRequest linkRequest(const std::string& url, const ShareOptions& options) const;

  /// Fails with `payloadTooLarge` above 10 MiB anonymously, 100 MiB signed in.
  void checkUploadSize(std::int64_t size, const std::string& name) const;
  /// Fails with `payloadTooLarge` above 10 MiB anonymously; no limit signed in.
  void checkAnonymousSize(std::int64_t size, const std::string& name) const;

  /// Runs `operation`, retrying retryable upload errors per the retry policy. A wait is the
  /// reply's "Retry-After" or the policy's back-off, never more than
  /// ShareApple::maxRetryDelayMs (an hour).
  std::string withRetry(const std::function<std::string()>& operation, std::stop_token stop) const;
  /// Sends a request with its body and answers the reply body of a 2xx reply; every failure is
  /// mapped to a ShareUploadError.
  std::string perform(const ShareHTTPRequest& request, std::stop_token stop) const;

  /// The public share-page base: the information dictionary's "LumoShareSharePageBase" when it
  /// is an http or https origin ending in "/", else the built-in one.
  static std::string defaultSharePageBase();
  /// The real wait of the environment: a monotonic sleep that a stop request cuts short. A
  /// duration too long for the clock waits for the stop request alone.
  static bool sleepUnlessStopped(std::chrono::milliseconds duration, std::stop_token stop);

  const Url& apiBase() const { return apiBase_; }
  const std::optional<std::string>& token() const { return token_; }
  const RetryPolicy& retry() const { return retry_; }

 private:
  DocumentPlan singleFilePlan(const StagedShare& staged,
                              const std::filesystem::path& directory) const;
  DocumentPlan markdownPlan(const StagedShare& staged,
                            const std::optional<std::string>& markdown) const;
  DocumentPlan bundlePlan(const StagedShare& staged, const std::filesystem::path& directory,
                          const std::optional<std::string>& markdown) const;
  ShareHTTPRequest postRequest(const std::string& path, std::optional<std::string> body,
                               const std::string& contentType, const StagedShare& staged) const;
  /// Sends through `send` and answers the reply body of a 2xx reply, as `perform` does.
  std::string validated(const std::function<ShareHTTPReply()>& send) const;
  std::int64_t expDays(const ShareOptions& options) const;
  /// How long to wait after failed attempt `attempt`: within 0…ShareApple::maxRetryDelayMs.
  std::int64_t retryWaitMs(const ShareUploadError& error, std::int64_t attempt) const;
  /// What a publish answers: the short link on the share-page base, the expiry from the reply's
  /// creation time and lifetime, and the claim token of an anonymous upload.
  ShareUploadOutcome outcome(const std::string& kind, const std::string& slug,
                             const std::string& title, std::int64_t ctimeSeconds, std::int64_t days,
                             const std::optional<std::string>& claimToken) const;

  Url apiBase_;
  std::optional<std::string> token_;
  std::shared_ptr<ShareHTTPTransport> transport_;
  RetryPolicy retry_;
  ShareUploadProgress progress_;
  Environment environment_;
};

}  // namespace lumo
