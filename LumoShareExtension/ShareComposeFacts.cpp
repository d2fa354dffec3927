#include "ShareComposeFacts.hpp"

namespace lumo {

ShareComposeFacts ShareComposeFacts::make(ShareUploadSession::TokenState state,
                                          const StagedShare& staged, const ShareStorage& storage,
                                          std::int64_t nowMs) {
  ShareComposeFacts facts{state, ShareCompose::isLinkOnly(staged), std::nullopt};
  if (!facts.isAnonymous()) facts.plan = SharePlanStore{storage}.load(nowMs);
  return facts;
}

ShareComposeDraft ShareComposeFacts::makeDraft(const ShareSettings& settings,
                                               const StagedShare& staged) const {
  const auto titlePrefill = isLinkOnly ? std::nullopt : staged.payload.title;
  return ShareComposeDraft::make(settings, isAnonymous(), isLinkOnly, titlePrefill, plan);
}

std::vector<ShareComposeIssue> ShareComposeFacts::issues(const ShareComposeDraft& draft) const {
  return draft.issues(isLinkOnly, isAnonymous());
}

ShareOptions ShareComposeFacts::makeOptions(const ShareComposeDraft& draft) const {
  return draft.makeOptions(isLinkOnly, isAnonymous(), !isFreePlan());
}

}  // namespace lumo
