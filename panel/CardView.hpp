#pragma once

#include <QFrame>

namespace lumo {

/// A card: curved corners of 12 points, the controls' background, a 1-point border in the
/// separator colour at half alpha. Drawn from the current palette at every paint, so it follows
/// the desktop's light or dark scheme as it changes.
class CardView : public QFrame {
 public:
  static constexpr qreal cornerRadius = 12;

  explicit CardView(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

/// A plain view whose content starts at the top: the document view of the form's scroll area,
/// so a short form sits under the summary instead of floating in the middle.
class FlippedView : public QWidget {
 public:
  explicit FlippedView(QWidget* parent = nullptr);
};

}  // namespace lumo
