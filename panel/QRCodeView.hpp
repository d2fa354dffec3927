#pragma once

#include <QWidget>

#include <optional>

#include "ShareQRCode.hpp"

namespace lumo {

/// Paints a QR code from its module matrix: a white square with the modules inside the margin.
/// Module edges are snapped to device pixels, so the code stays crisp at any size and on any
/// screen scale.
class QRCodeView : public QWidget {
 public:
  explicit QRCodeView(QWidget* parent = nullptr);

  /// Shows `image`, or nothing.
  void setImage(std::optional<ShareQRImage> image);
  const std::optional<ShareQRImage>& image() const { return image_; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::optional<ShareQRImage> image_;
};

}  // namespace lumo
