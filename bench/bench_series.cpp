#include "bench_series.h"

#include <cstdio>
#include <filesystem>

#include "sim/bscan_simulator.h"
#include "sim/series_writer.h"

namespace lumifold::bench {

std::vector<std::string> benchSeries(const std::string& cacheFolder, int width, int height, int frames) {
  namespace fs = std::filesystem;
  const std::string name = std::to_string(width) + "x" + std::to_string(height) + "-" + std::to_string(frames) +
                           "f-seed" + std::to_string(kSeriesSeed);
  const fs::path folder = fs::path(cacheFolder) / name;
  if (!fs::exists(folder / "complete")) {
    std::fprintf(stderr, "lumifold_bench: simulating %s into %s\n", name.c_str(), folder.string().c_str());
    SimulationParameters p;
    p.frames = frames;
    p.width = width;
    p.height = height;
    p.seed = kSeriesSeed;
    p.motion = Motion::Mixed;
    // The classic section, so that timings and cached series compare with
    // those recorded before the calibrated one.
    p.section = Section::Classic;
    // A half-finished folder from an interrupted run is simply rewritten.
    writeSeries(BScanSimulator(p), folder.string());
    std::FILE* marker = std::fopen((folder / "complete").string().c_str(), "w");
    if (marker) std::fclose(marker);
  }
  std::vector<std::string> paths;
  for (int i = 0; i < frames; ++i) paths.push_back((folder / frameFileName(i, frames)).string());
  return paths;
}

}  // namespace lumifold::bench
