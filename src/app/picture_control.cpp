#include "app/picture_control.h"

#include <QPaintEvent>
#include <QPainter>

#include <utility>

namespace lumifold {

PictureControl::PictureControl(QWidget* parent) : QWidget(parent) {
  // Where the window is larger than the picture, the window's colour shows.
  setAutoFillBackground(true);
}

void PictureControl::setBitmap(QImage bitmap) {
  bitmap_ = std::move(bitmap);
  update();
}

QSize PictureControl::sizeHint() const { return bitmap_.isNull() ? QSize(0, 0) : bitmap_.size(); }

void PictureControl::paintEvent(QPaintEvent* event) {
  if (bitmap_.isNull()) return;
  QPainter painter(this);
  // Only the exposed part of the picture is drawn, from its own pixels.
  const QRect exposed = event->rect() & bitmap_.rect();
  if (!exposed.isEmpty()) painter.drawImage(exposed.topLeft(), bitmap_, exposed);
}

}  // namespace lumifold
