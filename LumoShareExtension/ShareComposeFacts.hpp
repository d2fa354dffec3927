#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "ShareComposeDraft.hpp"
#include "SharePlan.hpp"
#include "ShareSettings.hpp"
#include "ShareStorage.hpp"
#include "ShareUploadSession.hpp"
#include "StagedShare.hpp"

namespace lumo {

/// What decides what one share's compose form may carry: signed in or anonymous (with the
/// sign-in's state, which the hint names), a bare link or a document, and the account's cached
/// plan. The panel and the command-line tool read them once per share and ask them every rule
/// they share, so both publish the same share the same way.
struct ShareComposeFacts {
  ShareUploadSession::TokenState tokenState = ShareUploadSession::TokenState::signedOut;
  bool isLinkOnly = false;
  std::optional<SharePlan> plan;  ///< the cached plan; never read for an anonymous share

  /// The facts of `staged` for a sign-in in `state`, with the plan cached under `storage`.
  static ShareComposeFacts make(ShareUploadSession::TokenState state, const StagedShare& staged,
                                const ShareStorage& storage, std::int64_t nowMs);

  /// Published without an account token: anything but a valid sign-in.
  bool isAnonymous() const { return tokenState != ShareUploadSession::TokenState::signedIn; }
  /// A cached free plan: the form offers no password.
  bool isFreePlan() const { return plan && plan->isFreePlan(); }

  /// The form of the newly loaded `staged` over the saved `settings`, titled by its payload.
  ShareComposeDraft makeDraft(const ShareSettings& settings, const StagedShare& staged) const;
  std::vector<ShareComposeIssue> issues(const ShareComposeDraft& draft) const;
  /// The publishing options of `draft`: a password only where the plan allows one.
  ShareOptions makeOptions(const ShareComposeDraft& draft) const;
};

}  // namespace lumo
