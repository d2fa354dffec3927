#include "PanelLayout.hpp"

namespace lumo::PanelLayout {

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

}  // namespace lumo::PanelLayout
