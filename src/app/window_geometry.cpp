#include "app/window_geometry.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace lumifold {

QSize frameExtent(const QWidget* w) {
  const QWindow* handle = w->windowHandle();
  if (handle && handle->isVisible()) {
    const QMargins m = handle->frameMargins();
    return QSize(m.left() + m.right(), m.top() + m.bottom());
  }
  return QSize(kClassicFrameWidth, kClassicFrameHeight);
}

void setOuterSize(QWidget* w, int width, int height) {
  const QSize frame = frameExtent(w);
  w->resize(std::max(1, width - frame.width()), std::max(1, height - frame.height()));
}

QRect outerGeometry(const QWidget* w) {
  const QWindow* handle = w->windowHandle();
  if (handle && handle->isVisible()) return w->frameGeometry();
  return QRect(w->pos(), w->size() + frameExtent(w));
}

void moveOuter(QWidget* w, QPoint topLeft, const QWidget* like) {
  const QWindow* handle = w->windowHandle();
  const QWindow* likeHandle = like ? like->windowHandle() : nullptr;
  if (handle && handle->isVisible() && handle->frameMargins().isNull() && likeHandle && likeHandle->isVisible()) {
    // Qt places the client area where the frame should go while it knows
    // no frame; the frame then grows around it. Leave room for it.
    const QMargins assumed = likeHandle->frameMargins();
    w->move(topLeft + QPoint(assumed.left(), assumed.top()));
    return;
  }
  w->move(topLeft);
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
