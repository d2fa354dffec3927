#include "PanelLayout.hpp"

#include <QGridLayout>

#include "SharePanelText.hpp"

namespace lumo::PanelLayout {
namespace {

/// The narrowest confirmation.
constexpr int minimumWidth = 420;

}  // namespace

QHBoxLayout* row(std::initializer_list<QWidget*> widgets, Qt::AlignmentFlag edge) {
  auto* layout = new QHBoxLayout;
  if (edge == Qt::AlignRight) layout->addStretch(1);
  for (auto* widget : widgets) layout->addWidget(widget);
  if (edge != Qt::AlignRight) layout->addStretch(1);
  return layout;
}

QWidget* strip(std::initializer_list<QWidget*> widgets, Qt::AlignmentFlag edge) {
  auto* strip = new QWidget;
  strip->setLayout(row(widgets, edge));
  strip->layout()->setContentsMargins(0, 0, 0, 0);
  return strip;
}

QPushButton* button(const char* name, const QString& text, std::function<void()> onClick) {
  auto* button = new QPushButton(text);
  button->setObjectName(QString::fromLatin1(name));
  QObject::connect(button, &QPushButton::clicked, button, std::move(onClick));
  return button;
}

void setBold(QWidget* widget) {
  QFont font = widget->font();
  font.setBold(true);
  widget->setFont(font);
}

QMessageBox* confirm(QWidget* parent, const QString& question, const QString& detail,
                     const QString& action, std::function<void()> onConfirm) {
  auto* box = new QMessageBox(QMessageBox::Warning, QString::fromUtf8(SharePanelText::titleLabel),
                              question, QMessageBox::NoButton, parent);
  box->setObjectName(QStringLiteral("confirmation"));
  box->setInformativeText(detail);
  // Wide enough for a link on one line: a message box sizes itself to its text alone.
  auto* grid = qobject_cast<QGridLayout*>(box->layout());
  if (grid) {
    grid->addItem(new QSpacerItem(minimumWidth, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                  grid->rowCount(), 0, 1, grid->columnCount());
  }
  box->setAttribute(Qt::WA_DeleteOnClose);
  auto* confirmButton = box->addButton(action, QMessageBox::DestructiveRole);
  confirmButton->setObjectName(QStringLiteral("confirmButton"));
  auto* cancel = box->addButton(QString::fromStdString(ShareL10n::tr(SharePanelText::cancelButton)),
                                QMessageBox::RejectRole);
  cancel->setObjectName(QStringLiteral("declineButton"));
  box->setDefaultButton(cancel);
  box->setEscapeButton(cancel);
  QObject::connect(box, &QMessageBox::buttonClicked, box,
                   [confirmButton, onConfirm = std::move(onConfirm)](QAbstractButton* chosen) {
                     if (chosen == confirmButton) onConfirm();
                   });
  box->open();
  return box;
}

}  // namespace lumo::PanelLayout
