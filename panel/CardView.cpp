#include "CardView.hpp"

#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace lumo {

CardView::CardView(QWidget* parent) : QFrame(parent) {
  setFrameShape(QFrame::NoFrame);
  setAttribute(Qt::WA_StyledBackground, false);
}

void CardView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  // The border's centre line lies half a point inside, so the whole point is drawn.
  const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  QPainterPath card;
  card.addRoundedRect(bounds, cornerRadius, cornerRadius);
  painter.fillPath(card, palette().color(QPalette::Base));
  QColor separator = palette().color(QPalette::Mid);
  separator.setAlphaF(0.5);
  painter.setPen(QPen(separator, 1));
  painter.drawPath(card);
}

FlippedView::FlippedView(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setAlignment(Qt::AlignTop);
}

}  // namespace lumo
