// "lumifold-cli merge": a series of B-scans merged into one coloured
// picture, optionally also the grey average, the shifts as CSV, and how
// well the shifts and the noise match a simulated series' truth.
//
// The merge itself is the pipeline's (pipeline/series_merge.h: checkMerge,
// mergeSeries, writeMergeResults); this unit parses its options, shows its
// progress and says what was done (printMergeSummary). Failures are the
// pipeline's PathError and UsageError, which the command line reports.
#pragma once

#include <ostream>
#include <vector>

#include "cli/progress_reporter.h"
#include "pipeline/series_merge.h"

namespace CLI {
class App;
}

namespace lumifold {

class CliEnvironment;

// mergeSeries, showing progress on env.err() as the options and the
// terminal ask and reporting it through env.mergeProgress().
MergeOutcome mergeSeries(const MergePlan& plan, const MergeOptions& options, CliEnvironment& env);

// How progress is shown: nothing when quiet, a bar on a terminal, lines
// when --progress asks and stderr is no terminal.
ProgressReporter::Mode progressMode(const MergeOptions& options, const CliEnvironment& env);

// "lumifold-cli: note: left out PATH: REASON" for each file on out.
void printLeftOut(const std::vector<LeftOutFile>& leftOut, std::ostream& out);

// The summary on env.out(): what was merged and written, and the shift
// recovery and PSNR when a truth and a noise-free section were given (the
// first frame is read again for the PSNR). startTime is when the command
// started.
void printMergeSummary(const MergePlan& plan, const MergeOutcome& outcome, const MergeOptions& options,
                       CliEnvironment& env, double startTime);

// All the steps; returns the exit status.
int runMerge(const MergeOptions& options, CliEnvironment& env);

// Adds the options that say how a series is merged (-a/--algorithm,
// -s/--scale, --frames, --sort, --exclude, --reject, --reference,
// --lateral, --denoise), bound to options, to command. The merge and the batch
// commands both call it.
void addMergeOptions(CLI::App& command, MergeOptions& options);

// The subcommand on the command line: its options, its help, and its run.
class MergeCommand {
public:
  explicit MergeCommand(CLI::App& app);
  MergeCommand(const MergeCommand&) = delete;
  MergeCommand& operator=(const MergeCommand&) = delete;

  bool chosen() const;
  int run(CliEnvironment& env) const { return runMerge(options_, env); }

private:
  CLI::App* command_;
  MergeOptions options_;
};

}  // namespace lumifold
