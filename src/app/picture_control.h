// PictureControl: shows one picture, its top-left corner at the control's
// top-left corner; the rest of the control is background. It shows the
// picture at 1:1 unless zoomed: enlarged by repeating pixels, so whole
// factors stay sharp, and reduced by smoothing. Its minimum size is the
// zoomed picture's, so a scroll area around it scrolls where the picture
// does not fit. It owns the picture it is given and drops the previous one.
#pragma once

#include <QImage>
#include <QWidget>

namespace lumifold {

class PictureControl : public QWidget {
  Q_OBJECT

public:
  explicit PictureControl(QWidget* parent = nullptr);

  // Takes the picture, replacing the one shown, at the zoom set now.
  void setBitmap(QImage bitmap);
  const QImage& bitmap() const { return bitmap_; }

  // Screen pixels per picture pixel; 1 shows the picture unscaled.
  double zoom() const { return zoom_; }
  void setZoom(double zoom);
  // The picture's size on the screen at the zoom set now.
  QSize zoomedSize() const;

  QSize sizeHint() const override;

protected:
  void paintEvent(QPaintEvent* event) override;

private:
  QImage bitmap_;
  double zoom_ = 1.0;
};

}  // namespace lumifold
