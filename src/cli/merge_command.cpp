#include "cli/merge_command.h"

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <new>
#include <ostream>
#include <stdexcept>
#include <utility>

#include "cli/cli_environment.h"
#include "cli/command_support.h"
#include "cli/image_metrics.h"
#include "cli/frame_selection.h"
#include "cli/output_name.h"
#include "cli/picture_output.h"
#include "cli/quality_report.h"
#include "cli/progress_reporter.h"
#include "cli/safe_file.h"
#include "color/color_scales.h"
#include "merge/registration_methods.h"
#include "ipl/ipl_exception.h"
#include "merge/eight_bit_view.h"
#include "merge/frame_reader.h"
#include "shell/merge_failure.h"

namespace lumifold {

namespace {

// Columns this close to an edge are left out of the shift comparison: the
// median filters see a cut window there.
constexpr int kTruthMargin = 12;

// --algorithm and --scale are checked against the tables' keys; an
// unchecked key (a test's options) gets the first entry.
const RegistrationMethod& methodFor(const std::string& key) {
  const RegistrationMethod* method = findRegistrationMethod(key);
  return method ? *method : kRegistrationMethods.front();
}

const ColorScale& scaleFor(const std::string& key) {
  const int index = colorScaleIndex(key);
  return kColorScales[static_cast<std::size_t>(index < 0 ? 0 : index)];
}

std::string formatDb(double db) {
  if (std::isinf(db)) return "infinite";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f dB", db);
  return text;
}

// True when a and b name the same file, or would once written.
bool sameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (std::filesystem::equivalent(a, b, ec)) return true;
  const auto normal = [](const std::string& p) {
    std::error_code e;
    const std::filesystem::path absolute = std::filesystem::absolute(p, e);
    return (e ? std::filesystem::path(p) : absolute).lexically_normal();
  };
  return normal(a) == normal(b);
}

// Every output, named as it will be written, checked before any work.
// Whether --report may replace what is at path: nothing, an empty file, or
// a report this program wrote, so that a mistyped name never costs a file.
bool replaceableReport(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return true;
  const std::string mark = "{\n  \"version\": ";
  std::string start(mark.size(), '\0');
  in.read(start.data(), static_cast<std::streamsize>(start.size()));
  start.resize(static_cast<std::size_t>(in.gcount()));
  return start.empty() || start == mark;
}

void checkOutputs(MergePlan& plan, const MergeOptions& o) {
  // A folder is never a file's name, whatever the extension rule makes of it.
  const std::pair<const std::string*, const char*> named[] = {
      {&o.output, "--output"}, {&o.grey, "--grey"}, {&o.average, "--average"}, {&o.shifts, "--shifts"},
      {&o.report, "--report"}};
  for (const auto& [given, flag] : named) {
    if (given->empty() && given != &o.output) continue;
    if (given->empty()) throw CliError(flag, "Missing output file name");
    if (given->back() == '/') throw CliError(*given, "Missing output file name");
    if (std::filesystem::is_directory(*given)) throw CliError(*given, "Is a folder");
  }
  if (!o.report.empty() && !replaceableReport(o.report)) {
    throw CliError(o.report, "Not a report this program wrote; left as it is (name another --report file)");
  }
  plan.output = outputPictureName(o.output);
  if (!o.grey.empty()) plan.grey = outputPictureName(o.grey);
  if (!o.average.empty()) plan.average = averageName(o.average);
  plan.shifts = o.shifts;
  plan.report = o.report;

  struct Output {
    const std::string& path;
    const char* what;
  };
  std::vector<Output> outputs{{plan.output, "--output"}};
  if (!plan.grey.empty()) outputs.push_back({plan.grey, "--grey"});
  if (!plan.average.empty()) outputs.push_back({plan.average, "--average"});
  if (!plan.shifts.empty()) outputs.push_back({plan.shifts, "--shifts"});
  if (!plan.report.empty()) outputs.push_back({plan.report, "--report"});
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (sameFile(outputs[i].path, outputs[j].path)) {
        throw UsageError(std::string(outputs[j].what) + " and " + outputs[i].what + " both name " + outputs[i].path);
      }
    }
    for (const std::string& input : plan.paths) {
      if (sameFile(outputs[i].path, input)) {
        throw UsageError(std::string(outputs[i].what) + " " + outputs[i].path + " would overwrite an input image");
      }
    }
    const std::string problem = outputProblem(outputs[i].path);
    if (!problem.empty()) throw CliError(outputs[i].path, problem);
  }
}

