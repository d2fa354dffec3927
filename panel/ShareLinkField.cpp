#include "ShareLinkField.hpp"

#include <QStyle>
#include <QStyleOptionFrame>

namespace lumo {

ShareLinkField::ShareLinkField(QWidget* parent) : QLineEdit(parent) {
  setReadOnly(true);
  setFrame(false);
  setStyleSheet(QStringLiteral("background: transparent;"));
}

void ShareLinkField::setLink(const QString& link) {
  link_ = link;
  setToolTip(link);
  showLink();
}

void ShareLinkField::focusInEvent(QFocusEvent* event) {
  setText(link_);
  QLineEdit::focusInEvent(event);
}

void ShareLinkField::focusOutEvent(QFocusEvent* event) {
  QLineEdit::focusOutEvent(event);
  showLink();
}

void ShareLinkField::resizeEvent(QResizeEvent* event) {
  QLineEdit::resizeEvent(event);
  if (!hasFocus()) showLink();
}

void ShareLinkField::showLink() {
  if (hasFocus()) {
    setText(link_);
    return;
  }
  QStyleOptionFrame option;
  initStyleOption(&option);
  const auto room = style()->subElementRect(QStyle::SE_LineEditContents, &option, this).width();
  // A little slack for the text margins the line edit keeps on both sides.
  setText(fontMetrics().elidedText(link_, Qt::ElideMiddle, std::max(0, room - 6)));
  setCursorPosition(0);
}

}  // namespace lumo
