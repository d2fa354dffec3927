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
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

#include "CardView.hpp"
#include "PanelLayout.hpp"
#include "QRCodeView.hpp"
#include "ShareHostApp.hpp"
#include "ShareLinkField.hpp"

namespace lumo {
namespace {

namespace Text = SharePanelText;
namespace Form = SharePanelText::Form;
using PanelLayout::button;

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
  layout->addWidget(control, 1);
  return row;
}
QWidget* formRow(const char* label, QWidget* control) {
  auto* text = new QLabel(trq(label));
  text->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return formRow(text, control);
}

/// A label in the warning colour (the form's validation, a share not taken back).
QLabel* warningLabel(const char* name) {
  auto* label = wrappingLabel(name);
  QPalette warning = label->palette();
  warning.setColor(QPalette::WindowText, QColor(0xd7, 0x26, 0x1e));
  label->setPalette(warning);
  return label;
}

/// A link that no longer works: greyed and struck through.
void showWithdrawn(QWidget* link, bool withdrawn) {
  link->setEnabled(!withdrawn);
  QFont font = link->font();
  font.setStrikeOut(withdrawn);
  link->setFont(font);
}

/// The link on the clipboard, and on the primary selection where the desktop has one.
void copyToClipboard(const std::string& text) {
  auto* clipboard = QGuiApplication::clipboard();
  clipboard->clear();
  clipboard->setText(qs(text));
  if (clipboard->supportsSelection()) clipboard->setText(qs(text), QClipboard::Selection);
}

}  // namespace

ShareViewEnvironment ShareViewEnvironment::makeDefault(std::shared_ptr<SharePanelWorkers> workers) {
  const auto& context = ShareContext::process();
  return {context.ingest(), context.uploads, ShareDelayedSteps::timers(), std::move(workers),
          currentTimeMs};
}

ShareViewController::ShareViewController(ShareExtensionContext& context,
                                         ShareViewEnvironment environment, QWidget* parent)
    : QWidget(parent),
      flow_(context, std::move(environment.ingest), std::move(environment.uploadSession),
            std::move(environment.nowMs), seams(environment)) {
  resize(520, 600);
  buildViews();
  flow_.observe([this](bool draftReplaced) {
    if (draftReplaced) fillForm(flow_.draft());
    render();
  });
  flow_.start();
}

SharePanelFlow::Seams ShareViewController::seams(const ShareViewEnvironment& environment) {
  const QPointer<QObject> self(this);
  return {[self, workers = environment.workers](auto work) {
            workers->run(self, std::move(work), [](const SharePanelFlow::Step& step) { step(); });
          },
          [self](SharePanelFlow::Step step) { SharePanelWorkers::post(self, std::move(step)); },
          [self, steps = environment.delayedSteps](auto delay, SharePanelFlow::Step step) {
            steps->after(delay, self, std::move(step));
          },
          copyToClipboard,
          [](const std::string& link) { QDesktopServices::openUrl(QUrl(qs(link))); },
          [](const std::string& identifier) {
            return ShareHostApp::applicationURL(identifier).has_value();
          },
          ShareHostApp::open};
}

// MARK: - Views

void ShareViewController::buildViews() {
  setWindowTitle(trq(Text::titleLabel));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(20, 18, 20, 18);
  layout->setSpacing(8);

  auto* titleLabel = named(new QLabel(trq(Text::titleLabel)), "titleLabel");
  QFont titleFont = titleLabel->font();
  titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
  titleFont.setBold(true);
  titleLabel->setFont(titleFont);
  statusLabel_ = wrappingLabel("statusLabel");
  PanelLayout::setBold(statusLabel_);
  hintLabel_ = wrappingLabel("hintLabel");
  hintLabel_->setForegroundRole(QPalette::PlaceholderText);
  spinner_ = named(new QProgressBar, "spinner");
  spinner_->setTextVisible(false);
  spinner_->setMaximumHeight(6);
  for (auto* widget :
       std::initializer_list<QWidget*>{titleLabel, statusLabel_, hintLabel_, spinner_}) {
    layout->addWidget(widget);
  }

  readyCard_ = named(new CardView, "readyCard");
  auto* readyLayout = new QVBoxLayout(readyCard_);
  readyLayout->setContentsMargins(14, 10, 14, 10);
  auto* readyTitle = named(new QLabel(trq(Text::readyTitle)), "readyTitle");
  PanelLayout::setBold(readyTitle);
  readyDetail_ = wrappingLabel("readyDetail");
  readyLayout->addWidget(readyTitle);
  readyLayout->addWidget(readyDetail_);
  layout->addWidget(readyCard_);

  formScrollView_ = named(new QScrollArea, "formScrollView");
  formScrollView_->setWidgetResizable(true);
  formScrollView_->setFrameShape(QFrame::NoFrame);
  formScrollView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  formScrollView_->setWidget(buildForm());
  layout->addWidget(formScrollView_, 1);
  validationLabel_ = warningLabel("validationLabel");
  layout->addWidget(validationLabel_);

  resultCard_ = named(new CardView, "resultCard");
  layout->addWidget(buildResultCard());
  errorCard_ = named(new CardView, "errorCard");
  layout->addWidget(buildErrorCard());
  layout->addStretch(0);

  cancelButton_ = button("cancelButton", trq(Text::cancelButton), [this] { cancelTapped(); });
  primaryButton_ = button("primaryButton", trq(Text::publishButton), [this] { primaryTapped(); });
  primaryButton_->setDefault(true);
  layout->addLayout(PanelLayout::row({cancelButton_, primaryButton_}, Qt::AlignRight));
}

