// "lumifold-cli simulate": a simulated B-scan series written into a folder
// with its truth (the noise-free section and every frame's true shifts), so
// that merging it shows how well the shifts are found.
#pragma once

#include <string>

#include "sim/bscan_simulator.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace lumifold {

class CliEnvironment;

struct SimulateOptions {
  std::string directory;
  SimulationParameters parameters;
  std::string motion = "mixed";
  std::string section = "calibrated";  // a name of sectionName()
  std::string format = "bmp";  // a name of seriesFormatNames()
  std::string bad;             // --bad: kinds of bad frames, comma-separated
  bool maxShiftGiven = false;
  bool quiet = false;
  // A volume instead of a series: positions x repeats frames in the layout
  // (grouped, interleaved: one TIFF stack; per-file: one stack per pass).
  int positions = 0;
  int repeats = 1;
  std::string layout = "grouped";
};

// Writes the series and prints what was written unless quiet; returns the
// exit status. Throws UsageError for parameters the simulator refuses and
// PathError naming the file that could not be written.
int runSimulate(SimulateOptions options, CliEnvironment& env);

class SimulateCommand {
public:
  explicit SimulateCommand(CLI::App& app);
  SimulateCommand(const SimulateCommand&) = delete;
  SimulateCommand& operator=(const SimulateCommand&) = delete;

  bool chosen() const;
  int run(CliEnvironment& env) const;

private:
  CLI::App* command_;
  CLI::Option* maxShift_;
  SimulateOptions options_;
};

}  // namespace lumifold
