// MergeProgress: how a merge reports how far it has come.
//
// The engine calls start(n) once when a merge begins (n = number of images;
// the receiver sets its maximum to n and its position to 0), then step()
// once after the reference is prepared and once after each further image, so
// a finished merge of n images has stepped n times. The command line draws a
// progress bar from it, the desktop program moves its progress bar.
#pragma once

namespace lumifold {

class MergeProgress {
public:
  virtual ~MergeProgress() = default;
  // Sets the maximum to imageCount and the position to 0.
  virtual void start(int imageCount) = 0;
  // Advances the position by one.
  virtual void step() = 0;
};

}  // namespace lumifold
