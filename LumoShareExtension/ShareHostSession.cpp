#include "ShareHostSession.hpp"

#include "ShareBindCoordinator.hpp"
#include "ShareEntitlementsClient.hpp"
#include "ShareTime.hpp"

namespace lumo {

std::optional<std::string> ShareHostSession::accountToken() const {
  const auto resolution = uploads.resolveToken(currentTimeMs());
  if (!resolution.token) return std::nullopt;
  return resolution.token->accessToken;
}

std::optional<SharePlan> ShareHostSession::refreshPlan() const {
  const auto token = accountToken();
  if (!token) return std::nullopt;
  const auto me = ShareEntitlementsClient{apiBase, *token, uploads.transport}.fetch();
  auto plan = SharePlan::make(me, currentTimeMs());
  SharePlanStore{uploads.queue->storage()}.save(plan);
  return plan;
}

std::optional<ShareBindReport> ShareHostSession::bindPending() const {
  const auto token = accountToken();
  if (!token) return std::nullopt;
  return ShareBindCoordinator(uploads.queue, apiBase, *token, uploads.transport).bindPending();
}

}  // namespace lumo
