#include "ShareUploadSession.hpp"

#include "ShareAppleBundle.hpp"
#include "ShareTime.hpp"

namespace lumo {

const char* ShareUploadSession::rawValue(TokenState state) {
  switch (state) {
    case TokenState::signedIn:
      return "signedIn";
    case TokenState::expired:
      return "expired";
    case TokenState::signedOut:
      return "signedOut";
  }
  return "signedOut";
}

std::optional<ShareUploadSession::TokenState> ShareUploadSession::tokenState(
    std::string_view rawValue) {
  for (const auto state : {TokenState::signedIn, TokenState::expired, TokenState::signedOut}) {
    if (rawValue == ShareUploadSession::rawValue(state)) return state;
  }
  return std::nullopt;
}

ShareUploadSession ShareUploadSession::makeDefault(std::shared_ptr<ShareHTTPTransport> transport) {
  auto storage = ShareStorage::resolve();
  auto queue = std::make_shared<PendingShareQueue>(storage);
  ShareTokenStore tokens(storage, ShareAppleBundle::main()->keychainAccessGroup(), false);
  return ShareUploadSession{std::move(queue), std::move(tokens), ShareSettingsStore{storage},
                            std::move(transport), RetryPolicy::defaultValue()};
}

ShareUploadSession::TokenResolution ShareUploadSession::resolveToken(std::int64_t nowMs) const {
  auto token = tokenStore.load();
  if (!token) return {};
  if (token->expiresAt && nowMs >= *token->expiresAt - expiryMarginMs) return {std::nullopt, true};
  return {std::move(token), false};
}

ShareUploadSession::TokenState ShareUploadSession::tokenState() const {
  const auto resolution = resolveToken(currentTimeMs());
  if (resolution.token) return TokenState::signedIn;
  return resolution.expired ? TokenState::expired : TokenState::signedOut;
}

bool ShareUploadSession::isAnonymous() const {
  return !resolveToken(currentTimeMs()).token;
}

}  // namespace lumo
