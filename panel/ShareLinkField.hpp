#pragma once

#include <QLineEdit>

namespace lumo {

/// The published link: selectable text without a frame that shortens a long link in the middle
/// ("https://lumo…/abc") while it is only looked at, and shows all of it to select and copy once
/// it has the focus.
class ShareLinkField : public QLineEdit {
 public:
  explicit ShareLinkField(QWidget* parent = nullptr);

  void setLink(const QString& link);
  const QString& link() const { return link_; }

 protected:
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void showLink();

  QString link_;
};

}  // namespace lumo
