#include "ShareUploadSession.hpp"

#include "SaturatingMath.hpp"
#include "ShareContext.hpp"
#include "ShareIngestError.hpp"
#include "ShareL10n.hpp"
#include "ShareLogMessages.hpp"
#include "ShareTime.hpp"
#include "ShareUploadClient.hpp"

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
  auto session = ShareContext::process().uploads;
  session.transport = std::move(transport);
  return session;
}

ShareUploadSession::TokenResolution ShareUploadSession::resolveToken(std::int64_t nowMs) const {
  auto token = tokenStore.load();
  if (!token) return {};
  if (token->expiresAt && nowMs >= saturatingSubtract(*token->expiresAt, expiryMarginMs)) {
    return {std::nullopt, true};
  }
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

namespace {

ShareSettings readSettings(const ShareSettingsStore& store) {
  try {
    return store.load();
  } catch (const std::exception&) {
    return ShareSettings::defaultValue();
  }
}

ShareUploadError missingEntry(const std::string& clientShareId) {
  return ShareUploadError::transport(ShareL10n::tr("队列条目丢失：%@", clientShareId));
}

/// A failure that is no ShareUploadError (a queue write, an archive): its description.
struct OtherFailure {
  std::string description;
};
using Attempted = std::variant<ShareUploadOutcome, ShareUploadError, OtherFailure>;

/// Runs `attempt`; a failure is recorded in the queue (a failure to record it is ignored) and
/// answered.
template <class Attempt>
Attempted recorded(PendingShareQueue& queue, const QueuedShare& share, Attempt&& attempt) {
  const auto fail = [&](const std::string& text) {
    try {
      queue.markFailed(share, text);
    } catch (const std::exception&) {
      // The failure is reported all the same; the entry keeps its last state.
    }
  };
  try {
    return attempt();
  } catch (const ShareUploadError& error) {
    fail(queueErrorText(error));
    return error;
  } catch (const std::exception& error) {
    fail(error.what());
    return OtherFailure{error.what()};
  }
}

}  // namespace

ShareUploadOutcome ShareUploadSession::publish(const QueuedShare& share,
                                               const ShareSettings& settings,
                                               const std::optional<std::string>& token,
                                               std::stop_token stop,
                                               const ShareUploadProgress& progress) const {
  const auto options = share.staged().options.value_or(settings.options());
  ShareUploadClient client(ShareSettings::apiBaseURL(), token, transport, retry);
  client.setUploadProgress(progress);
  return client.upload(share.staged(), share.directoryURL, options, stop);
}

template <class OnRejected>
ShareUploadOutcome ShareUploadSession::publishWithFallback(
    const QueuedShare& share, const ShareSettings& settings,
    const std::optional<std::string>& token, std::stop_token stop, OnRejected onRejected,
    const ShareUploadProgress& progress) const {
  try {
    return publish(share, settings, token, stop, progress);
  } catch (const ShareUploadError& error) {
    if (error.kind() != ShareUploadError::Kind::unauthorized || !token || token->empty()) throw;
    onRejected();
    return publish(share, settings, std::nullopt, stop, progress);
  }
}

ShareUploadSession::UploadResult ShareUploadSession::uploadNow(
    const std::string& clientShareId, const std::optional<ShareOptions>& options,
    std::stop_token stop, ShareUploadProgress progress) const {
  const auto lease = queue->claim(clientShareId);
  if (!lease) {
    if (!queue->entry(clientShareId)) return missingEntry(clientShareId);
    return ShareUploadError::transport(ShareL10n::tr(busyText) + clientShareId);
  }
  return uploadOwned(*lease, options, stop, progress);
}

ShareUploadSession::UploadResult ShareUploadSession::uploadNow(
    HeldShare& share, const std::optional<ShareOptions>& options, std::stop_token stop,
    ShareUploadProgress progress) const {
  try {
    share.enqueue(options);
  } catch (const std::exception& error) {
    // Nothing queued, nothing sent; the share stays held for a retry.
    return ShareUploadError::transport(ShareIngestError::queueFailed(error.what()).description());
  }
  if (!share.lease()) return uploadNow(share.staged().clientShareId, options, stop, progress);
  auto result = uploadOwned(*share.lease(), options, stop, progress);
  // A failed share waits in the queue like any other: a drain or the host application may
  // send it while the failure is still on the screen.
  if (std::holds_alternative<ShareUploadError>(result)) share.release();
  return result;
}

ShareUploadSession::UploadResult ShareUploadSession::uploadOwned(
    const ShareLease& lease, const std::optional<ShareOptions>& options, std::stop_token stop,
    const ShareUploadProgress& progress) const {
  const auto clientShareId = lease.clientShareId();
  auto share = queue->entry(clientShareId);
  if (!share) return missingEntry(clientShareId);
  if (options && share->staged().options != options) {
    auto staged = share->staged();
    staged.options = options;
    std::optional<QueuedShare> stored;
    try {
      stored = queue->updateStaged(staged, clientShareId);
    } catch (const std::exception&) {
      // Not stored: this attempt still uses the new options.
    }
    if (stored) {
      share = std::move(stored);
    } else {
      share->entry.staged = std::move(staged);
    }
  }
  const auto settings = readSettings(settingsStore);
  auto result = recorded(*queue, *share, [&] {
    queue->markUploading(*share);
    const auto token = resolveToken(currentTimeMs()).token;
    const auto outcome = publishWithFallback(
        *share, settings, token ? std::optional(token->accessToken) : std::nullopt, stop,
        [] { ShareLogMessages::uploadTokenRejected(); }, progress);
    queue->markSucceeded(*share, outcome);
    return outcome;
  });
  if (auto* outcome = std::get_if<ShareUploadOutcome>(&result)) return std::move(*outcome);
  if (auto* error = std::get_if<ShareUploadError>(&result)) return std::move(*error);
  return ShareUploadError::transport(std::get<OtherFailure>(result).description);
}

ShareUploadReport ShareUploadSession::drain(std::int64_t limit, bool includeExhausted,
                                            std::stop_token stop) const {
  const auto batch = queue->nextBatch(limit, includeExhausted);
  ShareUploadReport report;
  if (batch.empty()) return report;
  const auto resolved = resolveToken(currentTimeMs()).token;
  bool anonymous = !resolved;
  const auto settings = readSettings(settingsStore);
  std::int64_t taken = 0;
  for (const auto& listed : batch) {
    if (stop.stop_requested()) break;
    const auto& id = listed.staged().clientShareId;
    // Another drain, a retry or a panel may have taken the share since the listing; only its
    // owner sends it, and only while it is still due as it stands on disk now.
    const auto lease = queue->claim(listed);
    if (!lease) continue;
    const auto share = queue->entry(listed);
    if (!share || !queue->isDue(share->entry, includeExhausted)) continue;
    ++taken;
    const auto result = recorded(*queue, *share, [&] {
      queue->markUploading(*share);
      const auto token = anonymous ? std::nullopt : std::optional(resolved->accessToken);
      const auto outcome = publishWithFallback(*share, settings, token, stop, [&] {
        ShareLogMessages::drainTokenRejected();
        anonymous = true;
      });
      queue->markSucceeded(*share, outcome);
      return outcome;
    });
    if (const auto* outcome = std::get_if<ShareUploadOutcome>(&result)) {
      report.uploaded.push_back(*outcome);
    } else if (const auto* error = std::get_if<ShareUploadError>(&result)) {
      report.failures.push_back(
          {id, error->message(), error->isRetryable(), error->requiresLogin()});
    } else {
      report.failures.push_back({id, std::get<OtherFailure>(result).description, true, false});
    }
  }
  const auto stats = queue->stats();
  report.skipped = std::max<std::int64_t>(0, stats.queued + stats.failed - taken);
  if (taken > 0) report.anonymous = anonymous;
  return report;
}

}  // namespace lumo