QWidget* ShareViewController::buildForm() {
  auto* formStack = named(new FlippedView, "formStack");
  auto* rows = static_cast<QVBoxLayout*>(formStack->layout());
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
  auto* passwordRow =
      formRow(PanelLayout::strip({passwordCheckbox_}, Qt::AlignRight), passwordField_);
  auto* slugRow = formRow(Form::slug, slugField_);
  auto* switchRow =
      formRow(new QWidget, PanelLayout::strip({disableDownloadCheckbox_, burnCheckbox_}));
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
  return formStack;
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
  auto* resultCaption = named(new QLabel(trq(Text::resultCaption)), "resultCaption");
  resultCaption->setForegroundRole(QPalette::PlaceholderText);
  resultURLLabel_ = named(new ShareLinkField, "resultURLLabel");
  resultMeta_ = wrappingLabel("resultMeta");
  copyButton_ = button("copyButton", trq(Text::copyButton), [this] { copyLink(); });
  browseButton_ = button("browseButton", trq(Text::browseButton), [this] { openInBrowser(); });
  takeBackButton_ =
      button("takeBackButton", trq(Text::TakeBack::button), [this] { takeBackTapped(); });
  takeBackNote_ = warningLabel("takeBackNote");
  for (auto* widget :
       std::initializer_list<QWidget*>{resultTitle_, resultCaption, resultURLLabel_, resultMeta_}) {
    column->addWidget(widget);
  }
  column->addLayout(PanelLayout::row({copyButton_, browseButton_, takeBackButton_}));
  column->addWidget(takeBackNote_);
  column->addStretch(1);
  layout->addLayout(column, 1);
  return resultCard_;
}

QWidget* ShareViewController::buildErrorCard() {
  auto* layout = new QHBoxLayout(errorCard_);
  layout->setContentsMargins(14, 14, 14, 14);
  layout->setSpacing(12);
  errorIcon_ = named(new QLabel, "errorIcon");  // its picture comes with the first error
  layout->addWidget(errorIcon_, 0, Qt::AlignTop);
  auto* column = new QVBoxLayout;
  auto* errorTitle = named(new QLabel(trq(Text::errorTitle)), "errorTitle");
  PanelLayout::setBold(errorTitle);
  errorDetail_ = wrappingLabel("errorDetail");
  errorDetail_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  retryButton_ = button("retryButton", trq(Text::retryButton), [this] { retryTapped(); });
  openHostButton_ = button("openHostButton", trq(Text::openHostButton), [this] { openHostApp(); });
  column->addWidget(errorTitle);
  column->addWidget(errorDetail_);
  column->addLayout(PanelLayout::row({retryButton_, openHostButton_}));
  layout->addLayout(column, 1);
  return errorCard_;
}

/// Draws the flow's state as it now stands.
void ShareViewController::render() {
  const auto& view = flow_.view();
  statusLabel_->setText(qs(view.status));
  hintLabel_->setText(qs(view.hint));
  spinner_->setVisible(view.busy);
  spinner_->setRange(0, view.progressPermille ? 1000 : 0);
  if (view.progressPermille) spinner_->setValue(*view.progressPermille);
  cancelButton_->setVisible(view.cancelShown);
  primaryButton_->setVisible(view.primaryShown);
  primaryButton_->setText(qs(view.primaryTitle));
  primaryButton_->setEnabled(view.primaryEnabled);

  readyCard_->setVisible(view.readyCard);
  readyDetail_->setText(qs(view.readyDetail));
  formScrollView_->setVisible(view.formShown);
  for (auto* row : docOnlyViews_) row->setVisible(view.documentRows);
  for (auto* row : signedInViews_) row->setVisible(view.accountRows);
  expiryPopup_->setEnabled(view.retentionEnabled);
  passwordCheckbox_->setEnabled(view.passwordSwitchEnabled);
  passwordCheckbox_->setText(qs(view.passwordTitle));
  passwordField_->setEnabled(view.passwordFieldEnabled);
  for (QWidget* control :
       std::initializer_list<QWidget*>{watermarkTextField_, watermarkPopup_, watermarkSlider_}) {
    control->setEnabled(view.watermarkControlsEnabled);
  }
  watermarkOpacityLabel_->setText(QStringLiteral("%1%").arg(flow_.draft().watermarkOpacityPercent));
  composeHintLabel_->setText(qs(view.composeHint));
  composeHintLabel_->setVisible(!view.composeHint.empty());
  validationLabel_->setText(qs(view.validation));
  validationLabel_->setVisible(view.validationShown);

  resultCard_->setVisible(view.resultCard);
  resultTitle_->setText(qs(view.resultTitle));
  if (resultURLLabel_->link() != qs(view.shortURL)) {
    resultURLLabel_->setLink(qs(view.shortURL));
    qrView_->setImage(view.qrCode);
  }
  qrView_->setVisible(view.qrCode.has_value() && !view.linkWithdrawn);
  showWithdrawn(resultURLLabel_, view.linkWithdrawn);
  resultMeta_->setText(qs(view.resultMeta));
  copyButton_->setText(qs(view.copyTitle));
  copyButton_->setVisible(view.linkActionsShown);
  browseButton_->setVisible(view.linkActionsShown);
  takeBackButton_->setVisible(view.takeBackShown);
  for (auto* action : {copyButton_, browseButton_, takeBackButton_}) {
    action->setEnabled(view.resultActionsEnabled);
  }
  takeBackNote_->setText(qs(view.takeBackNote));
  takeBackNote_->setVisible(!view.takeBackNote.empty());
  if (view.errorCard) showErrorIcon();
  errorCard_->setVisible(view.errorCard);
  errorDetail_->setText(qs(view.errorDetail));
  retryButton_->setVisible(view.retryShown);
  openHostButton_->setVisible(view.openHostShown);
}

