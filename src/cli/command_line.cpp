#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <exception>
#include <new>
#include <ostream>
#include <string>

#include "cli/batch_command.h"
#include "pipeline/path_error.h"
#include "cli/command_support.h"
#include "cli/merge_command.h"
#include "cli/probe_command.h"
#include "cli/scales_command.h"
#include "cli/simulate_command.h"
#include "cli/volume_command.h"
#include "shell/own_outputs.h"

namespace lumifold {

namespace {

void reportUsage(CliEnvironment& env, const char* message) {
  env.err() << kProgram << ": " << message << "\nRun 'lumifold-cli --help' for usage.\n";
}

}  // namespace

int runCommandLine(int argc, const char* const* argv, CliEnvironment& env) {
  CLI::App app{
      "Averages a series of OCT B-scans of one retinal section into one low-noise image.\n"
      "Every frame is registered to a reference frame, the first unless --reference chooses\n"
      "another (one axial shift per column); the registered frames are averaged, and the\n"
      "average is coloured and saved as a BMP, PNG or TIFF file.\n"
      "Reads BMP, PNG, TIFF (multi-page too) and DICOM (multi-frame too), 8 or 16 bits.",
      kProgram};
  app.set_version_flag("--version", std::string(kProgram) + " " + lumifoldVersion());
  app.require_subcommand(1);
  app.footer("Run 'lumifold-cli COMMAND --help' for the options of a command.\n"
             "Exit status: 0 success, 1 failed run, 2 usage error.");

  // In the order --help lists them.
  const MergeCommand merge(app);
  const BatchCommand batch(app);
  const VolumeCommand volume(app);
  const SimulateCommand simulate(app);
  const ProbeCommand probe(app);
  const ScalesCommand scales(app);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e, env.out(), env.err());
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e, env.out(), env.err());
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e, env.out(), env.err());
  } catch (const CLI::ParseError& e) {
    reportUsage(env, e.what());
    return kExitUsage;
  }

  try {
    if (merge.chosen()) return merge.run(env);
    if (batch.chosen()) return batch.run(env);
    if (volume.chosen()) return volume.run(env);
    if (simulate.chosen()) return simulate.run(env);
    if (probe.chosen()) return probe.run(env);
    if (scales.chosen()) return scales.run(env);
  } catch (const UsageError& e) {
    reportUsage(env, e.what());
    return kExitUsage;
  } catch (const PathError& e) {
    env.err() << kProgram << ": " << e.path() << ": " << e.what() << '\n';
    return kExitFailed;
  } catch (const std::bad_alloc&) {
    env.err() << kProgram << ": out of memory\n";
    return kExitFailed;
  } catch (const std::exception& e) {
    env.err() << kProgram << ": " << e.what() << '\n';
    return kExitFailed;
  }
  return kExitUsage;
}

}  // namespace lumifold
