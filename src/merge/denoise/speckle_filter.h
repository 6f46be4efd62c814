// Speckle filters: what a merge may do with its registered frames beyond
// averaging them, to leave less speckle than the average holds. One table,
// kSpeckleFilters, lists them for every front end (--denoise, the Python
// module's merge, the Settings page); a filter works on the frames as the
// merge registers them, one at a time, and keeps a fixed number of images
// whatever the number of frames.
//
// Grey levels are taken to be log-like, as the scanners write them: the
// multiplicative speckle of the intensity then becomes additive noise of
// about one deviation everywhere (docs/denoise.md shows it measured), so the
// filters work on the grey values themselves, in the frames' own units (0 to
// 255, or 0 to 65535 for a 16-bit series), with every scale taken from the
// measured noise. A filter's strength has one meaning for every series: the
// width of its weights in units of that noise.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "ipl/images.h"

namespace lumifold {

class WorkerPool;

// One merge's filter. start takes the reference frame, add each further
// registered frame (covered marks, row by row, the pixels the frame
// reached; the others take no part), finish the result: an image of the
// reference's size, each pixel within the range of the frames' pixels.
// Each works on the pool's threads; the result depends on nothing but the
// frames, their order and the strength, not on the threads. Frames must
// have the reference's size (std::invalid_argument otherwise).
class FrameFilter {
public:
  virtual ~FrameFilter() = default;
  virtual void start(const velIPL::DImage& reference, WorkerPool& pool) = 0;
  virtual void add(const velIPL::DImage& frame, const std::vector<std::uint8_t>& covered, WorkerPool& pool) = 0;
  virtual velIPL::DImage finish(WorkerPool& pool) = 0;
  // The noise deviation of one frame the filter measured, in the frames'
  // units; 0 before start.
  virtual double frameNoise() const = 0;
};

struct SpeckleFilter {
  const char* key;   // --denoise's filter, the report's "filter"
  const char* name;  // the caption
  double defaultStrength;
  std::unique_ptr<FrameFilter> (*make)(double strength);
};

// Non-local means over the registered frames: each frame is weighed,
// pixel by pixel, by how well its neighbourhood agrees with the
// reference's (a frame the registration left out of place counts less
// there), and the weighed mean is filtered by non-local means whose width
// is strength times its measured noise.
std::unique_ptr<FrameFilter> makeFrameNonLocalMeans(double strength);

inline constexpr std::array<SpeckleFilter, 1> kSpeckleFilters = {{
    {"nl-means", "Non-local means over the registered frames", 1.0, &makeFrameNonLocalMeans},
}};

// The filter whose key is key, or nullptr.
const SpeckleFilter* findSpeckleFilter(std::string_view key);

// The strengths a filter accepts: 0 (no filtering) up to kMaxStrength.
inline constexpr double kMaxStrength = 10.0;

}  // namespace lumifold
