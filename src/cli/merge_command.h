// "lumifold-cli merge": a series of B-scans merged into one coloured
// picture, optionally also the grey average, the shifts as CSV, and how
// well the shifts and the noise match a simulated series' truth.
//
// The run is five steps, each callable on its own: checkMerge looks at every
// input and output before any work; mergeSeries merges, turning a failure
// into the file to blame (mergeFailureError); writeMergeResults writes the
// pictures and the table; printMergeSummary says what was done. Each throws
// CliError naming the file (UsageError for outputs that collide), which the
// command line reports.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/cli_error.h"
#include "cli/input_list.h"
#include "cli/shift_table.h"
#include "ipl/images.h"
#include "merge/merge_frame.h"
#include "merge/merger.h"

namespace CLI {
class App;
}

namespace lumifold {

class CliEnvironment;

// Everything a merge is asked for. The options that decide how a series is
// merged (registration, colour scale, frames, order, and the frame-quality
// options --reject, --reference, --lateral) are added to a command
// line by addMergeOptions, so that every command merging series offers them
// alike; the files to read and write are each command's own.
struct MergeOptions {
  std::vector<std::string> inputs;
  std::string output = "merged.bmp";
  std::string algorithm = "correlation";
  std::string scale = "rainbow";
  std::string grey;
  std::string average;
  std::string frames;  // the --frames list; empty: every frame
  // --exclude: globs of files a folder input leaves out (expandInputs).
  std::vector<std::string> exclude;
  std::string shifts;
  std::string truth;
  std::string noiseFree;
  bool sort = false;
  // Threads for the merge (Merger::setThreads); 0: the engine's choice.
  int threads = 0;
  bool progress = false;
  bool quiet = false;
  // Frame quality (docs/quality.md): "none" or "auto"; "" (frame 0),
  // "auto" or a frame number; the sideways slips; the JSON report to write.
  std::string reject = "none";
  std::string reference;
  bool lateral = false;
  std::string report;
  // True when the merge measures frame quality: an option or a report asks.
  bool measuresQuality() const { return reject != "none" || !reference.empty() || lateral || !report.empty(); }
};

// What checkMerge found: the files to merge, the frames of them to merge,
// the files to write (named as they will be written, "" when not asked
// for), and what the summary compares with.
struct MergePlan {
  std::vector<std::string> paths;
  // Files of input folders left out, and why (said before merging).
  std::vector<LeftOutFile> leftOut;
  SeriesSize size;
  // Every frame of the inputs, numbered from 0 across the list: its name in
  // reports and tables (the path, followed by " [frame N of M]" for a file
  // of several frames).
  std::vector<std::string> frameNames;
  // The frames merged, in order, with each one's number among all frames
  // and its file.
  std::vector<MergeFrame> frames;
  std::vector<int> frameNumbers;
  std::vector<std::string> framePaths;
  std::string output;
  std::string grey;
  std::string average;
  std::string shifts;
  std::string report;
  // The reference's index in frames: 0, or Merger::kAutoReference.
  int reference = 0;
  std::optional<ShiftTruth> truth;
  std::optional<velIPL::GImage> noiseFree;
};

struct MergeOutcome {
  velIPL::GImage merged;
  int bitsPerSample = 8;
  // The 16-bit grey of a 16-bit series (empty otherwise), and the unrounded
  // mean when --average asks for it.
  velIPL::G16Image grey16;
  velIPL::DImage average;
  ShiftTable shifts;
  double seconds = 0.0;  // the merge alone
  // When the options ask for frame quality: every registered frame's
  // measures and verdict, the reference's index in the plan's frames, and
  // the image-quality figures.
  bool measured = false;
  std::vector<FrameQuality> qualities;
  int reference = 0;
  ImageQuality imageQuality;
};

// Expands the inputs, refuses outputs that are folders, collide with each
// other or with an input (UsageError), or cannot be written; checks every
// input's header, size and depth, lists its frames and keeps those --frames
// selects (UsageError for a list that does not fit), reads the truth and the
// noise-free section and checks them against the series.
MergePlan checkMerge(const MergeOptions& options);

// Merges the planned series by the chosen registration, showing progress on
// env.err() as the options and the terminal ask and reporting it through
// env.mergeProgress(). Throws mergeFailureError's CliError when the merge
// fails; std::bad_alloc passes.
MergeOutcome mergeSeries(const MergePlan& plan, const MergeOptions& options, CliEnvironment& env);

// The error that names the frame a failed merge is to blame on and why,
// from the merger's message and the frame it had reached.
CliError mergeFailureError(const MergePlan& plan, int currentImage, const std::string& message);

// Writes the coloured picture, the grey average, the unrounded average and
// the shift table asked for, in that order, each replacing its file only
// once complete (picture_output.h).
void writeMergeResults(const MergePlan& plan, const MergeOutcome& outcome, const MergeOptions& options);

// The summary on env.out(): what was merged and written, and the shift
// recovery and PSNR when a truth and a noise-free section were given (the
// first frame is read again for the PSNR). startTime is when the command
// started.
void printMergeSummary(const MergePlan& plan, const MergeOutcome& outcome, const MergeOptions& options,
                       CliEnvironment& env, double startTime);

// All five steps; returns the exit status.
int runMerge(const MergeOptions& options, CliEnvironment& env);

// Adds -a/--algorithm, -s/--scale, --frames and --sort, bound to options,
// to command. The merge and the batch commands both call it.
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
