#pragma once
// Taking back a share this machine published: the service deletes it (its page, file and preview
// answer "gone" from then on) and the upload record goes. A signed-in share is taken back with
// the account, an anonymous one with the claim token its upload record keeps until the claim is
// bound, then with the account.

#include <chrono>
#include <exception>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "ShareHostSession.hpp"
#include "ShareUploadRecord.hpp"

namespace lumo {

/// A take-back that was not sent: the share was published on another service than the one the
/// tool talks to now (it was pointed elsewhere since). There its slug may name someone else's
/// share, and the share's claim must not travel there. `what()` is the person's text.
class ShareElsewhereError : public std::exception {
 public:
  explicit ShareElsewhereError(std::string shortUrl);
  const std::string& shortUrl() const noexcept { return shortUrl_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string shortUrl_;
  std::string message_;
};

/// What the service answered a take-back.
enum class ShareDeletionResult {
  deleted,      ///< taken back now, or before by the same account or claim (deletes repeat safely)
  alreadyGone,  ///< nothing left to take back: the share had expired
  refused,      ///< the service holds no live share of this name for this account or claim
  unsupported,  ///< the service cannot take shares back (it does not know the routes)
};

class ShareDeletion {
 public:
  explicit ShareDeletion(ShareHostSession host) : host_(std::move(host)) {}

  /// This machine's upload record of a slug, or of a short link as printed.
  std::optional<ShareUploadRecord> record(std::string_view slugOrLink) const;

  /// Asks the service to take the share back; a share whose short link is not on the service's
  /// share pages throws ShareElsewhereError before anything is sent. `deleted` and `alreadyGone`
  /// remove the upload record; `refused` and `unsupported` keep it. A request left without an
  /// answer counts as `deleted` when the share's page says it is gone. Throws ShareAPIError:
  /// status 401 when the share needs the account and nobody is signed in (or the sign-in
  /// expired), status 0 "transport" when the service cannot be reached, status 0
  /// "settingsChanged" when the tool was pointed at another service since this program started
  /// (nothing is sent), else the account mapping of the service's reply.
  ShareDeletionResult takeBack(const ShareUploadRecord& record, std::stop_token stop = {}) const;

  /// Whether the service still serves the share, asked of its page with a HEAD (no view, never
  /// a burn; a link's redirect is not followed): false for 404 and 410 (expired, taken back
  /// elsewhere, burned, used up), true for any other answer; nothing when the page cannot be
  /// reached within `timeout` or the record's link is no web address.
  std::optional<bool> served(const ShareUploadRecord& record, std::chrono::milliseconds timeout,
                             std::stop_token stop = {}) const;

 private:
  void refuseIfPointedElsewhere() const;
  ShareDeletionResult ask(const ShareUploadRecord& record, bool byClaim,
                          std::stop_token stop) const;

  ShareHostSession host_;
};

}  // namespace lumo
