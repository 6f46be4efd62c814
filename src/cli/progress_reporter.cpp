#include "cli/progress_reporter.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace lumifold {

namespace {

double steadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string formatDuration(double seconds) {
  const long long s = std::llround(seconds);
  char text[32];
  if (s < 60) {
    std::snprintf(text, sizeof text, "%lld s", s);
  } else {
    std::snprintf(text, sizeof text, "%lld min %02lld s", s / 60, s % 60);
  }
  return text;
}

}  // namespace

ProgressReporter::ProgressReporter(std::ostream& out, Mode mode, Clock clock)
    : out_(out), mode_(mode), clock_(clock ? std::move(clock) : Clock(steadySeconds)) {}

std::string ProgressReporter::statusText(int done, int total, double elapsed, const std::string& unit) {
  char counts[64];
  std::snprintf(counts, sizeof counts, "%*d/%d ", static_cast<int>(std::to_string(total).size()), done, total);
  std::string line = counts + unit;
  if (done > 0 && elapsed > 0.0) {
    const double rate = done / elapsed;
    char rateText[48];
    std::snprintf(rateText, sizeof rateText, "  %.1f ", rate);
    line += rateText + unit + "/s";
    if (done < total) line += "  " + formatDuration((total - done) / rate) + " left";
  }
  return line;
}

std::string ProgressReporter::barLine(int done, int total, double elapsed, const std::string& unit) {
  constexpr int kBarWidth = 30;
  const int filled =
      total > 0 ? static_cast<int>(static_cast<long long>(std::min(done, total)) * kBarWidth / total) : 0;
  std::string line(1, '[');
  line.append(filled, '#');
  line.append(kBarWidth - filled, '.');
  line += "] ";
  line += statusText(done, total, elapsed, unit);
  return line;
}

void ProgressReporter::start(int imageCount) {
  total_ = imageCount;
  done_ = 0;
  startTime_ = clock_();
  lastLine_ = 0.0;
  if (mode_ == Mode::Bar) {
    out_ << '\r' << barLine(0, total_, 0.0) << std::flush;
    lineOpen_ = true;
  }
}

void ProgressReporter::step() {
  ++done_;
  const double elapsed = clock_() - startTime_;
  if (mode_ == Mode::Bar) {
    // Trailing spaces wipe what a longer previous line left behind.
    out_ << '\r' << barLine(done_, total_, elapsed) << "    " << std::flush;
    lineOpen_ = true;
  } else if (mode_ == Mode::Lines && (done_ == total_ || elapsed - lastLine_ >= 1.0)) {
    // A log gets a line a second at most, and always the last one.
    out_ << "progress: " << statusText(done_, total_, elapsed) << '\n' << std::flush;
    lastLine_ = elapsed;
  }
}

void ProgressReporter::finish() {
  if (lineOpen_) {
    out_ << '\n' << std::flush;
    lineOpen_ = false;
  }
}

}  // namespace lumifold
