// The speckle filter judged on the public real data set (real_dataset.h)
// by that set's own protocol: our merge of the first 1, 2, 3 and 5 frames
// of each eye with and without the filter, beside the published
// denoisers' outputs in the copy's Results folder recomputed by the same
// code, as means over the eyes chosen, and the targets met or missed.
#pragma once

#include <string>
#include <vector>

namespace lumifold {

struct DenoiseEvaluation {
  std::string dir;                 // the copy of the set
  std::vector<int> eyes;           // the development eyes, 1 to 9
  double strength = -1.0;          // below 0: the filter's default
  bool perEye = false;             // also one line per eye and row
};

// Prints the tables and one line per target; returns whether every
// target was met. Throws velIPL::IPLException on a missing or damaged file.
bool evaluateSpeckleFilter(const DenoiseEvaluation& evaluation);

}  // namespace lumifold