// Every registered frame must have a truth of the images' width. With a
// reference other than the first frame (or auto) that is every frame: the
// first is registered, and the reference's truth is what the others' is
// taken relative to.
ShiftTruth checkedTruth(const std::string& path, const std::vector<int>& frameNumbers, int reference, int width) {
  ShiftTruth truth = readShiftTruth(path);
  for (std::size_t j = 0; j < frameNumbers.size(); ++j) {
    if (j == 0 && reference == 0) continue;
    const int i = frameNumbers[j];
    const auto it = truth.find(i);
    if (it == truth.end()) throw CliError(path, "No shifts for frame " + std::to_string(i) + " of the series");
    if (static_cast<int>(it->second.size()) != width) {
      throw CliError(path, "Frame " + std::to_string(i) + " has " + std::to_string(it->second.size()) +
                               " columns, the images " + std::to_string(width));
    }
  }
  return truth;
}

// Every frame of every file, and the ones --frames keeps.
void listFrames(MergePlan& plan, const std::string& selection) {
  for (std::size_t f = 0; f < plan.paths.size(); ++f) {
    const int count = plan.size.frames[f];
    for (int k = 0; k < count; ++k) {
      plan.frameNames.push_back(count == 1 ? plan.paths[f]
                                           : plan.paths[f] + " [frame " + std::to_string(k + 1) + " of " +
                                                 std::to_string(count) + "]");
    }
  }
  std::vector<int> numbers;
  if (selection.empty()) {
    for (int i = 0; i < static_cast<int>(plan.frameNames.size()); ++i) numbers.push_back(i);
  } else {
    try {
      numbers = selectFrames(selection, static_cast<int>(plan.frameNames.size()));
    } catch (const std::invalid_argument& e) {
      throw UsageError(e.what());
    }
  }
  // Numbers ascend, so one walk over the files finds each frame's.
  std::size_t file = 0;
  int first = 0;  // number of the first frame of file
  for (const int n : numbers) {
    while (n >= first + plan.size.frames[file]) first += plan.size.frames[file++];
    plan.frames.emplace_back(plan.paths[file], n - first);
    plan.frameNumbers.push_back(n);
    plan.framePaths.push_back(plan.paths[file]);
  }
}

velIPL::GImage checkedNoiseFree(const std::string& path, const SeriesSize& size) {
  const std::string unreadable = unreadableReason(path);
  if (!unreadable.empty()) throw CliError(path, unreadable);
  velIPL::GImage image = readGrey(path);
  if (image.width() != size.width || image.height() != size.height) {
    throw CliError(path, "Image has not same dimensions as reference image");
  }
  return image;
}

// The list index of the frame --reference names by its number.
int referenceIndex(const MergePlan& plan, const std::string& reference) {
  if (reference.empty()) return 0;
  if (reference == "auto") return Merger::kAutoReference;
  std::size_t used = 0;
  int number = -1;
  try {
    number = std::stoi(reference, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != reference.size() || number < 0) {
    throw UsageError("--reference takes auto or a frame number, not '" + reference + "'");
  }
  for (std::size_t i = 0; i < plan.frameNumbers.size(); ++i) {
    if (plan.frameNumbers[i] == number) return static_cast<int>(i);
  }
  throw UsageError("--reference " + reference + " names a frame that is not merged");
}

ProgressReporter::Mode progressMode(const MergeOptions& o, const CliEnvironment& env) {
  using Mode = ProgressReporter::Mode;
  if (o.quiet) return Mode::Silent;
  if (env.errIsTerminal()) return Mode::Bar;
  return o.progress ? Mode::Lines : Mode::Silent;
}

// The reference frame as the merge registers it: its 8-bit grey, or the
// 8-bit view of a 16-bit one.
velIPL::GImage readReferenceGrey(const MergePlan& plan, int reference) {
  const std::size_t at = static_cast<std::size_t>(reference);
  const std::string& name = plan.frameNames[static_cast<std::size_t>(plan.frameNumbers[at])];
  try {
    FrameReader reader(plan.frames);
    FramePixels frame;
    reader.read(reference, frame);
    if (frame.bitsPerSample == 16) return EightBitView(frame.full).view(frame.full);
    return frame.grey;
  } catch (const velIPL::IPLException& e) {
    throw CliError(name, reasonFor(e.what(), plan.framePaths[at]));
  }
}

// The frames that went into the average: all, less those rejection dropped.
int averagedFrames(const MergePlan& plan, const MergeOutcome& outcome) {
  int dropped = 0;
  for (const FrameQuality& q : outcome.qualities) dropped += q.dropped ? 1 : 0;
  return static_cast<int>(plan.frames.size()) - dropped;
}

std::string percentOf(long long n, long long of) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f %%", 100.0 * static_cast<double>(n) / static_cast<double>(of));
  return text;
}

}  // namespace

