// A private X display with a window manager for the tests that need real
// window frames and stacking: Xvfb on a free display number, openbox on it.
//
// Made before the QApplication: on success it points DISPLAY at the new
// display and selects Qt's xcb platform for this process. Where either
// program is missing or does not come up, nothing is changed and reason()
// says why, so the tests can skip with that message. Both programs are
// ended when the session goes.
#pragma once

#include <QString>

#include <sys/types.h>

class QWidget;

namespace testutil {

class XSession {
public:
  XSession();
  ~XSession();
  XSession(const XSession&) = delete;
  XSession& operator=(const XSession&) = delete;

  bool ready() const { return reason_.isEmpty(); }
  // Why there is no session; empty when there is one.
  const QString& reason() const { return reason_; }

  // The screen's size in pixels.
  static constexpr int kWidth = 1280;
  static constexpr int kHeight = 1024;

private:
  void start();

  pid_t server_ = -1;
  pid_t windowManager_ = -1;
  QString reason_;
};

// Waits, after the application is made, until the session's window manager
// frames windows; false when none does within 20 seconds.
bool waitForWindowManager();

// Waits until the window manager has framed the top-level widget w and its
// outer rectangle has stopped moving; false after timeoutMs without that.
bool waitUntilFramed(const QWidget* w, int timeoutMs = 5000);

}  // namespace testutil
