#pragma once

#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "LumoShare.hpp"
#include "ShareDelayedSteps.hpp"
#include "SharePanelWorkers.hpp"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QSlider;

namespace lumo {

class CardView;
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

  /// The process's ingest and uploads (ShareContext::process()), Qt's timers, the system clock.
  static ShareViewEnvironment makeDefault(std::shared_ptr<SharePanelWorkers> workers);
};

/// The share panel's window: builds the views of `SharePanelFlow` and draws its state after each
/// change, keeps the compose form and the flow's draft in step, and forwards what the person does.
/// Everything here runs on the UI thread; reading and publishing run on the workers and come back
/// here, and are dropped if the panel has been closed by then. Widgets carry their role as object
/// name ("titleField", "primaryButton" …).
class ShareViewController : public QWidget {
 public:
  using Phase = SharePanelPhase;

  /// Builds the panel and starts reading the request's items.
  ShareViewController(ShareExtensionContext& context, ShareViewEnvironment environment,
                      QWidget* parent = nullptr);

  /// Publishes in `ready`, ends the request in `success` and `failure`.
  void primaryTapped() { flow_.primaryTapped(); }
  void retryTapped() { flow_.retryTapped(); }
  void copyLink() { flow_.copyLink(); }
  void openInBrowser() { flow_.openInBrowser(); }
  /// Asks whether to take the published share back ("confirmation"), and takes it back on yes.
  void takeBackTapped();
  /// Starts the host application and ends the request; a missing application only says so.
  void openHostApp() { flow_.openHostApp(); }
  void cancelTapped() { flow_.cancelTapped(); }
  void completeTapped() { flow_.completeTapped(); }
  /// Hands the form as it stands to the flow, which validates it and shows what it allows.
  void composeControlChanged();

  Phase phase() const { return flow_.phase(); }
  const ShareComposeDraft& draft() const { return flow_.draft(); }
  const std::optional<StagedShare>& staged() const { return flow_.staged(); }
  const std::string& currentShortURL() const { return flow_.currentShortURL(); }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  SharePanelFlow::Seams seams(const ShareViewEnvironment& environment);
  void buildViews();
  QWidget* buildForm();
  QWidget* buildResultCard();
  QWidget* buildErrorCard();
  void render();
  void showErrorIcon();
  void fillForm(const ShareComposeDraft& draft);
  ShareComposeDraft formDraft() const;

  SharePanelFlow flow_;
  bool updatingControls_ = false;  ///< the form is being filled from the draft
  std::vector<QWidget*> docOnlyViews_, signedInViews_;

  // The views the flow's state reaches, and the form's controls.
  QLabel *statusLabel_, *hintLabel_, *readyDetail_, *resultTitle_, *resultMeta_, *takeBackNote_,
      *errorDetail_;
  QLabel *composeHintLabel_, *validationLabel_, *watermarkOpacityLabel_, *errorIcon_;
  CardView *readyCard_, *resultCard_, *errorCard_;
  QRCodeView* qrView_;
  ShareLinkField* resultURLLabel_;
  QPushButton *copyButton_, *browseButton_, *takeBackButton_, *retryButton_, *openHostButton_,
      *cancelButton_, *primaryButton_;
  QPointer<QMessageBox> confirmation_;
  QProgressBar* spinner_;
  QScrollArea* formScrollView_;
  QLineEdit *titleField_, *passwordField_, *slugField_, *maxDownloadsField_, *watermarkTextField_;
  QPlainTextEdit* noteTextView_;
  QComboBox *expiryPopup_, *watermarkPopup_;
  QCheckBox *passwordCheckbox_, *disableDownloadCheckbox_, *burnCheckbox_, *watermarkCheckbox_;
  QSlider* watermarkSlider_;
};

}  // namespace lumo
