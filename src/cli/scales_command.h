// "lumifold-cli scales": a picture of the six colour scales side by side.
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace lumifold {

class CliEnvironment;

// Writes the chart to output (given the extension .bmp) and says so unless
// quiet; returns the exit status. Throws PathError when it cannot be written.
int runScales(const std::string& output, bool quiet, CliEnvironment& env);

class ScalesCommand {
public:
  explicit ScalesCommand(CLI::App& app);
  ScalesCommand(const ScalesCommand&) = delete;
  ScalesCommand& operator=(const ScalesCommand&) = delete;

  bool chosen() const;
  int run(CliEnvironment& env) const { return runScales(output_, quiet_, env); }

private:
  CLI::App* command_;
  std::string output_ = "scales.bmp";
  bool quiet_ = false;
};

}  // namespace lumifold
