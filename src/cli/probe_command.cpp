#include "cli/probe_command.h"

#include <CLI/CLI.hpp>
#include <ostream>

#include "cli/cli_environment.h"
#include "cli/command_support.h"
#include "cli/input_list.h"
#include "ipl/image_decoder.h"

namespace lumifold {

int runProbe(const std::vector<std::string>& files, CliEnvironment& env) {
  int status = kExitOk;
  const auto refuse = [&](const std::string& file, const std::string& reason) {
    env.err() << kProgram << ": " << file << ": " << reason << '\n';
    status = kExitFailed;
  };
  for (const std::string& file : files) {
    const std::string unreadable = unreadableReason(file);
    if (!unreadable.empty()) {
      refuse(file, unreadable);
      continue;
    }
    velIPL::ImageFileInfo info;
    std::string message = "Cannot open file";
    if (!velIPL::probeImageFile(file, info, message)) {
      refuse(file, message);
      continue;
    }
    env.out() << file << ": " << info.width << " x " << info.height << (info.topDown ? " (top-down)" : "") << '\n';
  }
  return status;
}

ProbeCommand::ProbeCommand(CLI::App& app) {
  command_ = app.add_subcommand("probe", "Report each file's width and height, or why it is refused");
  command_->add_option("FILE", files_, "BMP files")->required();
}

bool ProbeCommand::chosen() const { return static_cast<bool>(*command_); }

}  // namespace lumifold
