#include "PanelLayout.hpp"

namespace lumo::PanelLayout {

QHBoxLayout* row(std::initializer_list<QWidget*> widgets, Qt::AlignmentFlag edge) {
  auto* layout = new QHBoxLayout;
  if (edge == Qt::AlignRight) layout->addStretch(1);
  for (auto* widget : widgets) layout->addWidget(widget);
  if (edge != Qt::AlignRight) layout->addStretch(1);
  return layout;
}

void setBold(QWidget* widget) {
  QFont font = widget->font();
  font.setBold(true);
  widget->setFont(font);
}

}  // namespace lumo::PanelLayout
