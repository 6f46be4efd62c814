#include "app/merge_session.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QKeyEvent>
#include <QProgressBar>

#include <exception>

namespace lumifold {

namespace {

// Events by which a user asks for something to be done.
bool isUserInput(const QEvent& event) {
  switch (event.type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::NativeGesture:
    case QEvent::Gesture:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
      return true;
    case QEvent::Close:
      // A close box clicked; a window the program closes itself is not input.
      return event.spontaneous();
    default:
      return false;
  }
}

}  // namespace

MergeSession::MergeSession(QProgressBar* bar) : bar_(bar) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  QCoreApplication::instance()->installEventFilter(this);
}

MergeSession::~MergeSession() {
  if (!active_) return;
  QCoreApplication::instance()->removeEventFilter(this);
  QApplication::restoreOverrideCursor();
}

void MergeSession::start(int imageCount) {
  bar_->setMaximum(imageCount);
  bar_->setValue(0);
  deliver();
}

void MergeSession::step() {
  bar_->setValue(bar_->value() + 1);
  deliver();
}

void MergeSession::deliver() {
  // Painted at once, whatever the events below bring.
  bar_->repaint();
  QCoreApplication::processEvents();
  if (cancelRequested_) throw MergeCancelled();
}

void MergeSession::finish() {
  if (!active_) return;
  // Not while an exception unwinds: a handler that threw then would end
  // the program.
  if (std::uncaught_exceptions() == 0) QCoreApplication::processEvents();
  active_ = false;
  QCoreApplication::instance()->removeEventFilter(this);
  QApplication::restoreOverrideCursor();
}

bool MergeSession::eventFilter(QObject* watched, QEvent* event) {
  if (!isUserInput(*event)) return QObject::eventFilter(watched, event);
  if (event->type() == QEvent::KeyPress && static_cast<const QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    cancelRequested_ = true;
  }
  return true;
}

}  // namespace lumifold
