// PictureControl: shows one picture at 1:1, its top-left corner at the
// control's top-left corner, never scaled; the rest of the control is
// background. It owns the picture it is given and drops the previous one.
#pragma once

#include <QImage>
#include <QWidget>

namespace lumifold {

class PictureControl : public QWidget {
  Q_OBJECT

public:
  explicit PictureControl(QWidget* parent = nullptr);

  // Takes the picture, replacing the one shown.
  void setBitmap(QImage bitmap);
  const QImage& bitmap() const { return bitmap_; }

  QSize sizeHint() const override;

protected:
  void paintEvent(QPaintEvent* event) override;

private:
  QImage bitmap_;
};

}  // namespace lumifold
