#include "app/window_geometry.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace lumifold {

namespace {

bool shown(const QWidget* w) {
  const QWindow* handle = w ? w->windowHandle() : nullptr;
  return handle && handle->isVisible();
}

}  // namespace

QMargins frameMargins(const QWidget* w, const QWidget* like) {
  if (shown(w) && !w->windowHandle()->frameMargins().isNull()) return w->windowHandle()->frameMargins();
  if (shown(like)) return like->windowHandle()->frameMargins();
  if (shown(w)) return QMargins();
  return QMargins(kClassicFrameWidth / 2, kClassicFrameHeight - kClassicFrameWidth / 2, kClassicFrameWidth / 2,
                  kClassicFrameWidth / 2);
}

QSize frameExtent(const QWidget* w) {
  const QMargins m = frameMargins(w);
  return QSize(m.left() + m.right(), m.top() + m.bottom());
}

void setOuterSize(QWidget* w, int width, int height) {
  const QSize frame = frameExtent(w);
  w->resize(std::max(1, width - frame.width()), std::max(1, height - frame.height()));
}

QRect outerGeometry(const QWidget* w) {
  if (shown(w)) return w->frameGeometry();
  return QRect(w->pos(), w->size() + frameExtent(w));
}

void moveOuter(QWidget* w, QPoint topLeft, const QWidget* like) {
  if (!shown(w)) {
    w->move(topLeft);
    return;
  }
  // The client area is placed, not the frame: Qt would add the frame it
  // knew before the window was last hidden, which the window manager has
  // taken away, to the one assumed here, and place the window that much
  // too far right and down.
  const QMargins frame = frameMargins(w, like);
  w->setGeometry(QRect(topLeft + QPoint(frame.left(), frame.top()), w->size()));
}

QRect keptInside(const QRect& wanted, const QRect& area) {
  const int width = std::min(wanted.width(), area.width());
  const int height = std::min(wanted.height(), area.height());
  const int x = std::max(area.left(), std::min(wanted.x(), area.x() + area.width() - width));
  const int y = std::max(area.top(), std::min(wanted.y(), area.y() + area.height() - height));
  return QRect(x, y, width, height);
}

void centreOn(QWidget* w, const QWidget* over) {
  QRect area;
  if (over) {
    area = outerGeometry(over);
  } else {
    const QScreen* screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    area = screen->availableGeometry();
  }
  const QSize size = outerGeometry(w).size();
  w->move(area.center() - QPoint(size.width() / 2, size.height() / 2));
}

}  // namespace lumifold
