#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "PendingShareQueue.hpp"
#include "RetryPolicy.hpp"
#include "ShareHTTPTransport.hpp"
#include "ShareSettings.hpp"
#include "ShareToken.hpp"
#include "ShareTokenStore.hpp"

namespace lumo {

/// Publishes staged shares for the panel, the command-line tool and the background drain. This
/// part decides, at any moment, whether the user's account can be used: it reads the stored
/// token on every call (so a sign-in elsewhere counts at once), with a one-minute expiry margin.
/// An immutable value; copies share the queue.
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

  /// Over the resolved storage root: a new queue, the token mirror only (never the keychain),
  /// the settings, `transport`, and the default retry policy.
  static ShareUploadSession makeDefault(std::shared_ptr<ShareHTTPTransport> transport);

  /// The stored token as of `nowMs`. Never fails: anything unreadable is nothing stored.
  TokenResolution resolveToken(std::int64_t nowMs) const;
  TokenState tokenState() const;
  /// No usable token (an expired one makes the session anonymous).
  bool isAnonymous() const;
};

}  // namespace lumo
