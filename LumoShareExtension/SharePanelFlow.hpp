#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <variant>
#include <vector>

#include "HeldShare.hpp"
#include "ShareComposeFacts.hpp"
#include "ShareDeletion.hpp"
#include "ShareExtensionContext.hpp"
#include "ShareIngest.hpp"
#include "SharePanelText.hpp"
#include "ShareQRCode.hpp"
#include "ShareUploadSession.hpp"

namespace lumo {

/// Everything the share panel shows in its current state, as the window draws it.
struct SharePanelView {
  SharePanelPhase phase = SharePanelPhase::reading;
  std::string status, hint;
  bool busy = true;                     ///< the spinner
  std::optional<int> progressPermille;  ///< how far an upload is, once it says
  bool cancelShown = true, primaryShown = false, primaryEnabled = false;
  std::string primaryTitle;
  // Ready: the summary card and the compose form.
  bool readyCard = false, formShown = false;
  std::string readyDetail, composeHint, passwordTitle, validation;
  bool documentRows = true, accountRows = true, retentionEnabled = true;
  bool passwordSwitchEnabled = true, passwordFieldEnabled = false, watermarkControlsEnabled = false;
  bool validationShown = false;
  // Success: the link with its code, and taking the share back.
  bool resultCard = false;
  std::string resultTitle, shortURL, resultMeta, copyTitle;
  std::optional<ShareQRImage> qrCode;
  bool linkActionsShown = true;      ///< copy and open, until the link no longer works
  bool takeBackShown = false;        ///< while the share can be taken back
  bool resultActionsEnabled = true;  ///< not while it is being taken back
  bool linkWithdrawn = false;        ///< taken back or gone: the code and the link are greyed out
  std::string takeBackNote;          ///< why it was not taken back
  // Failure: what went wrong and the ways on.
  bool errorCard = false, retryShown = false, openHostShown = false;
  std::string errorDetail;
};

/// The share panel without its window: reads the request's items into a staged share, holds the
/// compose draft and validates it, publishes, retries, copies the link, takes the published
/// share back, opens the host application, and ends the request, entering the phases in their
/// order. A window observes it, draws `view()` after each change and forwards what the person
/// does. It runs on one thread (the UI thread); slow work and delayed steps go through `Seams`,
/// which drop what comes back once the window has gone.
class SharePanelFlow {
 public:
  using Phase = SharePanelPhase;
  using Step = std::function<void()>;

  /// What the flow asks of the thread it runs on and of the desktop.
  struct Seams {
    /// Runs the work on another thread; the step it returns runs back on this one.
    std::function<void(std::function<Step(std::stop_token)>)> background;
    /// Runs a step on this thread; callable from any thread.
    std::function<void(Step)> post;
    /// Runs a step on this thread after a delay.
    std::function<void(std::chrono::milliseconds, Step)> later;
    std::function<void(const std::string&)> copyText;
    std::function<void(const std::string&)> openURL;
    /// Starts the host application named by a bundle identifier: whether it is installed, and
    /// the reason it could not be started.
    std::function<bool(const std::string&)> hostAppInstalled;
    std::function<std::optional<std::string>(const std::string&)> openHostApp;
  };

  SharePanelFlow(ShareExtensionContext& context, ShareIngest ingest,
                 ShareUploadSession uploadSession, std::function<std::int64_t()> nowMs,
                 Seams seams);

  /// `changed(draftReplaced)` after every change of the view; `draftReplaced` when the form is to
  /// be filled from `draft()` again.
  void observe(std::function<void(bool draftReplaced)> changed) { changed_ = std::move(changed); }
  /// Logs where shares go and the sign-in, then starts reading the items.
  void start();

  /// Publishes in `ready`, ends the request in `success` and `failure`.
  void primaryTapped();
  void retryTapped();
  void copyLink();
  void openInBrowser();
  /// Whether the published share can be taken back now; the window asks the person first.
  bool canTakeBack() const;
  /// Takes the published share back at the service, on the worker; the card then says that the
  /// link no longer works, or why it was not taken back.
  void takeBack();
  /// Starts the host application and ends the request; a missing application only says so.
  void openHostApp();
  void cancelTapped();
  void completeTapped();
  /// The window closed: done after a result, changed their mind before one.
  void windowClosed();
  /// The form as it now stands: re-validated and shown again.
  void composeChanged(const ShareComposeDraft& draft);

  Phase phase() const { return view_.phase; }
  const SharePanelView& view() const { return view_; }
  const ShareComposeDraft& draft() const { return draft_; }
  const std::optional<StagedShare>& staged() const { return staged_; }
  const std::string& currentShortURL() const { return view_.shortURL; }

 private:
  /// How a read of the items ended: the staged share, held for this panel, or what went wrong.
  using IngestResult = std::variant<std::shared_ptr<HeldShare>, std::exception_ptr>;
  /// How taking the share back ended: the service's answer, or the failure in plain words.
  using TakeBackResult = std::variant<ShareDeletionResult, std::string>;

  void apply(Phase phase);
  void loadContent();
  void handleIngest(IngestResult result, const std::string& typeSummary);
  void applyFailure(const std::string& message, bool canRetry);
  void showReady(const StagedShare& staged);
  void refreshCompose();
  void publish(bool firstAttempt);
  void handleUpload(const ShareUploadSession::UploadResult& result, bool firstAttempt);
  void showUploadProgress(std::int64_t sent, std::int64_t total);
  void showSuccess(const ShareUploadOutcome& outcome);
  void handleTakeBack(const TakeBackResult& result);
  /// The link no longer works: the card says so under `title` and the link's actions go.
  void withdrawLink(const char* title, const char* note);
  bool hasSharedContainer() const;
  void setStatus(const std::string& text);
  /// Ends the request `delay` from now when the panel runs unattended.
  void completeLaterIfUnattended(std::chrono::milliseconds delay);
  void changed(bool draftReplaced = false);

  ShareExtensionContext& context_;
  ShareIngest ingest_;
  ShareUploadSession uploadSession_;
  std::function<std::int64_t()> nowMs_;
  Seams seams_;
  std::function<void(bool)> changed_;

  SharePanelView view_;
  /// The share this panel owns from staging until it is published or cancelled: no drain or
  /// other program sends it meanwhile, and a cancel discards it. Shared with the upload task.
  std::shared_ptr<HeldShare> held_;
  std::optional<StagedShare> staged_;
  std::optional<ShareUploadOutcome> published_;
  ShareComposeFacts facts_;
  ShareComposeDraft draft_;
  std::vector<ShareComposeIssue> issues_;
  bool ingestStarted_ = false;
};

}  // namespace lumo
