#pragma once
// Small layout pieces the share panel and the host window share.
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

#include <functional>
#include <initializer_list>

namespace lumo::PanelLayout {

/// Widgets side by side, pushed to the left edge (Qt::AlignLeft) or the right one.
QHBoxLayout* row(std::initializer_list<QWidget*> widgets, Qt::AlignmentFlag edge = Qt::AlignLeft);
/// The same row as a widget of its own, without margins (a control inside a form row).
QWidget* strip(std::initializer_list<QWidget*> widgets, Qt::AlignmentFlag edge = Qt::AlignLeft);

/// A push button carrying its role as object name, that calls `onClick` when clicked.
QPushButton* button(const char* name, const QString& text, std::function<void()> onClick);

/// The widget's own font, bold.
void setBold(QWidget* widget);

/// Asks before a step that cannot be undone: a window-modal box ("confirmation") over `parent`
/// with `question`, `detail` (the link, then what it means), the button `action` ("confirmButton")
/// and "取消" ("declineButton", the default, also on Escape). `onConfirm` runs only when `action`
/// is chosen; the box goes once answered.
QMessageBox* confirm(QWidget* parent, const QString& question, const QString& detail,
                     const QString& action, std::function<void()> onConfirm);

}  // namespace lumo::PanelLayout
