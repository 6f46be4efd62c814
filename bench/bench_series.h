// Simulated B-scan series on disk for the benchmarks: made once with a fixed
// seed and mixed motion, then kept in a cache folder between runs, so every
// run merges the very same files.
#pragma once

#include <string>
#include <vector>

namespace lumifold::bench {

inline constexpr unsigned kSeriesSeed = 2024;

// The paths of the frames of a width x height series of `frames` frames
// under cacheFolder, written first when missing. Throws what the simulator
// or the writer throws.
std::vector<std::string> benchSeries(const std::string& cacheFolder, int width, int height, int frames);

}  // namespace lumifold::bench
