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
#include "pipeline/image_metrics.h"
#include "pipeline/frame_selection.h"
#include "pipeline/output_name.h"
#include "pipeline/picture_output.h"
#include "pipeline/quality_report.h"
#include "cli/progress_reporter.h"
#include "pipeline/safe_file.h"
#include "color/color_scales.h"
#include "merge/registration_methods.h"
#include "ipl/ipl_exception.h"
#include "merge/denoise/speckle_filter.h"
#include "merge/eight_bit_view.h"
#include "merge/frame_reader.h"
#include "shell/merge_failure.h"

namespace lumifold {

namespace {

// Columns this close to an edge are left out of the shift comparison: the
// median filters see a cut window there.
constexpr int kTruthMargin = 12;

std::string formatDb(double db) {
  if (std::isinf(db)) return "infinite";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f dB", db);
  return text;
}


std::string percentOf(long long n, long long of) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f %%", 100.0 * static_cast<double>(n) / static_cast<double>(of));
  return text;
}

// The summary's line for a filtered merge: the filter, its strength, the
// noise it measured and the figures before and after it.
void printFilterSummary(const MergeOutcome& outcome, std::ostream& out) {
  const Merger::FilterFigures& f = outcome.filterFigures;
  char text[300];
  std::snprintf(text, sizeof text,
                "Speckle filter: %s at strength %g (noise of one frame %.3g); SNR %.1f -> %.1f dB, CNR %.2f -> %.2f, "
                "ENL %.1f -> %.1f\n",
                outcome.filterKey.c_str(), outcome.filterStrength, f.frameNoise, f.before.snrDb, f.after.snrDb,
                f.before.cnr, f.after.cnr, f.before.enl, f.after.enl);
  out << text;
}

// The summary's lines when frame quality is measured: the reference when it
// was chosen, every dropped frame with its reason, the sideways slips
// found, and the figures.
void printQualitySummary(const MergePlan& plan, const MergeOutcome& outcome, const MergeOptions& o,
                         std::ostream& out) {
  if (!o.reference.empty()) {
    out << "Reference: frame " << frameNumberOf(plan, outcome.reference) << " " << frameNameOf(plan, outcome.reference)
        << (o.reference == "auto" ? " (the most like the others)" : " (as given)") << '\n';
  }
  int dropped = 0;
  for (const FrameQuality& q : outcome.qualities) {
    if (!q.dropped) continue;
    ++dropped;
    out << "Dropped frame " << frameNumberOf(plan, q.frame) << " " << frameNameOf(plan, q.frame) << ": " << q.reason
        << '\n';
  }
  if (o.reject == "auto") {
    const int frames = static_cast<int>(plan.frames.size());
    out << "Kept " << frames - dropped << " of " << frames << (frames == 1 ? " frame" : " frames") << " ("
        << dropped << " dropped)\n";
  }
  if (o.lateral) {
    int slipped = 0;
    int largest = 0;
    for (const FrameQuality& q : outcome.qualities) {
      if (q.lateralShift != 0) ++slipped;
      largest = std::max(largest, std::abs(q.lateralShift));
    }
    out << "Sideways slips: " << slipped << " of " << outcome.qualities.size() << " registered frames moved, largest "
        << largest << (largest == 1 ? " column" : " columns") << '\n';
  }
  const ImageQuality& iq = outcome.imageQuality;
  char text[200];
  std::snprintf(text, sizeof text, "SNR %.1f dB (reference %.1f dB, gain %.1f dB), CNR %.2f (reference %.2f), ENL %.1f (reference %.1f)\n",
                iq.average.snrDb, iq.reference.snrDb, iq.snrGainDb, iq.average.cnr, iq.reference.cnr, iq.average.enl,
                iq.reference.enl);
  out << text;
}

}  // namespace

ProgressReporter::Mode progressMode(const MergeOptions& o, const CliEnvironment& env) {
  using Mode = ProgressReporter::Mode;
  if (o.quiet) return Mode::Silent;
  if (env.errIsTerminal()) return Mode::Bar;
  return o.progress ? Mode::Lines : Mode::Silent;
}

void printLeftOut(const std::vector<LeftOutFile>& leftOut, std::ostream& out) {
  for (const LeftOutFile& f : leftOut) out << kProgram << ": note: left out " << f.path << ": " << f.reason << '\n';
}

MergeOutcome mergeSeries(const MergePlan& plan, const MergeOptions& o, CliEnvironment& env) {
  ProgressReporter progress(env.err(), progressMode(o, env));
  try {
    MergeOutcome outcome = mergeSeries(plan, o, &env.mergeProgress(progress));
    progress.finish();
    return outcome;
  } catch (...) {
    progress.finish();
    throw;
  }
}

void printMergeSummary(const MergePlan& plan, const MergeOutcome& outcome, const MergeOptions& o, CliEnvironment& env,
                       double startTime) {
  std::ostream& out = env.out();
  const int frameCount = static_cast<int>(plan.frames.size());
  const velIPL::GImage& merged = outcome.merged;
  const int registered = outcome.shifts.frames();
  out << "Merged " << frameCount << (frameCount == 1 ? " frame" : " frames") << " of " << merged.width() << " x "
      << merged.height() << " by " << registrationFor(o.algorithm).name << " in " << formatSeconds(outcome.seconds)
      << " (" << formatSeconds(seconds() - startTime) << " in all).\n";
  if (outcome.filtered) printFilterSummary(outcome, out);
  out << "Wrote " << plan.output << " (" << colorScaleFor(o.scale).name << ")\n";
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
      throw PathError(plan.frameNames[static_cast<std::size_t>(referenceNumber)], kChangedSizeReason);
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
  char help[256];
  std::snprintf(help, sizeof help,
                "Filter the speckle of the registered frames (%s); STRENGTH from 0 to %g, default %g: "
                "its width in units of the measured noise (docs/denoise.md). Give INPUT first, or "
                "--denoise=STRENGTH",
                kSpeckleFilters[0].name, kMaxStrength, kSpeckleFilters[0].defaultStrength);
  command.add_option("--denoise", options.denoise, help)
      ->expected(0, 1)
      ->default_str("default")
      ->type_name("[STRENGTH]")
      ->check(CLI::Validator(
          [](std::string& text) {
            try {
              denoiseStrength(text);
              return std::string();
            } catch (const std::invalid_argument& e) {
              return std::string(e.what());
            }
          },
          "", "strength"));
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
