// "lumifold-cli volume": a volume of P positions scanned R times each,
// every position merged as `merge` merges its frames, written as one
// calibrated multi-page TIFF (pipeline/volume_merge.h).
#pragma once

#include "pipeline/volume_merge.h"

namespace CLI {
class App;
}

namespace lumifold {

class CliEnvironment;

// Checks, merges and writes the volume, showing progress by positions as
// merge shows it by frames, then says what was written unless quiet;
// returns the exit status.
int runVolume(const VolumeOptions& options, CliEnvironment& env);

class VolumeCommand {
public:
  explicit VolumeCommand(CLI::App& app);
  VolumeCommand(const VolumeCommand&) = delete;
  VolumeCommand& operator=(const VolumeCommand&) = delete;

  bool chosen() const;
  int run(CliEnvironment& env) const { return runVolume(options_, env); }

private:
  CLI::App* command_;
  VolumeOptions options_;
  std::string layout_ = "grouped";
};

}  // namespace lumifold
