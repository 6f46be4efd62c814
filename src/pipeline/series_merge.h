// One merge of one series, whichever front end asks for it: the options
// (MergeOptions, with the defaults of the command line and the desktop
// program), the check of every input and output before any work
// (checkMerge), the merge with frame quality (mergeSeries), and the files
// written (writeMergeResults). The command line, the Python module and the
// desktop program translate their user's words into MergeOptions and the
// outcome into their own display; batch and volumes run it per series.
//
// Each step throws PathError naming the file to blame (UsageError for a
// request that contradicts itself, such as two outputs naming one file);
// std::bad_alloc passes. Nothing here prints.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "color/color_scales.h"
#include "ipl/images.h"
#include "merge/merge_frame.h"
#include "merge/merge_progress.h"
#include "merge/merger.h"
#include "merge/registration_methods.h"
#include "pipeline/input_list.h"
#include "pipeline/path_error.h"
#include "pipeline/shift_table.h"

namespace lumifold {

// Everything a merge is asked for, named as the command line names it. The
// options that decide how a series is merged (registration, colour scale,
// frames, order, exclusions and the frame-quality options reject,
// reference, lateral) are shared by every front end; the files to read and
// write are each caller's own.
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
  // The speckle filter (docs/denoise.md): "" off, "default" or a strength
  // (--denoise [STRENGTH]).
  std::string denoise;
  // For a caller that writes no file but shows what a merge found (the
  // Python module): frame quality measured though nothing else asks, and
  // the unrounded mean kept in the outcome.
  bool quality = false;
  bool keepAverage = false;
  // True when the merge measures frame quality: an option or a report asks.
  bool measuresQuality() const {
    return reject != "none" || !reference.empty() || lateral || !report.empty() || quality;
  }
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
  // mean when --average (or keepAverage) asks for it.
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
  // When the options ask for the speckle filter: its key, its strength and
  // the figures of the plain average and of the filtered picture.
  bool filtered = false;
  std::string filterKey;
  double filterStrength = 0.0;
  Merger::FilterFigures filterFigures;
};

// The strength --denoise (or a manifest's denoise column) asks for: the
// filter's default for "default", the number for one from 0 to
// kMaxStrength, below 0 for "" (no filter). Throws std::invalid_argument
// naming what it takes for anything else.
double denoiseStrength(const std::string& text);

// Expands the inputs, refuses outputs that are folders, collide with each
// other or with an input (UsageError), or cannot be written; checks every
// input's header, size and depth, lists its frames and keeps those --frames
// selects (UsageError for a list that does not fit), reads the truth and the
// noise-free section and checks them against the series.
MergePlan checkMerge(const MergeOptions& options);

// The plan for frames a front end has listed and checked itself, such as
// the desktop program's image list: any frames of any files, in its order,
// frame i named names[i], all of width x height. The reference file's
// header gives the depth and the pixel spacing (8 bits and none when it
// can no longer be read: the merge then says why). The options' reference
// is taken as checkMerge takes it; no output, truth or noise-free section is
// planned. Throws PathError(names[0], "Empty image") for a size without
// pixels, UsageError for a reference that names no frame.
MergePlan planFrames(std::vector<MergeFrame> frames, std::vector<std::string> names, int width, int height,
                     const MergeOptions& options);

// Merges the planned series by the chosen registration, reporting progress
// to progress (none when null). Throws mergeFailureError's PathError when
// the merge fails; std::bad_alloc and whatever progress throws (a user's
// cancel) pass unchanged.
MergeOutcome mergeSeries(const MergePlan& plan, const MergeOptions& options, MergeProgress* progress = nullptr);

// The error that names the frame a failed merge is to blame on and why,
// from the merger's message and the frame it had reached.
PathError mergeFailureError(const MergePlan& plan, int currentImage, const std::string& message);

// Writes the coloured picture, the grey average, the unrounded average and
// the shift table asked for, in that order, each replacing its file only
// once complete (picture_output.h).
void writeMergeResults(const MergePlan& plan, const MergeOutcome& outcome, const MergeOptions& options);

// An output file and the option that names it.
struct NamedOutput {
  std::string path;
  const char* flag;
};

// Refuses outputs named by nothing (the first is required, the rest are
// left out when empty: "Missing output file name"), by a folder ("Is a
// folder"), and a report over a file that is no report of ours.
void checkOutputNames(const std::vector<NamedOutput>& outputs);

// Refuses outputs (empty ones skipped) that name one file twice or an input
// (UsageError), or that cannot be written (PathError, outputProblem).
void checkOutputFiles(const std::vector<NamedOutput>& outputs, const std::vector<std::string>& inputs);

// The registration and the colour scale a key names; an unknown key (a
// caller that skipped the check) gets the table's first entry.
const RegistrationMethod& registrationFor(const std::string& key);
const ColorScale& colorScaleFor(const std::string& key);

// The reference frame as the merge registers it (frame index of the plan's
// frames): its 8-bit grey, or the 8-bit view of a 16-bit one. Throws
// PathError naming it when it can no longer be read.
velIPL::GImage readReferenceGrey(const MergePlan& plan, int reference);

// The number (among all frames of the inputs) and the name of the plan's
// frame index.
inline int frameNumberOf(const MergePlan& plan, int index) { return plan.frameNumbers[static_cast<std::size_t>(index)]; }
inline const std::string& frameNameOf(const MergePlan& plan, int index) {
  return plan.frameNames[static_cast<std::size_t>(frameNumberOf(plan, index))];
}

// The frames that went into the average: all, less those rejection dropped.
int averagedFrames(const MergePlan& plan, const MergeOutcome& outcome);

}  // namespace lumifold
