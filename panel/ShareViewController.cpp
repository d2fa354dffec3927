#include "ShareViewController.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <stdexcept>

#include "CardView.hpp"
#include "PanelLayout.hpp"
#include "QRCodeView.hpp"
#include "ShareHostApp.hpp"
#include "ShareLinkField.hpp"

namespace lumo {
namespace {

using namespace std::chrono_literals;
namespace Text = SharePanelText;
namespace Form = SharePanelText::Form;

QString qs(const std::string& text) {
  return QString::fromStdString(text);
}
QString trq(const char* chinese) {
  return qs(ShareL10n::tr(chinese));
}

template <class Widget>
Widget* named(Widget* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

QLabel* wrappingLabel(const char* name) {
  auto* label = named(new QLabel, name);
  label->setWordWrap(true);
  return label;
}

QLineEdit* lineField(const char* name, const char* placeholder) {
  auto* field = named(new QLineEdit, name);
  field->setPlaceholderText(trq(placeholder));
  return field;
}

/// A form row: the label column (a text, or a control such as the password checkbox), then
/// the control.
QWidget* formRow(QWidget* label, QWidget* control) {
  auto* row = new QWidget;
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  label->setFixedWidth(104);
  layout->addWidget(label);
  if (control) layout->addWidget(control, 1);
  return row;
}
/// A control in the label column, right-aligned like the texts there.
QWidget* formRowWithControl(QWidget* label, QWidget* control) {
  auto* column = new QWidget;
  auto* layout = new QHBoxLayout(column);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addStretch(1);
  layout->addWidget(label);
  return formRow(column, control);
}
QWidget* formRow(const char* label, QWidget* control) {
  auto* text = new QLabel(trq(label));
  text->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return formRow(text, control);
}

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

}  // namespace

ShareViewEnvironment ShareViewEnvironment::makeDefault(std::shared_ptr<SharePanelWorkers> workers) {
  return {ShareIngest::makeDefault(),
          ShareUploadSession::makeDefault(
              std::make_shared<URLSessionTransport>(std::make_shared<ShareCurlSession>())),
          ShareDelayedSteps::timers(), std::move(workers), currentTimeMs};
}

ShareViewController::ShareViewController(ShareExtensionContext& context,
                                         ShareViewEnvironment environment, QWidget* parent)
    : QWidget(parent), context_(context), environment_(std::move(environment)) {
  viewDidLoad();
}

void ShareViewController::viewDidLoad() {
  resize(520, 600);
  const auto& storage = environment_.ingest.storage();
  ShareLogMessages::storageLocation(shareStorageLocationName(storage.location),
                                    storage.rootURL.string());
  tokenState_ = environment_.uploadSession.tokenState();
  isAnonymous_ = tokenState_ != ShareUploadSession::TokenState::signedIn;
  ShareLogMessages::tokenState(ShareUploadSession::rawValue(tokenState_), isAnonymous_);
  buildViews();
  apply(Phase::reading);
  loadContent();
}

// MARK: - Views

void ShareViewController::buildViews() {
  setWindowTitle(trq(Text::titleLabel));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(20, 18, 20, 18);
  layout->setSpacing(8);

  titleLabel_ = named(new QLabel(trq(Text::titleLabel)), "titleLabel");
  QFont titleFont = titleLabel_->font();
  titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
  titleFont.setBold(true);
  titleLabel_->setFont(titleFont);
  statusLabel_ = wrappingLabel("statusLabel");
  PanelLayout::setBold(statusLabel_);
  hintLabel_ = wrappingLabel("hintLabel");
  hintLabel_->setForegroundRole(QPalette::PlaceholderText);
  spinner_ = named(new QProgressBar, "spinner");
  spinner_->setRange(0, 0);
  spinner_->setTextVisible(false);
  spinner_->setMaximumHeight(6);
  for (auto* widget :
       std::initializer_list<QWidget*>{titleLabel_, statusLabel_, hintLabel_, spinner_}) {
    layout->addWidget(widget);
  }

  readyCard_ = named(new CardView, "readyCard");
  auto* readyLayout = new QVBoxLayout(readyCard_);
  readyLayout->setContentsMargins(14, 10, 14, 10);
  readyTitle_ = named(new QLabel(trq(Text::readyTitle)), "readyTitle");
  PanelLayout::setBold(readyTitle_);
  readyDetail_ = wrappingLabel("readyDetail");
  readyLayout->addWidget(readyTitle_);
  readyLayout->addWidget(readyDetail_);
  layout->addWidget(readyCard_);

  formScrollView_ = named(new QScrollArea, "formScrollView");
  formScrollView_->setWidgetResizable(true);
  formScrollView_->setFrameShape(QFrame::NoFrame);
  formScrollView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  formScrollView_->setWidget(buildForm());
  layout->addWidget(formScrollView_, 1);
  validationLabel_ = wrappingLabel("validationLabel");
  QPalette warning = validationLabel_->palette();
  warning.setColor(QPalette::WindowText, QColor(0xd7, 0x26, 0x1e));
  validationLabel_->setPalette(warning);
  layout->addWidget(validationLabel_);

  resultCard_ = named(new CardView, "resultCard");
  layout->addWidget(buildResultCard());
  errorCard_ = named(new CardView, "errorCard");
  layout->addWidget(buildErrorCard());
  layout->addStretch(0);

  cancelButton_ = named(new QPushButton(trq(Text::cancelButton)), "cancelButton");
  primaryButton_ = named(new QPushButton(trq(Text::publishButton)), "primaryButton");
  primaryButton_->setDefault(true);
  layout->addLayout(PanelLayout::row({cancelButton_, primaryButton_}, Qt::AlignRight));

  connect(cancelButton_, &QPushButton::clicked, this, [this] { cancelTapped(); });
  connect(primaryButton_, &QPushButton::clicked, this, [this] { primaryTapped(); });
  connect(copyButton_, &QPushButton::clicked, this, [this] { copyLink(); });
  connect(browseButton_, &QPushButton::clicked, this, [this] { openInBrowser(); });
  connect(retryButton_, &QPushButton::clicked, this, [this] { retryTapped(); });
  connect(openHostButton_, &QPushButton::clicked, this, [this] { openHostApp(); });
}

QWidget* ShareViewController::buildForm() {
  formStack_ = named(new FlippedView, "formStack");
  auto* rows = static_cast<QVBoxLayout*>(formStack_->layout());
  rows->setContentsMargins(0, 4, 4, 4);
  composeHintLabel_ = wrappingLabel("composeHintLabel");
  composeHintLabel_->setForegroundRole(QPalette::PlaceholderText);

  titleField_ = lineField("titleField", Form::titlePlaceholder);
  noteTextView_ = named(new QPlainTextEdit, "noteTextView");
  noteTextView_->setTabChangesFocus(true);
  noteTextView_->setFixedHeight(56);
  expiryPopup_ = named(new QComboBox, "expiryPopup");
  for (const auto* item : Form::retentionItems) expiryPopup_->addItem(trq(item));
  passwordCheckbox_ = named(new QCheckBox(trq(Text::passwordTitle)), "passwordCheckbox");
  passwordField_ = lineField("passwordField", Form::passwordPlaceholder);
  passwordField_->setEchoMode(QLineEdit::Password);
  slugField_ = lineField("slugField", Form::slugPlaceholder);
  auto* security = named(new QLabel(trq(Form::securityHeading)), "securityHeading");
  PanelLayout::setBold(security);
  disableDownloadCheckbox_ =
      named(new QCheckBox(trq(Form::disableDownload)), "disableDownloadCheckbox");
  burnCheckbox_ = named(new QCheckBox(trq(Form::burnAfterReading)), "burnCheckbox");
  auto* switches = new QWidget;
  switches->setLayout(PanelLayout::row({disableDownloadCheckbox_, burnCheckbox_}));
  switches->layout()->setContentsMargins(0, 0, 0, 0);
  maxDownloadsField_ = lineField("maxDownloadsField", Form::maxDownloadsPlaceholder);
  watermarkCheckbox_ = named(new QCheckBox(trq(Form::watermark)), "watermarkCheckbox");
  watermarkTextField_ = named(new QLineEdit, "watermarkTextField");
  watermarkTextField_->setPlaceholderText(QString::fromUtf8(Form::watermarkTextPlaceholder));
  watermarkPopup_ = named(new QComboBox, "watermarkPopup");
  for (const auto* item : Form::watermarkPositionItems) watermarkPopup_->addItem(trq(item));
  watermarkSlider_ = named(new QSlider(Qt::Horizontal), "watermarkSlider");
  watermarkSlider_->setRange(0, 100);
  watermarkSlider_->setValue(static_cast<int>(ShareComposeLimits::defaultWatermarkOpacityPercent));
  watermarkOpacityLabel_ =
      named(new QLabel(QString::fromLatin1(Text::initialOpacityLabel)), "watermarkOpacityLabel");
  watermarkOpacityLabel_->setMinimumWidth(40);
  auto* opacity = new QWidget;
  auto* opacityLayout = new QHBoxLayout(opacity);
  opacityLayout->setContentsMargins(0, 0, 0, 0);
  opacityLayout->addWidget(watermarkSlider_, 1);
  opacityLayout->addWidget(watermarkOpacityLabel_);

  auto* titleRow = formRow(Form::title, titleField_);
  auto* noteRow = formRow(Form::note, noteTextView_);
  auto* expiryRow = formRow(Form::retention, expiryPopup_);
  auto* passwordRow = formRowWithControl(passwordCheckbox_, passwordField_);
  auto* slugRow = formRow(Form::slug, slugField_);
  auto* switchRow = formRow(new QWidget, switches);
  auto* limitRow = formRow(Form::maxDownloads, maxDownloadsField_);
  auto* watermarkRow = formRow(new QWidget, watermarkCheckbox_);
  auto* watermarkTextRow = formRow(Form::watermarkText, watermarkTextField_);
  auto* positionRow = formRow(Form::watermarkPosition, watermarkPopup_);
  auto* opacityRow = formRow(Form::watermarkOpacity, opacity);
  for (auto* widget : {static_cast<QWidget*>(composeHintLabel_), titleRow, noteRow, expiryRow,
                       passwordRow, slugRow, static_cast<QWidget*>(security), switchRow, limitRow,
                       watermarkRow, watermarkTextRow, positionRow, opacityRow}) {
    rows->addWidget(widget);
  }
  signedInViews_ = {passwordRow, slugRow};
  docOnlyViews_ = {titleRow,     noteRow,          security,    switchRow, limitRow,
                   watermarkRow, watermarkTextRow, positionRow, opacityRow};

  const auto changed = [this] { composeControlChanged(); };
  for (auto* field :
       {titleField_, passwordField_, slugField_, maxDownloadsField_, watermarkTextField_}) {
    connect(field, &QLineEdit::textChanged, this, changed);
  }
  connect(noteTextView_, &QPlainTextEdit::textChanged, this, changed);
  for (auto* box :
       {passwordCheckbox_, disableDownloadCheckbox_, burnCheckbox_, watermarkCheckbox_}) {
    connect(box, &QCheckBox::toggled, this, changed);
  }
  for (auto* popup : {expiryPopup_, watermarkPopup_}) {
    connect(popup, &QComboBox::currentIndexChanged, this, changed);
  }
  connect(watermarkSlider_, &QSlider::valueChanged, this, changed);
  return formStack_;
}

QWidget* ShareViewController::buildResultCard() {
  auto* layout = new QHBoxLayout(resultCard_);
  layout->setContentsMargins(14, 14, 14, 14);
  layout->setSpacing(14);
  qrView_ = named(new QRCodeView, "qrView");
  layout->addWidget(qrView_, 0, Qt::AlignTop);
  auto* column = new QVBoxLayout;
  resultTitle_ = named(new QLabel(trq(Text::resultTitle)), "resultTitle");
  PanelLayout::setBold(resultTitle_);
  resultCaption_ = named(new QLabel(trq(Text::resultCaption)), "resultCaption");
  resultCaption_->setForegroundRole(QPalette::PlaceholderText);
  resultURLLabel_ = named(new ShareLinkField, "resultURLLabel");
  resultMeta_ = wrappingLabel("resultMeta");
  copyButton_ = named(new QPushButton(trq(Text::copyButton)), "copyButton");
  browseButton_ = named(new QPushButton(trq(Text::browseButton)), "browseButton");
  for (auto* widget : std::initializer_list<QWidget*>{resultTitle_, resultCaption_, resultURLLabel_,
                                                      resultMeta_}) {
    column->addWidget(widget);
  }
  column->addLayout(PanelLayout::row({copyButton_, browseButton_}));
  column->addStretch(1);
  layout->addLayout(column, 1);
  return resultCard_;
}

QWidget* ShareViewController::buildErrorCard() {
  auto* layout = new QHBoxLayout(errorCard_);
  layout->setContentsMargins(14, 14, 14, 14);
  layout->setSpacing(12);
  errorIcon_ = named(new QLabel, "errorIcon");
  errorIcon_->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32));
  layout->addWidget(errorIcon_, 0, Qt::AlignTop);
  auto* column = new QVBoxLayout;
  errorTitle_ = named(new QLabel(trq(Text::errorTitle)), "errorTitle");
  PanelLayout::setBold(errorTitle_);
  errorDetail_ = wrappingLabel("errorDetail");
  errorDetail_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  retryButton_ = named(new QPushButton(trq(Text::retryButton)), "retryButton");
  openHostButton_ = named(new QPushButton(trq(Text::openHostButton)), "openHostButton");
  column->addWidget(errorTitle_);
  column->addWidget(errorDetail_);
  column->addLayout(PanelLayout::row({retryButton_, openHostButton_}));
  layout->addLayout(column, 1);
  return errorCard_;
}

