// "lumifold-cli probe": each file's width and height from its header, or
// why it is refused, without reading the pixels.
#pragma once

#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace lumifold {

class CliEnvironment;

// Prints "FILE: W x H" on env.out() for every file that passes, reports
// every other on env.err(), and goes on to the next; returns 1 when any
// file failed, else 0.
int runProbe(const std::vector<std::string>& files, CliEnvironment& env);

class ProbeCommand {
public:
  explicit ProbeCommand(CLI::App& app);
  ProbeCommand(const ProbeCommand&) = delete;
  ProbeCommand& operator=(const ProbeCommand&) = delete;

  bool chosen() const;
  int run(CliEnvironment& env) const { return runProbe(files_, env); }

private:
  CLI::App* command_;
  std::vector<std::string> files_;
};

}  // namespace lumifold
