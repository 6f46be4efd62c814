// VolumeSimulator: a simulated volume of P positions scanned R times each,
// with the truth, for tests and the demonstration of `volume`.
//
// The repeats are frames of one BScanSimulator series (each with its own
// speckle and its own axial motion); position p takes frames p * R .. p *
// R + R - 1 of it and bends them by the same per-column offset, which
// changes smoothly from position to position (the retina's curvature and a
// slow bulk drift between positions). Within a position the frames move
// exactly as the series' frames move, so the truth relative to repeat 0 is
// the series' truth. Everything is a pure function of the parameters.
#pragma once

#include <vector>

#include "sim/bscan_simulator.h"

namespace lumifold {

class VolumeSimulator {
public:
  // parameters.frames is ignored: the series has positions * repeats
  // frames. Throws std::invalid_argument for a size out of range.
  VolumeSimulator(const SimulationParameters& parameters, int positions, int repeats);

  int positions() const { return positions_; }
  int repeats() const { return repeats_; }

  // Repeat r of position p.
  velIPL::GImage frame(int p, int r) const;
  // Its true shifts relative to repeat 0 of the same position, in the
  // merge engine's convention.
  mathORN::RowVector trueShifts(int p, int r) const;
  // The axial offset of position p's bend at every column, in rows: what
  // moves one position against another.
  std::vector<int> bend(int p) const;

private:
  BScanSimulator series_;
  int positions_;
  int repeats_;
};

}  // namespace lumifold
