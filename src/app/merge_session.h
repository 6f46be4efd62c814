// MergeSession: the desktop program's side of a merge that holds the
// user-interface thread - the progress bar it moves, the busy cursor, and
// what becomes of the user's input meanwhile.
//
// From construction to finish() the application shows the busy cursor, and
// every piece of input delivered to any window (mouse buttons and wheel,
// keys, touch, drops, the window system's close requests) is dropped, so
// nothing done during the merge is carried out after it. Escape asks to
// cancel. start() and each step() move the bar and deliver what has arrived
// (the windows repaint); they throw MergeCancelled once Escape has been
// pressed, which the engine passes on after releasing what the merge held.
// finish() drops what arrived after the last step and gives the user back
// the cursor and the input; call it before anything else is shown. One
// session at a time, on the user-interface thread; the bar is the caller's
// and must outlive the session.
#pragma once

#include <QObject>

#include <exception>

#include "merge/merge_progress.h"

class QProgressBar;

namespace lumifold {

// The user cancelled the merge; not a failure to report.
class MergeCancelled : public std::exception {
public:
  const char* what() const noexcept override { return "Merge cancelled"; }
};

class MergeSession : public QObject, public MergeProgress {
public:
  explicit MergeSession(QProgressBar* bar);
  ~MergeSession() override;
  MergeSession(const MergeSession&) = delete;
  MergeSession& operator=(const MergeSession&) = delete;

  // Sets the bar's maximum to imageCount and its position to 0.
  void start(int imageCount) override;
  // Advances the bar by one.
  void step() override;
  // Ends the session; later calls do nothing.
  void finish();

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  // Lets the windows repaint and drops the input that has arrived; throws
  // MergeCancelled when Escape was among it.
  void deliver();

  QProgressBar* bar_;
  bool active_ = true;
  bool cancelRequested_ = false;
};

}  // namespace lumifold
