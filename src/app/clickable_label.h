// ClickableLabel: a text label that reports a left click, for the web
// address lines of the splash and the information window. It shows the
// hand cursor.
#pragma once

#include <QLabel>

namespace lumifold {

class ClickableLabel : public QLabel {
  Q_OBJECT

public:
  explicit ClickableLabel(const QString& text, QWidget* parent = nullptr);

signals:
  void clicked();

protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

}  // namespace lumifold
