// ProgressReporter: shows how far a merge has come, as the merge reports it
// through MergeProgress.
//
// Bar mode redraws one line in place (for a terminal): a bar, frames done of
// total, the rate and the time left. Lines mode writes a plain line at most
// once a second and after the last frame (for logs). Silent mode shows
// nothing. The stream and the clock must outlive the reporter; finish() ends
// a bar's line. Nothing here throws.
#pragma once

#include <functional>
#include <ostream>
#include <string>

#include "merge/merge_progress.h"

namespace lumifold {

class ProgressReporter : public MergeProgress {
public:
  enum class Mode { Silent, Lines, Bar };
  // Seconds since any fixed point; steady_clock by default.
  using Clock = std::function<double()>;

  ProgressReporter(std::ostream& out, Mode mode, Clock clock = {});

  void start(int imageCount) override;
  void step() override;
  // Ends the bar's line once the merge is over or has failed.
  void finish();

  int done() const { return done_; }
  int total() const { return total_; }

  // "12/32 frames  8.1 frames/s  2 s left": the rate once a frame is done,
  // the time left until the last. unit names what is counted.
  static std::string statusText(int done, int total, double elapsed, const std::string& unit = "frames");
  // The bar line for done of total frames after elapsed seconds, without the
  // leading carriage return: "[#####.....] 12/32 frames  8.1 frames/s  2 s left".
  static std::string barLine(int done, int total, double elapsed, const std::string& unit = "frames");

private:
  std::ostream& out_;
  Mode mode_;
  Clock clock_;
  double startTime_ = 0.0;
  int done_ = 0;
  int total_ = 0;
  bool lineOpen_ = false;
  double lastLine_ = 0.0;  // when Lines mode last wrote, from the start
};

}  // namespace lumifold