void ShareViewController::apply(Phase phase) {
  phase_ = phase;
  const auto texts = Text::phaseTexts(phase);
  statusLabel_->setText(trq(texts.status));
  hintLabel_->setText(trq(hasSharedContainer() ? texts.hint : texts.hintWithoutContainer));
  readyCard_->setVisible(phase == Phase::ready);
  resultCard_->setVisible(phase == Phase::success);
  errorCard_->setVisible(phase == Phase::failure);
  formScrollView_->setVisible(phase == Phase::ready && staged_.has_value());
  const bool busy = phase == Phase::reading || phase == Phase::uploading;
  spinner_->setRange(0, 0);
  spinner_->setVisible(busy);
  cancelButton_->setVisible(phase == Phase::reading || phase == Phase::ready);
  cancelButton_->setEnabled(true);
  primaryButton_->setVisible(phase != Phase::reading);
  primaryButton_->setText(trq(texts.primaryButton));
  primaryButton_->setEnabled(phase == Phase::ready
                                 ? staged_.has_value() && issues_.empty()
                                 : phase == Phase::success || phase == Phase::failure);
  validationLabel_->setVisible(phase == Phase::ready && !issues_.empty());
}

// MARK: - Reading

void ShareViewController::loadContent() {
  if (ingestStarted_) return;
  ingestStarted_ = true;
  const auto& providers = context_.inputItems();
  if (providers.empty()) {
    finishLoading("系统没有提供可读取的内容");
    applyFailure(ShareL10n::tr(Text::nothingProvided), false);
    if (autoSubmit()) later(800ms, [this] { context_.completeRequest(); });
    return;
  }
  later(30s, [this] {
    if (phase_ == Phase::reading) setStatus(ShareL10n::tr(Text::stillReading));
  });
  const auto summary = typeSummary(providers);
  ShareLogMessages::ingestStart(static_cast<std::int64_t>(providers.size()), summary);
  environment_.workers->run(
      this,
      [ingest = environment_.ingest, providers](std::stop_token stop) -> IngestResult {
        try {
          auto held = ingest.ingestHeld(providers, makeLowercaseUUID(), ShareOptions{});
          // A panel that is going away will not show the share: it leaves with the panel.
          if (stop.stop_requested()) held->discard();
          return held;
        } catch (...) {
          return std::current_exception();
        }
      },
      [this, summary](IngestResult result) { handleIngest(std::move(result), summary); });
}