/// The warning icon is looked up in the icon theme only when an error first shows: the lookup
/// (theme index files, image decoding) would otherwise lengthen every start of the panel.
void ShareViewController::showErrorIcon() {
  if (!errorIcon_->pixmap().isNull()) return;
  errorIcon_->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32));
}

void ShareViewController::takeBackTapped() {
  if (!flow_.canTakeBack() || confirmation_) return;
  confirmation_ = PanelLayout::confirm(
      this, trq(Text::TakeBack::question),
      qs(flow_.currentShortURL() + "\n" + ShareL10n::tr(Text::TakeBack::warning)),
      trq(Text::TakeBack::button), [this] { flow_.takeBack(); });
}

// MARK: - The form and the draft

void ShareViewController::composeControlChanged() {
  if (!updatingControls_) flow_.composeChanged(formDraft());
}

ShareComposeDraft ShareViewController::formDraft() const {
  const auto& presets = ShareComposeLimits::retentionPresets;
  ShareComposeDraft draft;
  draft.title = titleField_->text().toStdString();
  draft.note = noteTextView_->toPlainText().toStdString();
  draft.expiresInSeconds = presets[static_cast<std::size_t>(
      std::clamp(expiryPopup_->currentIndex(), 0, static_cast<int>(presets.size()) - 1))];
  draft.passwordEnabled = passwordCheckbox_->isChecked();
  draft.password = passwordField_->text().toStdString();
  draft.slug = slugField_->text().toStdString();
  draft.disableDownload = disableDownloadCheckbox_->isChecked();
  draft.burnAfterReading = burnCheckbox_->isChecked();
  draft.maxDownloadsText = maxDownloadsField_->text().toStdString();
  draft.watermarkEnabled = watermarkCheckbox_->isChecked();
  draft.watermarkText = watermarkTextField_->text().toStdString();
  draft.watermarkPosition = watermarkPopup_->currentIndex() == 1
                                ? ShareComposeWatermarkPosition::diagonal
                                : ShareComposeWatermarkPosition::center;
  draft.watermarkOpacityPercent = watermarkSlider_->value();
  return draft;
}

void ShareViewController::fillForm(const ShareComposeDraft& draft) {
  updatingControls_ = true;
  titleField_->setText(qs(draft.title));
  noteTextView_->setPlainText(qs(draft.note));
  const auto& presets = ShareComposeLimits::retentionPresets;
  if (const auto preset = std::find(presets.begin(), presets.end(), draft.expiresInSeconds);
      preset != presets.end()) {
    expiryPopup_->setCurrentIndex(static_cast<int>(preset - presets.begin()));
  }
  passwordCheckbox_->setChecked(draft.passwordEnabled);
  passwordField_->setText(qs(draft.password));
  slugField_->setText(qs(draft.slug));
  disableDownloadCheckbox_->setChecked(draft.disableDownload);
  burnCheckbox_->setChecked(draft.burnAfterReading);
  maxDownloadsField_->setText(qs(draft.maxDownloadsText));
  watermarkCheckbox_->setChecked(draft.watermarkEnabled);
  watermarkTextField_->setText(qs(draft.watermarkText));
  watermarkPopup_->setCurrentIndex(
      draft.watermarkPosition == ShareComposeWatermarkPosition::diagonal ? 1 : 0);
  watermarkSlider_->setValue(static_cast<int>(draft.watermarkOpacityPercent));
  updatingControls_ = false;
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
  flow_.windowClosed();
  event->accept();
}

}  // namespace lumo
