#include "sim/volume_simulator.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "sim/random_stream.h"

namespace lumifold {

namespace {

constexpr double kPi = 3.14159265358979323846;

SimulationParameters seriesOf(SimulationParameters p, int positions, int repeats) {
  if (positions < 1 || repeats < 1 || positions > 10000 / repeats) {
    throw std::invalid_argument("positions x repeats must be 1 .. 10000");
  }
  p.frames = positions * repeats;
  return p;
}

}  // namespace

VolumeSimulator::VolumeSimulator(const SimulationParameters& parameters, int positions, int repeats)
    : series_(seriesOf(parameters, positions, repeats)), positions_(positions), repeats_(repeats) {}

std::vector<int> VolumeSimulator::bend(int p) const {
  const SimulationParameters& q = series_.parameters();
  // A drift of up to a twentieth of the height across the volume and a
  // curvature that grows and shrinks again: smooth in p, as neighbouring
  // B-scans of one eye are.
  RandomStream rng(q.seed, {6});
  const double phase = rng.uniform(0.0, 2.0 * kPi);
  const double t = positions_ > 1 ? static_cast<double>(p) / (positions_ - 1) : 0.0;
  const double drift = q.height / 20.0 * std::sin(2.0 * kPi * t + phase);
  const double curve = q.height / 25.0 * std::sin(kPi * t);
  std::vector<int> offsets(static_cast<std::size_t>(q.width));
  for (int x = 0; x < q.width; ++x) {
    const double u = q.width > 1 ? 2.0 * x / (q.width - 1) - 1.0 : 0.0;
    offsets[static_cast<std::size_t>(x)] = static_cast<int>(std::lround(drift - curve * u * u));
  }
  return offsets;
}

velIPL::GImage VolumeSimulator::frame(int p, int r) const {
  if (p < 0 || p >= positions_ || r < 0 || r >= repeats_) throw std::out_of_range("no such frame of the volume");
  const velIPL::GImage raw = series_.frame(p * repeats_ + r);
  const std::vector<int> offsets = bend(p);
  velIPL::GImage out(raw.width(), raw.height(), 0);
  const int h = raw.height();
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < raw.width(); ++x) {
      out.row(y)[x] = raw.row(std::clamp(y - offsets[static_cast<std::size_t>(x)], 0, h - 1))[x];
    }
  }
  return out;
}

mathORN::RowVector VolumeSimulator::trueShifts(int p, int r) const {
  // The bend is the same for every repeat of a position, so it cancels.
  const mathORN::RowVector first = series_.trueShifts(p * repeats_);
  const mathORN::RowVector own = series_.trueShifts(p * repeats_ + r);
  mathORN::RowVector out(own.size());
  for (int x = 0; x < static_cast<int>(own.size()); ++x) out[x] = own[x] - first[x];
  return out;
}

}  // namespace lumifold
