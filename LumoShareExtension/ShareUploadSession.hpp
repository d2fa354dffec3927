#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <variant>

#include "HeldShare.hpp"
#include "PendingShareQueue.hpp"
#include "RetryPolicy.hpp"
#include "ShareHTTPTransport.hpp"
#include "ShareL10n.hpp"
#include "ShareSettings.hpp"
#include "ShareToken.hpp"
#include "ShareTokenStore.hpp"
#include "ShareUploadError.hpp"
#include "ShareUploadOutcome.hpp"
#include "ShareUploadReport.hpp"

namespace lumo {

/// Publishes staged shares for the panel, the command-line tool and the background drain, and
/// keeps the queue in step: every attempt is marked uploading, then succeeded (an upload record)
/// or failed (with its error text). It decides at every call whether the user's account can be
/// used: it reads the stored token each time (so a sign-in elsewhere counts at once), with a
/// one-minute expiry margin; a token the service rejects makes the share go out anonymously.
/// A share is published only by the owner of its lease (see ShareLease): an upload takes it for
/// the whole attempt, a drain skips what someone else holds, so however many programs drain at
/// once, each share is sent once. An immutable value; copies share the queue. Nothing here
/// throws: results carry failures.
struct ShareUploadSession {
  /// Within this much of its expiry a token counts as expired: it must not die in flight.
  static constexpr std::int64_t expiryMarginMs = 60000;

  /// A usable token, an expired one, or nothing stored; never both fields set.
  struct TokenResolution {
    std::optional<ShareToken> token;
    bool expired = false;
    bool operator==(const TokenResolution&) const = default;
  };

  enum class TokenState { signedIn, expired, signedOut };
  static const char* rawValue(TokenState state);
  /// Exactly "signedIn", "expired" or "signedOut".
  static std::optional<TokenState> tokenState(std::string_view rawValue);

  std::shared_ptr<PendingShareQueue> queue;
  ShareTokenStore tokenStore;
  ShareSettingsStore settingsStore;
  std::shared_ptr<ShareHTTPTransport> transport;
  RetryPolicy retry;

  /// The process's uploads (ShareContext::process(): its one queue, the token mirror only, never
  /// the keychain, the settings, the default retry policy) over `transport`.
  static ShareUploadSession makeDefault(std::shared_ptr<ShareHTTPTransport> transport);

  /// The stored token as of `nowMs`. Never fails: anything unreadable is nothing stored.
  TokenResolution resolveToken(std::int64_t nowMs) const;
  TokenState tokenState() const;
  /// No usable token (an expired one makes the session anonymous).
  bool isAnonymous() const;

  using UploadResult = std::variant<ShareUploadOutcome, ShareUploadError>;
  /// Publishes the queued share `clientShareId` now, with `options` when given (stored with the
  /// share when they differ). `stop` cancels the transfer or a retry wait; `progress` hears how
  /// a document's upload advances. A share another thread or program is working on is left
  /// alone and answered with `busyText`.
  UploadResult uploadNow(const std::string& clientShareId,
                         const std::optional<ShareOptions>& options = std::nullopt,
                         std::stop_token stop = {}, ShareUploadProgress progress = {}) const;
  /// Publishes a share its caller holds: the first call enqueues it with `options` (a share
  /// that cannot be queued is answered as a failure and stays held), later calls retry it. A
  /// failed attempt leaves the share queued and lets go of it, so that others may send it too.
  UploadResult uploadNow(HeldShare& share, const std::optional<ShareOptions>& options,
                         std::stop_token stop = {}, ShareUploadProgress progress = {}) const;
  /// Publishes the due shares of the queue, oldest first, at most `limit`, one after another,
  /// skipping those another owner holds. A stop ends the pass before its next share and leaves
  /// the shares not yet taken as they were.
  ShareUploadReport drain(std::int64_t limit, bool includeExhausted = false,
                          std::stop_token stop = {}) const;

  /// Why `uploadNow` left a share alone: another thread or program is working on it.
  static constexpr const char* busyText = ShareL10n::marked("分享正由另一个程序上传：");

 private:
  UploadResult uploadOwned(const ShareLease& lease, const std::optional<ShareOptions>& options,
                           std::stop_token stop, const ShareUploadProgress& progress) const;
  ShareUploadOutcome publish(const QueuedShare& share, const ShareSettings& settings,
                             const std::optional<std::string>& token, std::stop_token stop,
                             const ShareUploadProgress& progress = {}) const;
  /// Publishes with `token`, and again without it when the service rejects it; `onRejected`
  /// is told when that happens.
  template <class OnRejected>
  ShareUploadOutcome publishWithFallback(const QueuedShare& share, const ShareSettings& settings,
                                         const std::optional<std::string>& token,
                                         std::stop_token stop, OnRejected onRejected,
                                         const ShareUploadProgress& progress = {}) const;
};

}  // namespace lumo