void ShareViewController::handleIngest(IngestResult result, const std::string& typeSummary) {
  if (auto* held = std::get_if<std::shared_ptr<HeldShare>>(&result)) {
    // Reading that ends after a cancel stages nothing: the share goes with the request.
    if (context_.ending() != ShareExtensionContext::Ending::open) {
      (*held)->discard();
      return;
    }
    held_ = std::move(*held);
    staged_ = held_->staged();
    showReady(*staged_);
    if (autoSubmit()) later(500ms, [this] { primaryTapped(); });
    return;
  }
  try {
    std::rethrow_exception(std::get<std::exception_ptr>(result));
  } catch (const ShareIngestError& error) {
    if (error.kind() == ShareIngestError::Kind::emptyPayload) {
      ShareLogMessages::ingestEmptyPayload(typeSummary);
      applyFailure(ShareL10n::tr(Text::emptyPayload), false);
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
  if (autoSubmit()) later(800ms, [this] { context_.completeRequest(); });
}

void ShareViewController::finishLoading(const std::string& message) {
  spinner_->setVisible(false);
  ShareLogMessages::loadFinished(message);
}

void ShareViewController::applyFailure(const std::string& message, bool canRetry) {
  errorDetail_->setText(qs(message));
  retryButton_->setVisible(canRetry);
  openHostButton_->setVisible(hasSharedContainer());
  apply(Phase::failure);
}

// MARK: - Ready and the form

void ShareViewController::showReady(const StagedShare& staged) {
  QStringList lines{qs(ShareL10n::tr(Text::summaryKind, Text::kindLabel(staged.payload.kind)))};
  if (!staged.attachments.empty()) {
    lines << qs(ShareL10n::tr(Text::summaryAttachments,
                              static_cast<std::int64_t>(staged.attachments.size())));
  }
  if (staged.totalBytes > 0) {
    lines << qs(ShareL10n::tr(Text::summarySize, Text::byteCountText(staged.totalBytes)));
  }
  if (!staged.displayTitle.empty() && staged.displayTitle != staged.payload.kind) {
    lines << qs(ShareL10n::tr(Text::summaryName, staged.displayTitle));
  }
  readyDetail_->setText(lines.join('\n'));
  isLinkOnly_ = ShareCompose::isLinkOnly(staged);
  const auto& storage = environment_.ingest.storage();
  plan_ = isAnonymous_ ? std::nullopt : SharePlanStore{storage}.load(environment_.nowMs());
  const auto settings = ShareSettingsStore{storage}.load();
  const auto titlePrefill = isLinkOnly_ ? std::nullopt : staged.payload.title;
  draft_ = ShareComposeDraft::make(settings, isAnonymous_, isLinkOnly_, titlePrefill, plan_);
  applyDraftToControls();
  applyComposeVisibility();
  apply(Phase::ready);
  refreshComposeValidation();
}

void ShareViewController::composeControlChanged() {
  if (updatingControls_) return;
  syncDraftFromControls();
  applyComposeVisibility();
  refreshComposeValidation();
}

void ShareViewController::syncDraftFromControls() {
  const auto& presets = ShareComposeLimits::retentionPresets;
  draft_.title = titleField_->text().toStdString();
  draft_.note = noteTextView_->toPlainText().toStdString();
  draft_.expiresInSeconds = presets[static_cast<std::size_t>(
      std::clamp(expiryPopup_->currentIndex(), 0, static_cast<int>(presets.size()) - 1))];
  draft_.passwordEnabled = passwordCheckbox_->isChecked();
  draft_.password = passwordField_->text().toStdString();
  draft_.slug = slugField_->text().toStdString();
  draft_.disableDownload = disableDownloadCheckbox_->isChecked();
  draft_.burnAfterReading = burnCheckbox_->isChecked();
  draft_.maxDownloadsText = maxDownloadsField_->text().toStdString();
  draft_.watermarkEnabled = watermarkCheckbox_->isChecked();
  draft_.watermarkText = watermarkTextField_->text().toStdString();
  draft_.watermarkPosition = watermarkPopup_->currentIndex() == 1
                                 ? ShareComposeWatermarkPosition::diagonal
                                 : ShareComposeWatermarkPosition::center;
  draft_.watermarkOpacityPercent = watermarkSlider_->value();
  watermarkOpacityLabel_->setText(QStringLiteral("%1%").arg(draft_.watermarkOpacityPercent));
}

void ShareViewController::applyDraftToControls() {
  updatingControls_ = true;
  titleField_->setText(qs(draft_.title));
  noteTextView_->setPlainText(qs(draft_.note));
  const auto& presets = ShareComposeLimits::retentionPresets;
  if (const auto preset = std::find(presets.begin(), presets.end(), draft_.expiresInSeconds);
      preset != presets.end()) {
    expiryPopup_->setCurrentIndex(static_cast<int>(preset - presets.begin()));
  }
  passwordCheckbox_->setChecked(draft_.passwordEnabled);
  passwordField_->setText(qs(draft_.password));
  slugField_->setText(qs(draft_.slug));
  disableDownloadCheckbox_->setChecked(draft_.disableDownload);
  burnCheckbox_->setChecked(draft_.burnAfterReading);
  maxDownloadsField_->setText(qs(draft_.maxDownloadsText));
  watermarkCheckbox_->setChecked(draft_.watermarkEnabled);
  watermarkTextField_->setText(qs(draft_.watermarkText));
  watermarkPopup_->setCurrentIndex(
      draft_.watermarkPosition == ShareComposeWatermarkPosition::diagonal ? 1 : 0);
  watermarkSlider_->setValue(static_cast<int>(draft_.watermarkOpacityPercent));
  watermarkOpacityLabel_->setText(QStringLiteral("%1%").arg(watermarkSlider_->value()));
  updatingControls_ = false;
}

void ShareViewController::applyComposeVisibility() {
  for (auto* view : docOnlyViews_) view->setVisible(!isLinkOnly_);
  for (auto* view : signedInViews_) view->setVisible(!isAnonymous_);
  expiryPopup_->setEnabled(!isAnonymous_);
  const bool freePlan = plan_ && plan_->isFreePlan();
  passwordCheckbox_->setEnabled(!freePlan);
  passwordCheckbox_->setText(trq(freePlan ? Text::passwordTitleFreePlan : Text::passwordTitle));
  passwordField_->setEnabled(!freePlan && passwordCheckbox_->isChecked());
  const bool watermark = watermarkCheckbox_->isChecked();
  for (QWidget* control :
       std::initializer_list<QWidget*>{watermarkTextField_, watermarkPopup_, watermarkSlider_}) {
    control->setEnabled(watermark);
  }
  std::string hint;
  if (isLinkOnly_) {
    hint = ShareL10n::tr(isAnonymous_ ? Text::hintAnonymousLink : Text::hintSignedInLink);
  } else if (isAnonymous_) {
    hint = ShareL10n::tr(tokenState_ == ShareUploadSession::TokenState::expired
                             ? Text::hintLoginExpired
                             : Text::hintAnonymous);
  } else if (freePlan) {
    hint = ShareL10n::tr(Text::hintFreePlan, plan_->displayName());
  }
  composeHintLabel_->setText(qs(hint));
  composeHintLabel_->setVisible(!hint.empty());
}

void ShareViewController::refreshComposeValidation() {
  issues_ = draft_.issues(isLinkOnly_, isAnonymous_);
  validationLabel_->setText(issues_.empty() ? QString() : qs(Text::message(issues_.front())));
  validationLabel_->setVisible(phase_ == Phase::ready && !issues_.empty());
  primaryButton_->setEnabled(phase_ == Phase::ready && staged_ && issues_.empty());
}

// MARK: - Publishing

void ShareViewController::primaryTapped() {
  if (phase_ == Phase::success || phase_ == Phase::failure) {
    completeTapped();
    return;
  }
  if (!staged_ || phase_ != Phase::ready) return;
  syncDraftFromControls();
  refreshComposeValidation();
  if (!issues_.empty()) return;
  apply(Phase::uploading);
  setStatus(staged_->totalBytes > 0
                ? ShareL10n::tr(Text::uploadingWithSize, Text::byteCountText(staged_->totalBytes))
                : ShareL10n::tr(Text::uploading));
  const auto options = publishOptions();
  staged_->options = options;
  publish(options, true);
}

void ShareViewController::retryTapped() {
  // One upload at a time: a retry while one is in flight would publish the share twice.
  if (!staged_ || phase_ == Phase::uploading) return;
  apply(Phase::uploading);
  setStatus(ShareL10n::tr(Text::retrying));
  publish(publishOptions(), false);
}

ShareOptions ShareViewController::publishOptions() const {
  const bool allowsPassword = !plan_ || !plan_->isFreePlan();
  return draft_.makeOptions(isLinkOnly_, isAnonymous_, allowsPassword);
}

void ShareViewController::publish(const ShareOptions& options, bool firstAttempt) {
  const QPointer<QObject> self(this);
  auto lastPercent = std::make_shared<std::atomic<int>>(-1);
  const ShareUploadProgress progress{
      [this, self, lastPercent](std::int64_t sent, std::int64_t total) {
        const int percent = total > 0 ? static_cast<int>(sent * 100 / total) : 0;
        if (lastPercent->exchange(percent) == percent) return;  // at most one update per percent
        SharePanelWorkers::post(self, [this, sent, total] { showUploadProgress(sent, total); });
      }};
  environment_.workers->run(
      this,
      [session = environment_.uploadSession, held = held_, options, progress](
          std::stop_token stop) { return session.uploadNow(*held, options, stop, progress); },
      [this, firstAttempt](ShareUploadSession::UploadResult result) {
        handleUpload(result, firstAttempt);
      });
}

void ShareViewController::showUploadProgress(std::int64_t sent, std::int64_t total) {
  if (phase_ != Phase::uploading || total <= 0) return;
  spinner_->setRange(0, 1000);
  spinner_->setValue(static_cast<int>(std::clamp<std::int64_t>(sent * 1000 / total, 0, 1000)));
}

void ShareViewController::handleUpload(const ShareUploadSession::UploadResult& result,
                                       bool firstAttempt) {
  if (const auto* outcome = std::get_if<ShareUploadOutcome>(&result)) {
    if (firstAttempt) {
      ShareLogMessages::shareSucceeded(outcome->kind, outcome->slug, outcome->shortUrl,
                                       outcome->anonymous);
    }
    showSuccess(*outcome, *staged_);
    if (firstAttempt && autoSubmit()) later(1200ms, [this] { context_.completeRequest(); });
    return;
  }
  const auto& error = std::get<ShareUploadError>(result);
  if (firstAttempt) {
    ShareLogMessages::shareFailed(error.what(), error.requiresLogin(), error.message());
  }
  applyFailure(Text::failureGuidance(error, tokenState_), hasSharedContainer());
  if (firstAttempt && autoSubmit()) later(800ms, [this] { context_.completeRequest(); });
}

void ShareViewController::showSuccess(const ShareUploadOutcome& outcome,
                                      const StagedShare& staged) {
  currentShortURL_ = outcome.shortUrl;
  resultURLLabel_->setLink(qs(outcome.shortUrl));
  resultMeta_->setText(qs(Text::resultMetaText(outcome, staged, environment_.nowMs())));
  auto image = qrImage(outcome.shortUrl, 132);
  qrView_->setVisible(image.has_value());
  qrView_->setImage(std::move(image));
  apply(Phase::success);
}

// MARK: - Result actions

void ShareViewController::copyLink() {
  if (currentShortURL_.empty()) return;
  auto* clipboard = QGuiApplication::clipboard();
  clipboard->clear();
  clipboard->setText(qs(currentShortURL_));
  if (clipboard->supportsSelection())
    clipboard->setText(qs(currentShortURL_), QClipboard::Selection);
  copyButton_->setText(trq(Text::copiedButton));
  later(1500ms, [this] { copyButton_->setText(trq(Text::copyButton)); });
}

void ShareViewController::openInBrowser() {
  if (currentShortURL_.empty() || !Url::parse(currentShortURL_)) return;
  QDesktopServices::openUrl(QUrl(qs(currentShortURL_)));
}

void ShareViewController::openHostApp() {
  const auto identifier = ShareAppleBundle::main()->hostBundleIdentifier();
  if (!ShareHostApp::applicationURL(identifier)) {
    setStatus(ShareL10n::tr(Text::hostAppMissing, identifier));
    return;
  }
  if (const auto failure = ShareHostApp::open(identifier)) {
    setStatus(ShareL10n::tr(Text::hostAppFailed, *failure));
  }
  context_.completeRequest();
}

void ShareViewController::cancelTapped() {
  // The person said no before publishing: the staged share goes, and a reading still in flight
  // drops its share when it ends. A share whose upload began stays queued as the failure says.
  if ((phase_ == Phase::reading || phase_ == Phase::ready) && held_) held_->discard();
  context_.cancelRequest();
}

void ShareViewController::completeTapped() {
  context_.completeRequest();
}

// MARK: - Keys and closing

void ShareViewController::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if ((key == Qt::Key_Return || key == Qt::Key_Enter) && primaryButton_->isVisible()) {
    if (primaryButton_->isEnabled()) primaryTapped();
    event->accept();
  } else if (key == Qt::Key_Escape && cancelButton_->isVisible()) {
    cancelTapped();
    event->accept();
  } else {
    QWidget::keyPressEvent(event);
  }
}

void ShareViewController::closeEvent(QCloseEvent* event) {
  // Closing the window after a result means done; before it, that the person changed their mind.
  if (phase_ == Phase::success || phase_ == Phase::failure) {
    completeTapped();
  } else {
    cancelTapped();
  }
  event->accept();
}

// MARK: - Helpers

bool ShareViewController::autoSubmit() const {
  return ShareAppleBundle::main()->autoSubmit();
}

bool ShareViewController::hasSharedContainer() const {
  return environment_.ingest.storage().location != ShareStorageLocation::unavailable;
}

void ShareViewController::setStatus(const std::string& text) {
  statusLabel_->setText(qs(text));
}

void ShareViewController::later(std::chrono::milliseconds delay, std::function<void()> step) {
  environment_.delayedSteps->after(delay, this, std::move(step));
}

}  // namespace lumo