MergePlan checkMerge(const MergeOptions& o) {
  MergePlan plan;
  plan.paths = expandInputs(o.inputs, o.sort, o.exclude, &plan.leftOut);
  checkOutputs(plan, o);
  plan.size = checkSeries(plan.paths);
  // The reader takes files without pixels, but there is nothing to merge
  // or to write.
  if (plan.size.width == 0 || plan.size.height == 0) throw CliError(plan.paths.front(), "Empty image");
  listFrames(plan, o.frames);
  plan.reference = referenceIndex(plan, o.reference);
  if (!o.truth.empty()) plan.truth = checkedTruth(o.truth, plan.frameNumbers, plan.reference, plan.size.width);
  if (!o.noiseFree.empty()) plan.noiseFree = checkedNoiseFree(o.noiseFree, plan.size);
  return plan;
}

CliError mergeFailureError(const MergePlan& plan, int currentImage, const std::string& message) {
  const MergeFailure failure =
      explainMergeFailure(plan.framePaths, currentImage, message, plan.size.width, plan.size.height);
  const std::size_t frame = static_cast<std::size_t>(failure.file);
  return CliError(plan.frameNames[static_cast<std::size_t>(plan.frameNumbers[frame])],
                  reasonFor(failure.reason, plan.framePaths[frame]));
}

MergeOutcome mergeSeries(const MergePlan& plan, const MergeOptions& o, CliEnvironment& env) {
  ProgressReporter progress(env.err(), progressMode(o, env));
  MergeOutcome outcome;
  Merger merger(plan.frames, &env.mergeProgress(progress));
  merger.setThreads(o.threads);
  // Shifts go by frame number, the numbering of the truth and of the table.
  merger.setShiftObserver([&](int index, const mathORN::RowVector& s) {
    outcome.shifts.record(plan.frameNumbers[static_cast<std::size_t>(index)], s);
  });

  if (o.measuresQuality()) {
    Merger::QualityOptions quality;
    quality.reject = o.reject == "auto";
    quality.reference = plan.reference;
    quality.lateral = o.lateral;
    merger.setQualityOptions(quality);
    // An observer makes the merge measure; the measures are read at the end.
    merger.setQualityObserver([](const FrameQuality&) {});
  }

  const double start = seconds();
  try {
    outcome.merged = methodFor(o.algorithm).run(merger);
  } catch (const std::bad_alloc&) {
    progress.finish();
    throw;
  } catch (const std::exception& e) {
    progress.finish();
    throw mergeFailureError(plan, merger.currentImage(), e.what());
  }
  progress.finish();
  outcome.seconds = seconds() - start;
  // A reference replaced after the check merges at its new size, which
  // the truth and the noise-free section were checked against.
  if (outcome.merged.width() != plan.size.width || outcome.merged.height() != plan.size.height) {
    throw CliError(plan.framePaths.front(), kChangedSizeReason);
  }
  outcome.bitsPerSample = merger.bitsPerSample();
  if (merger.measured()) {
    outcome.measured = true;
    outcome.qualities = merger.frameQualities();
    outcome.reference = merger.referenceIndex();
    outcome.imageQuality = merger.imageQuality();
  }
  if (outcome.bitsPerSample == 16) outcome.grey16 = merger.average16();
  if (!plan.average.empty()) outcome.average = merger.average();
  return outcome;
}

