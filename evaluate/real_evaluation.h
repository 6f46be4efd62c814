// ./run evaluate --real DIR: the frame-quality targets judged on the public
// real data set (real_dataset.h). Series are built from each eye's five
// real frames by the evaluation itself: sideways slips put into one or two
// frames, and bad frames made from real data (a blink, another eye's
// B-scan, a dropout band) mixed in; it prints, per target, the figures and
// met or missed, the protocol's figures of the merges, and the statistics
// of real frames beside the simulator's.
#pragma once

#include <string>

namespace lumifold {

struct RealEvaluationOptions {
  std::string dir;
  std::string eyes = "1-9";
  // One line per series and frame besides the tables.
  bool perSeries = false;
};

// Prints the tables; returns 0 when every target is met, 1 when one is
// missed. Throws velIPL::IPLException when the data cannot be read.
int evaluateReal(const RealEvaluationOptions& options);

}  // namespace lumifold
