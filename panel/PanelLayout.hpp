#pragma once
// Small layout pieces the share panel and the host window share.
#include <QHBoxLayout>
#include <QWidget>

#include <initializer_list>

namespace lumo::PanelLayout {

/// Widgets side by side, pushed to the left edge (Qt::AlignLeft) or the right one.
QHBoxLayout* row(std::initializer_list<QWidget*> widgets, Qt::AlignmentFlag edge = Qt::AlignLeft);

/// The widget's own font, bold.
void setBold(QWidget* widget);

}  // namespace lumo::PanelLayout