void writeMergeResults(const MergePlan& plan, const MergeOutcome& outcome, const MergeOptions& o) {
  const PixelSpacing spacing{plan.size.pixelSpacingX, plan.size.pixelSpacingY};
  writeColourPicture(ApplyColorScale(scaleFor(o.scale).build(), outcome.merged), plan.output, spacing);
  if (!plan.grey.empty()) {
    writeGreyPicture(outcome.merged, outcome.bitsPerSample == 16 ? &outcome.grey16 : nullptr, plan.grey, spacing);
  }
  if (!plan.average.empty()) writeAveragePicture(outcome.average, plan.average, spacing);
  if (!plan.shifts.empty()) writeFileSafely(plan.shifts, outcome.shifts.toCsv(plan.frameNames));
  if (!plan.report.empty()) writeFileSafely(plan.report, qualityReportJson(plan, outcome, o));
}

void printMergeSummary(const MergePlan& plan, const MergeOutcome& outcome, const MergeOptions& o, CliEnvironment& env,
                       double startTime) {
  std::ostream& out = env.out();
  const int frameCount = static_cast<int>(plan.frames.size());
  const velIPL::GImage& merged = outcome.merged;
  const int registered = outcome.shifts.frames();
  out << "Merged " << frameCount << (frameCount == 1 ? " frame" : " frames") << " of " << merged.width() << " x "
      << merged.height() << " by " << methodFor(o.algorithm).name << " in " << formatSeconds(outcome.seconds)
      << " (" << formatSeconds(seconds() - startTime) << " in all).\n";
  out << "Wrote " << plan.output << " (" << scaleFor(o.scale).name << ")\n";
  if (!plan.grey.empty()) {
    const bool sixteen = outcome.bitsPerSample == 16;
    const bool bmp = pictureFormat(plan.grey) == PictureFormat::bmp;
    out << "Wrote " << plan.grey << " (grey average"
        << (sixteen ? (bmp ? ", 8-bit: BMP holds 8 bits; use .png or .tif for 16" : ", 16-bit") : "") << ")\n";
  }
  if (!plan.average.empty()) out << "Wrote " << plan.average << " (unrounded average, 32-bit float)\n";
  if (!plan.shifts.empty()) {
    out << "Wrote " << plan.shifts << " (shifts of " << registered << " registered "
        << (registered == 1 ? "frame" : "frames") << ")\n";
  }
  if (!plan.report.empty()) out << "Wrote " << plan.report << " (frame quality report)\n";
  if (outcome.measured) printQualitySummary(plan, outcome, o, out);
  // The merge's reference: the first frame unless --reference chose another.
  const int reference = outcome.measured ? outcome.reference : 0;
  const int referenceNumber = plan.frameNumbers[static_cast<std::size_t>(reference)];
  if (plan.truth) {
    const ShiftRecovery r = outcome.shifts.compare(*plan.truth, plan.size.width, kTruthMargin, referenceNumber);
    if (r.compared == 0) {
      out << "Shift recovery: nothing to compare (no registered frames or no interior columns)\n";
    } else {
      out << "Shift recovery: " << r.matched << " of " << r.compared << " interior column shifts ("
          << percentOf(r.matched, r.compared) << ") match the truth, " << percentOf(r.withinOne, r.compared)
          << " within one row; columns " << r.firstColumn << " to " << r.lastColumn << " of " << registered
          << " registered frames, relative to reference frame " << referenceNumber << '\n';
    }
  }
  if (plan.noiseFree) {
    // Read again, so it may have changed since the merge.
    const velIPL::GImage single = readReferenceGrey(plan, reference);
    if (single.width() != plan.size.width || single.height() != plan.size.height) {
      throw CliError(plan.frameNames[static_cast<std::size_t>(referenceNumber)], kChangedSizeReason);
    }
    out << "PSNR against " << o.noiseFree << ": reference frame " << referenceNumber << " "
        << formatDb(peakSignalToNoise(single, *plan.noiseFree)) << ", average "
        << formatDb(peakSignalToNoise(merged, *plan.noiseFree)) << '\n';
  }
}

int runMerge(const MergeOptions& o, CliEnvironment& env) {
  const double startTime = seconds();
  const MergePlan plan = checkMerge(o);
  printLeftOut(plan.leftOut, env.err());
  const MergeOutcome outcome = mergeSeries(plan, o, env);
  writeMergeResults(plan, outcome, o);
  if (!o.quiet) printMergeSummary(plan, outcome, o, env, startTime);
  if (averagedFrames(plan, outcome) == 1) {
    env.err() << kProgram << ": warning: one frame merged, nothing was averaged\n";
  }
  return kExitOk;
}

