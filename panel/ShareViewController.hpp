#pragma once

#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "LumoShare.hpp"
#include "ShareDelayedSteps.hpp"
#include "ShareExtensionContext.hpp"
#include "SharePanelWorkers.hpp"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QSlider;

namespace lumo {

class CardView;
class FlippedView;
class QRCodeView;
class ShareLinkField;

/// What the panel works with: where shares are staged and how they are published, where its
/// delayed steps and its tasks run, and the clock of the result's expiry text.
struct ShareViewEnvironment {
  ShareIngest ingest;
  ShareUploadSession uploadSession;
  std::shared_ptr<ShareDelayedSteps> delayedSteps;
  std::shared_ptr<SharePanelWorkers> workers;
  std::function<std::int64_t()> nowMs;

  /// The resolved storage, publishing over libcurl, Qt's timers and the system clock.
  static ShareViewEnvironment makeDefault(std::shared_ptr<SharePanelWorkers> workers);
};

/// The share panel: reads the request's items into a staged share, shows what will be published
/// with the compose form, publishes it, and shows the link with its QR code, or the failure with
/// what to do about it. Everything here runs on the UI thread; reading and publishing run on the
/// workers and come back here, and are dropped if the panel has been closed by then. Widgets
/// carry their role as object name ("titleField", "primaryButton" …).
class ShareViewController : public QWidget {
 public:
  using Phase = SharePanelPhase;

  /// Builds the panel and starts reading the request's items.
  ShareViewController(ShareExtensionContext& context, ShareViewEnvironment environment,
                      QWidget* parent = nullptr);

  /// Publishes in `ready`, ends the request in `success` and `failure`.
  void primaryTapped();
  void retryTapped();
  void copyLink();
  void openInBrowser();
  /// Starts the host application and ends the request; a missing application only says so.
  void openHostApp();
  void cancelTapped();
  void completeTapped();
  /// Re-reads the form, re-applies what it shows and validates it again.
  void composeControlChanged();

  Phase phase() const { return phase_; }
  const ShareComposeDraft& draft() const { return draft_; }
  const std::optional<StagedShare>& staged() const { return staged_; }
  const std::string& currentShortURL() const { return currentShortURL_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  /// How a read of the items ended: the staged share, held for this panel, or what went wrong.
  using IngestResult = std::variant<std::shared_ptr<HeldShare>, std::exception_ptr>;

  void viewDidLoad();
  void buildViews();
  QWidget* buildForm();
  QWidget* buildResultCard();
  QWidget* buildErrorCard();
  void apply(Phase phase);
  void loadContent();
  void handleIngest(IngestResult result, const std::string& typeSummary);
  void finishLoading(const std::string& message);
  void applyFailure(const std::string& message, bool canRetry);
  void showReady(const StagedShare& staged);
  void showSuccess(const ShareUploadOutcome& outcome, const StagedShare& staged);
  void applyComposeVisibility();
  void applyDraftToControls();
  void syncDraftFromControls();
  void refreshComposeValidation();
  void publish(const ShareOptions& options, bool firstAttempt);
  void handleUpload(const ShareUploadSession::UploadResult& result, bool firstAttempt);
  void showUploadProgress(std::int64_t sent, std::int64_t total);
  ShareOptions publishOptions() const;
  bool autoSubmit() const;
  bool hasSharedContainer() const;
  void setStatus(const std::string& text);
  void later(std::chrono::milliseconds delay, std::function<void()> step);

  ShareExtensionContext& context_;
  ShareViewEnvironment environment_;

  Phase phase_ = Phase::reading;
  /// The share this panel owns from staging until it is published or cancelled: no drain or
  /// other program sends it meanwhile, and a cancel discards it. Shared with the upload task.
  std::shared_ptr<HeldShare> held_;
  std::optional<StagedShare> staged_;
  std::string currentShortURL_;
  ShareUploadSession::TokenState tokenState_ = ShareUploadSession::TokenState::signedOut;
  std::optional<SharePlan> plan_;
  bool isAnonymous_ = false;
  bool isLinkOnly_ = false;
  ShareComposeDraft draft_;
  std::vector<ShareComposeIssue> issues_;
  bool ingestStarted_ = false;
  bool updatingControls_ = false;  ///< the form is being filled from the draft
  std::vector<QWidget*> docOnlyViews_;
  std::vector<QWidget*> signedInViews_;

  QLabel* titleLabel_ = nullptr;
  QLabel* statusLabel_ = nullptr;
  QLabel* hintLabel_ = nullptr;
  CardView* readyCard_ = nullptr;
  QLabel* readyTitle_ = nullptr;
  QLabel* readyDetail_ = nullptr;
  CardView* resultCard_ = nullptr;
  QRCodeView* qrView_ = nullptr;
  QLabel* resultTitle_ = nullptr;
  QLabel* resultCaption_ = nullptr;
  ShareLinkField* resultURLLabel_ = nullptr;
  QLabel* resultMeta_ = nullptr;
  QPushButton* copyButton_ = nullptr;
  QPushButton* browseButton_ = nullptr;
  CardView* errorCard_ = nullptr;
  QLabel* errorIcon_ = nullptr;
  QLabel* errorTitle_ = nullptr;
  QLabel* errorDetail_ = nullptr;
  QPushButton* retryButton_ = nullptr;
  QPushButton* openHostButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  QPushButton* primaryButton_ = nullptr;
  QProgressBar* spinner_ = nullptr;
  QScrollArea* formScrollView_ = nullptr;
  FlippedView* formStack_ = nullptr;
  QLabel* composeHintLabel_ = nullptr;
  QLineEdit* titleField_ = nullptr;
  QPlainTextEdit* noteTextView_ = nullptr;
  QComboBox* expiryPopup_ = nullptr;
  QCheckBox* passwordCheckbox_ = nullptr;
  QLineEdit* passwordField_ = nullptr;
  QLineEdit* slugField_ = nullptr;
  QCheckBox* disableDownloadCheckbox_ = nullptr;
  QCheckBox* burnCheckbox_ = nullptr;
  QLineEdit* maxDownloadsField_ = nullptr;
  QCheckBox* watermarkCheckbox_ = nullptr;
  QLineEdit* watermarkTextField_ = nullptr;
  QComboBox* watermarkPopup_ = nullptr;
  QSlider* watermarkSlider_ = nullptr;
  QLabel* watermarkOpacityLabel_ = nullptr;
  QLabel* validationLabel_ = nullptr;
};

}  // namespace lumo
