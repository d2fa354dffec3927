#include "QRCodeView.hpp"

#include <QPainter>

#include <cmath>

namespace lumo {

QRCodeView::QRCodeView(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void QRCodeView::setImage(std::optional<ShareQRImage> image) {
  image_ = std::move(image);
  updateGeometry();
  update();
}

QSize QRCodeView::sizeHint() const {
  const int side = image_ ? static_cast<int>(std::ceil(image_->side)) : 0;
  return {side, side};
}

void QRCodeView::paintEvent(QPaintEvent*) {
  if (!image_ || image_->modulesPerSide <= 0) return;
  QPainter painter(this);
  const qreal ratio = devicePixelRatioF();
  // Work in device pixels: every module gets the same whole number of pixels, and what is left
  // over goes to the white margin, so no module is smeared across a pixel boundary.
  painter.scale(1 / ratio, 1 / ratio);
  const int side = static_cast<int>(std::floor(std::min(width(), height()) * ratio));
  painter.fillRect(0, 0, side, side, Qt::white);
  const int count = image_->modulesPerSide;
  const int inner = static_cast<int>(std::floor((image_->innerSide() / image_->side) * side));
  const int module = std::max(1, inner / count);
  const int origin = (side - module * count) / 2;
  for (int row = 0; row < count; ++row) {
    for (int column = 0; column < count; ++column) {
      if (image_->isDark(row, column)) {
        painter.fillRect(origin + column * module, origin + row * module, module, module,
                         Qt::black);
      }
    }
  }
}

}  // namespace lumo
