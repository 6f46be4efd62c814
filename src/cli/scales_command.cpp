#include "cli/scales_command.h"

#include <CLI/CLI.hpp>
#include <ostream>

#include "cli/cli_environment.h"
#include "pipeline/path_error.h"
#include "cli/command_support.h"
#include "pipeline/output_name.h"
#include "cli/scale_chart.h"

namespace lumifold {

int runScales(const std::string& output, bool quiet, CliEnvironment& env) {
  const std::string path = pictureName(output);
  const std::string problem = outputProblem(path);
  if (!problem.empty()) throw PathError(path, problem);
  writePicture(makeScaleChart(), path);
  if (!quiet) env.out() << "Wrote " << path << " (the six colour scales)\n";
  return kExitOk;
}

ScalesCommand::ScalesCommand(CLI::App& app) {
  command_ = app.add_subcommand("scales", "Write a picture of the six colour scales");
  command_->add_option("-o,--output", output_, "Picture to write; the extension becomes .bmp")->capture_default_str();
  command_->add_flag("-q,--quiet", quiet_, "No summary");
}

bool ScalesCommand::chosen() const { return static_cast<bool>(*command_); }

}  // namespace lumifold
