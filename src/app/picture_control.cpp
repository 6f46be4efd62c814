#include "app/picture_control.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <utility>

namespace lumifold {

PictureControl::PictureControl(QWidget* parent) : QWidget(parent) {
  // Where the window is larger than the picture, the window's colour shows.
  setAutoFillBackground(true);
}

void PictureControl::setBitmap(QImage bitmap) {
  bitmap_ = std::move(bitmap);
  setMinimumSize(zoomedSize());
  update();
}

void PictureControl::setZoom(double zoom) {
  zoom_ = zoom;
  setMinimumSize(zoomedSize());
  update();
}

QSize PictureControl::zoomedSize() const {
  if (bitmap_.isNull()) return QSize(0, 0);
  // A last picture pixel only partly on the screen is cut, never spread.
  const auto scaled = [this](int n) { return std::max(1, static_cast<int>(std::floor(n * zoom_))); };
  return QSize(scaled(bitmap_.width()), scaled(bitmap_.height()));
}

QSize PictureControl::sizeHint() const { return zoomedSize(); }

void PictureControl::paintEvent(QPaintEvent* event) {
  if (bitmap_.isNull()) return;
  QPainter painter(this);
  if (zoom_ == 1.0) {
    // Only the exposed part of the picture is drawn, from its own pixels.
    const QRect exposed = event->rect() & bitmap_.rect();
    if (!exposed.isEmpty()) painter.drawImage(exposed.topLeft(), bitmap_, exposed);
    return;
  }
  // The picture pixels that cover the exposed part, each drawn whole, so
  // the pixel grid does not shift from one exposed strip to the next.
  const QRect exposed = event->rect() & QRect(QPoint(0, 0), zoomedSize());
  if (exposed.isEmpty()) return;
  const int left = static_cast<int>(std::floor(exposed.left() / zoom_));
  const int top = static_cast<int>(std::floor(exposed.top() / zoom_));
  const int right = static_cast<int>(std::ceil((exposed.right() + 1) / zoom_));
  const int bottom = static_cast<int>(std::ceil((exposed.bottom() + 1) / zoom_));
  const QRect source = QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)) & bitmap_.rect();
  if (source.isEmpty()) return;
  const QRectF target(source.left() * zoom_, source.top() * zoom_, source.width() * zoom_, source.height() * zoom_);
  painter.setClipRect(exposed);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, zoom_ < 1.0);
  painter.drawImage(target, bitmap_, source);
}

}  // namespace lumifold