void addMergeOptions(CLI::App& command, MergeOptions& options) {
  std::vector<std::string> methodKeys;
  for (const RegistrationMethod& method : kRegistrationMethods) methodKeys.emplace_back(method.key);
  command.add_option("-a,--algorithm", options.algorithm, "Registration")
      ->check(CLI::IsMember(methodKeys))
      ->capture_default_str();
  std::vector<std::string> scaleKeys;
  for (const ColorScale& scale : kColorScales) scaleKeys.emplace_back(scale.key);
  command.add_option("-s,--scale", options.scale, "Colour scale")->check(CLI::IsMember(scaleKeys))->capture_default_str();
  command.add_option("--frames", options.frames,
                     "Merge only these frames, numbered from 0 across all inputs: e.g. 1-40 or 0,2,5-9")
      ->check([](const std::string& list) { return list.empty() ? std::string("names no frames") : std::string(); },
              "FRAMES");
  command.add_flag("--sort", options.sort, "Sort all inputs by name (case-insensitive) instead of keeping their order");
  command.add_option("--exclude", options.exclude,
                     "Leave out a folder's files whose name or path matches GLOB (repeatable); this program's own "
                     "PNG and TIFF pictures are left out anyway, files named on the command line always taken")
      ->type_name("GLOB")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  command.add_option("--reject", options.reject,
                     "auto: leave out the frames the series does not agree with (never the reference); none: "
                     "average every frame")
      ->check(CLI::IsMember({"none", "auto"}))
      ->capture_default_str();
  command.add_option("--reference", options.reference,
                     "auto: register to the frame most like the others; N: to frame N (numbered as for --frames); "
                     "default: the first frame");
  command.add_flag("--lateral", options.lateral,
                   "Find and undo each frame's whole-pixel sideways slip before the axial registration");
}

MergeCommand::MergeCommand(CLI::App& app) {
  command_ = app.add_subcommand("merge", "Merge a series of B-scans into one coloured image");
  command_->description(
      "Merge a series of B-scans into one coloured image.\n"
      "INPUT is an image file (BMP, PNG, TIFF or DICOM, recognised by its content) or a\n"
      "folder, whose files with these formats' extensions (.bmp, .png, .tif, .tiff, .dcm,\n"
      "any case) are taken in name order (case-insensitive). A multi-page TIFF or a\n"
      "multi-frame DICOM gives its frames in file order. Inputs keep the order given;\n"
      "the first frame is the reference. 16-bit frames are registered on an 8-bit view\n"
      "fixed by the reference and averaged at full precision.\n"
      "Pictures are written by extension: .bmp (24-bit), .png, .tif or .tiff; any other\n"
      "extension becomes .bmp.");
  command_->add_option("INPUT", options_.inputs, "Image files or folders of image files")->required();
  command_->add_option("-o,--output", options_.output, "Coloured result (.bmp, .png, .tif; others become .bmp)")
      ->capture_default_str();
  addMergeOptions(*command_, options_);
  command_->add_option("--grey", options_.grey,
                       "Also write the uncoloured average: .bmp 24-bit, .png or .tif 8-bit grey, or 16-bit for a "
                       "16-bit series");
  command_->add_option("--average", options_.average,
                       "Also write the unrounded average as a 32-bit floating-point TIFF (extension .tif)");
  command_->add_option("--shifts", options_.shifts, "Write every registered frame's column shifts as CSV");
  command_->add_option("--report", options_.report,
                       "Write the frame quality report as JSON: every frame's measures, the dropped frames and why, "
                       "the reference, the sideways slips, SNR, CNR and ENL (docs/quality.md)");
  command_->add_option("--truth", options_.truth, "truth.csv from 'simulate': report how many shifts are right");
  command_->add_option("--noise-free", options_.noiseFree,
                       "noise_free.bmp from 'simulate': report the PSNR of the reference frame and of the average");
  command_->add_flag("--progress", options_.progress, "Print progress lines when stderr is not a terminal");
  command_->add_flag("-q,--quiet", options_.quiet, "No progress and no summary");
}

bool MergeCommand::chosen() const { return static_cast<bool>(*command_); }

}  // namespace lumifold
