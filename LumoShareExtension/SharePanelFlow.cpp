#include "SharePanelFlow.hpp"

#include <algorithm>
#include <atomic>
#include <stdexcept>

#include "ShareAppleBundle.hpp"
#include "ShareIngestError.hpp"
#include "ShareLogMessages.hpp"
#include "ShareSettings.hpp"
#include "ShareUUID.hpp"
#include "Url.hpp"

namespace lumo {
namespace {

using namespace std::chrono_literals;
using ShareL10n::tr;
namespace Text = SharePanelText;

/// For each provider its type identifiers joined by ",", the providers joined by " | ".
std::string typeSummary(const ShareExtensionContext::Providers& providers) {
  std::string summary;
  for (const auto& provider : providers) {
    if (!summary.empty()) summary += " | ";
    std::string types;
    for (const auto& type : provider->registeredTypeIdentifiers()) {
      types += (types.empty() ? "" : ",") + type;
    }
    summary += types;
  }
  return summary;
}

/// The ready card's summary: kind, attachments, size and name, one a line.
std::string readySummary(const StagedShare& staged) {
  auto lines = tr(Text::summaryKind, Text::kindLabel(staged.payload.kind));
  if (!staged.attachments.empty()) {
    lines += "\n" + ShareL10n::trn(Text::summaryAttachments,
                                   static_cast<std::int64_t>(staged.attachments.size()));
  }
  if (staged.totalBytes > 0) {
    lines += "\n" + tr(Text::summarySize, Text::byteCountText(staged.totalBytes));
  }
  if (!staged.displayTitle.empty() && staged.displayTitle != staged.payload.kind) {
    lines += "\n" + tr(Text::summaryName, staged.displayTitle);
  }
  return lines;
}

bool autoSubmit() {
  return ShareAppleBundle::main()->autoSubmit();
}

/// The upload record of the share the panel published: this machine's, or one made from the
/// outcome when the record has gone meanwhile (taken back elsewhere, or pushed out of the list).
ShareUploadRecord recordOf(const ShareDeletion& deletion, const ShareUploadOutcome& outcome) {
  if (auto record = deletion.record(outcome.slug)) return *record;
  ShareUploadRecord record;
  record.kind = outcome.kind;
  record.slug = outcome.slug;
  record.shortUrl = outcome.shortUrl;
  record.anonymous = outcome.anonymous;
  record.claimToken = outcome.claimToken;
  return record;
}

}  // namespace

SharePanelFlow::SharePanelFlow(ShareExtensionContext& context, ShareIngest ingest,
                               ShareUploadSession uploadSession,
                               std::function<std::int64_t()> nowMs, Seams seams)
    : context_(context),
      ingest_(std::move(ingest)),
      uploadSession_(std::move(uploadSession)),
      nowMs_(std::move(nowMs)),
      seams_(std::move(seams)) {
  view_.copyTitle = tr(Text::copyButton);
}

void SharePanelFlow::start() {
  const auto& storage = ingest_.storage();
  ShareLogMessages::storageLocation(shareStorageLocationName(storage.location),
                                    storage.rootURL.string());
  facts_.tokenState = uploadSession_.tokenState();
  ShareLogMessages::tokenState(ShareUploadSession::rawValue(facts_.tokenState),
                               facts_.isAnonymous());
  apply(Phase::reading);
  loadContent();
  changed();
}

void SharePanelFlow::apply(Phase phase) {
  view_.phase = phase;
  const auto texts = Text::phaseTexts(phase);
  view_.status = tr(texts.status);
  view_.hint = tr(hasSharedContainer() ? texts.hint : texts.hintWithoutContainer);
  view_.readyCard = phase == Phase::ready;
  view_.resultCard = phase == Phase::success;
  view_.errorCard = phase == Phase::failure;
  view_.formShown = phase == Phase::ready && staged_.has_value();
  view_.busy = phase == Phase::reading || phase == Phase::uploading;
  view_.progressPermille.reset();
  view_.cancelShown = phase == Phase::reading || phase == Phase::ready;
  view_.primaryShown = phase != Phase::reading;
  view_.primaryTitle = tr(texts.primaryButton);
  refreshCompose();
}

// MARK: - Reading

void SharePanelFlow::loadContent() {
  if (ingestStarted_) return;
  ingestStarted_ = true;
  const auto& providers = context_.inputItems();
  if (providers.empty()) {
    ShareLogMessages::loadFinished("系统没有提供可读取的内容");
    applyFailure(tr(Text::nothingProvided), false);
    completeLaterIfUnattended(800ms);
    return;
  }
  seams_.later(30s, [this] {
    if (view_.phase != Phase::reading) return;
    setStatus(tr(Text::stillReading));
    changed();
  });
  const auto summary = typeSummary(providers);
  ShareLogMessages::ingestStart(static_cast<std::int64_t>(providers.size()), summary);
  seams_.background([this, ingest = ingest_, providers, summary](std::stop_token stop) -> Step {
    IngestResult result;
    try {
      auto held = ingest.ingestHeld(providers, makeLowercaseUUID(), ShareOptions{});
      // A panel that is going away will not show the share: it leaves with the panel.
      if (stop.stop_requested()) held->discard();
      result = std::move(held);
    } catch (...) {
      result = std::current_exception();
    }
    return [this, result, summary] { handleIngest(result, summary); };
  });
}

void SharePanelFlow::handleIngest(IngestResult result, const std::string& typeSummary) {
  if (auto* held = std::get_if<std::shared_ptr<HeldShare>>(&result)) {
    // Reading that ends after a cancel stages nothing: the share goes with the request.
    if (context_.ending() != ShareExtensionContext::Ending::open) {
      (*held)->discard();
      return;
    }
    held_ = std::move(*held);
    staged_ = held_->staged();
    showReady(*staged_);
    if (autoSubmit()) seams_.later(500ms, [this] { primaryTapped(); });
    return;
  }
  try {
    std::rethrow_exception(std::get<std::exception_ptr>(result));
  } catch (const ShareIngestError& error) {
    if (error.kind() == ShareIngestError::Kind::emptyPayload) {
      ShareLogMessages::ingestEmptyPayload(typeSummary);
      applyFailure(tr(Text::emptyPayload), false);
    } else {
      ShareLogMessages::ingestFailed(error.what());
      applyFailure(Text::readableMessage(error), false);
    }
  } catch (const std::exception& error) {
    ShareLogMessages::ingestFailed(error.what());
    applyFailure(Text::readableMessage(error), false);
  } catch (...) {
    const std::runtime_error unknown("unknown error");
    ShareLogMessages::ingestFailed(unknown.what());
    applyFailure(Text::readableMessage(unknown), false);
  }
  // Unattended use must not leave the panel open after any reading failure.
  completeLaterIfUnattended(800ms);
  changed();
}

void SharePanelFlow::applyFailure(const std::string& message, bool canRetry) {
  view_.errorDetail = message;
  view_.retryShown = canRetry;
  view_.openHostShown = hasSharedContainer();
  apply(Phase::failure);
}

// MARK: - Ready and the form

void SharePanelFlow::showReady(const StagedShare& staged) {
  view_.readyDetail = readySummary(staged);
  const auto& storage = ingest_.storage();
  facts_ = ShareComposeFacts::make(facts_.tokenState, staged, storage, nowMs_());
  draft_ = facts_.makeDraft(ShareSettingsStore{storage}.load(), staged);
  apply(Phase::ready);
  changed(true);
}

void SharePanelFlow::composeChanged(const ShareComposeDraft& draft) {
  draft_ = draft;
  refreshCompose();
  changed();
}

void SharePanelFlow::refreshCompose() {
  issues_ = facts_.issues(draft_);
  const auto phase = view_.phase;
  view_.validation = issues_.empty() ? std::string() : Text::message(issues_.front());
  view_.validationShown = phase == Phase::ready && !issues_.empty();
  view_.primaryEnabled = phase == Phase::ready ? staged_.has_value() && issues_.empty()
                                               : phase == Phase::success || phase == Phase::failure;
  view_.documentRows = !facts_.isLinkOnly;
  view_.accountRows = view_.retentionEnabled = !facts_.isAnonymous();
  const bool freePlan = facts_.isFreePlan();
  view_.passwordSwitchEnabled = !freePlan;
  view_.passwordTitle = tr(freePlan ? Text::passwordTitleFreePlan : Text::passwordTitle);
  view_.passwordFieldEnabled = !freePlan && draft_.passwordEnabled;
  view_.watermarkControlsEnabled = draft_.watermarkEnabled;
  view_.composeHint = Text::composeHint(facts_);
}

// MARK: - Publishing

void SharePanelFlow::primaryTapped() {
  if (view_.phase == Phase::success || view_.phase == Phase::failure) {
    completeTapped();
    return;
  }
  if (!staged_ || view_.phase != Phase::ready) return;
  refreshCompose();
  if (issues_.empty()) {
    apply(Phase::uploading);
    const auto bytes = staged_->totalBytes;
    setStatus(bytes > 0 ? tr(Text::uploadingWithSize, Text::byteCountText(bytes))
                        : tr(Text::uploading));
    staged_->options = facts_.makeOptions(draft_);
    publish(true);
  }
  changed();
}

void SharePanelFlow::retryTapped() {
  // One upload at a time: a retry while one is in flight would publish the share twice.
  if (!staged_ || view_.phase == Phase::uploading) return;
  apply(Phase::uploading);
  setStatus(tr(Text::retrying));
  publish(false);
  changed();
}

void SharePanelFlow::publish(bool firstAttempt) {
  auto lastPercent = std::make_shared<std::atomic<int>>(-1);
  const ShareUploadProgress progress{
      [this, post = seams_.post, lastPercent](std::int64_t sent, std::int64_t total) {
        const int percent = total > 0 ? static_cast<int>(sent * 100 / total) : 0;
        if (lastPercent->exchange(percent) == percent) return;  // at most one update per percent
        post([this, sent, total] { showUploadProgress(sent, total); });
      }};
  seams_.background([this, session = uploadSession_, held = held_,
                     options = facts_.makeOptions(draft_), progress,
                     firstAttempt](std::stop_token stop) -> Step {
    auto result = session.uploadNow(*held, options, stop, progress);
    return [this, result, firstAttempt] { handleUpload(result, firstAttempt); };
  });
}

void SharePanelFlow::showUploadProgress(std::int64_t sent, std::int64_t total) {
  if (view_.phase != Phase::uploading || total <= 0) return;
  view_.progressPermille = static_cast<int>(std::clamp<std::int64_t>(sent * 1000 / total, 0, 1000));
  changed();
}

void SharePanelFlow::handleUpload(const ShareUploadSession::UploadResult& result,
                                  bool firstAttempt) {
  if (const auto* outcome = std::get_if<ShareUploadOutcome>(&result)) {
    if (firstAttempt) {
      ShareLogMessages::shareSucceeded(outcome->kind, outcome->slug, outcome->shortUrl,
                                       outcome->anonymous);
    }
    showSuccess(*outcome);
    if (firstAttempt) completeLaterIfUnattended(1200ms);
  } else {
    const auto& error = std::get<ShareUploadError>(result);
    if (firstAttempt) {
      ShareLogMessages::shareFailed(error.what(), error.requiresLogin(), error.message());
    }
    applyFailure(Text::failureGuidance(error, facts_.tokenState), hasSharedContainer());
    if (firstAttempt) completeLaterIfUnattended(800ms);
  }
  changed();
}

void SharePanelFlow::showSuccess(const ShareUploadOutcome& outcome) {
  published_ = outcome;
  view_.resultTitle = tr(Text::resultTitle);
  view_.shortURL = outcome.shortUrl;
  view_.resultMeta = Text::resultMetaText(outcome, *staged_, nowMs_());
  view_.qrCode = qrImage(outcome.shortUrl, 132);
  view_.takeBackShown = true;
  apply(Phase::success);
}

// MARK: - Taking the share back

bool SharePanelFlow::canTakeBack() const {
  return view_.phase == Phase::success && published_ && view_.takeBackShown &&
         view_.resultActionsEnabled;
}

void SharePanelFlow::takeBack() {
  if (!canTakeBack()) return;
  view_.resultActionsEnabled = view_.primaryEnabled = false;
  view_.busy = true;
  view_.takeBackNote.clear();
  setStatus(tr(Text::TakeBack::running));
  const ShareDeletion deletion(ShareHostSession{uploadSession_, ShareSettings::apiBaseURL()});
  seams_.background([this, deletion, outcome = *published_](std::stop_token stop) -> Step {
    TakeBackResult result;
    try {
      result = deletion.takeBack(recordOf(deletion, outcome), stop);
    } catch (const std::exception& error) {
      result = Text::TakeBack::failureText(error);
    }
    return [this, result] { handleTakeBack(result); };
  });
  changed();
}

void SharePanelFlow::handleTakeBack(const TakeBackResult& result) {
  view_.busy = false;
  view_.resultActionsEnabled = view_.primaryEnabled = true;
  setStatus(tr(Text::phaseTexts(Phase::success).status));
  if (const auto* failure = std::get_if<std::string>(&result)) {
    view_.takeBackNote = tr(Text::TakeBack::failed, *failure);  // the button stays: try again
    changed();
    return;
  }
  switch (std::get<ShareDeletionResult>(result)) {
    case ShareDeletionResult::deleted:
      withdrawLink(Text::TakeBack::takenBack, Text::TakeBack::takenBackNote);
      break;
    case ShareDeletionResult::alreadyGone:
      withdrawLink(Text::TakeBack::gone, Text::TakeBack::goneNote);
      break;
    case ShareDeletionResult::refused:  // another account may be signed in by the next try
      view_.takeBackNote = tr(Text::TakeBack::failed, tr(Text::TakeBack::refused));
      break;
    case ShareDeletionResult::unsupported:
      view_.takeBackNote = tr(Text::TakeBack::unsupported);
      view_.takeBackShown = false;  // asking again cannot help
      break;
  }
  changed();
}

void SharePanelFlow::withdrawLink(const char* title, const char* note) {
  setStatus(tr(title));
  view_.hint = tr(Text::TakeBack::closeHint);
  view_.resultTitle = tr(title);
  view_.resultMeta = tr(note);
  view_.linkWithdrawn = true;
  view_.linkActionsShown = view_.takeBackShown = false;
}

// MARK: - Result actions and endings

void SharePanelFlow::copyLink() {
  if (view_.shortURL.empty() || view_.linkWithdrawn) return;
  seams_.copyText(view_.shortURL);
  view_.copyTitle = tr(Text::copiedButton);
  seams_.later(1500ms, [this] {
    view_.copyTitle = tr(Text::copyButton);
    changed();
  });
  changed();
}

void SharePanelFlow::openInBrowser() {
  if (view_.shortURL.empty() || view_.linkWithdrawn || !Url::parse(view_.shortURL)) return;
  seams_.openURL(view_.shortURL);
}

void SharePanelFlow::openHostApp() {
  const auto identifier = ShareAppleBundle::main()->hostBundleIdentifier();
  if (!seams_.hostAppInstalled(identifier)) {
    setStatus(tr(Text::hostAppMissing, identifier));
  } else {
    if (const auto failure = seams_.openHostApp(identifier)) {
      setStatus(tr(Text::hostAppFailed, *failure));
    }
    context_.completeRequest();
  }
  changed();
}

void SharePanelFlow::cancelTapped() {
  // The person said no before publishing: the staged share goes, and a reading still in flight
  // drops its share when it ends. A share whose upload began stays queued as the failure says.
  if ((view_.phase == Phase::reading || view_.phase == Phase::ready) && held_) held_->discard();
  context_.cancelRequest();
}

void SharePanelFlow::completeTapped() {
  context_.completeRequest();
}

void SharePanelFlow::windowClosed() {
  if (view_.phase == Phase::success || view_.phase == Phase::failure) {
    completeTapped();
  } else {
    cancelTapped();
  }
}

// MARK: - Helpers

bool SharePanelFlow::hasSharedContainer() const {
  return ingest_.storage().location != ShareStorageLocation::unavailable;
}

void SharePanelFlow::setStatus(const std::string& text) {
  view_.status = text;
}

void SharePanelFlow::completeLaterIfUnattended(std::chrono::milliseconds delay) {
  if (autoSubmit()) seams_.later(delay, [this] { context_.completeRequest(); });
}

void SharePanelFlow::changed(bool draftReplaced) {
  if (changed_) changed_(draftReplaced);
}

}  // namespace lumo
