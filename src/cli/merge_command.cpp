#include "cli/merge_command.h"

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <new>
#include <ostream>

#include "cli/cli_environment.h"
#include "cli/command_support.h"
#include "cli/image_metrics.h"
#include "cli/output_name.h"
#include "cli/progress_reporter.h"
#include "cli/safe_file.h"
#include "color/color_scales.h"
#include "merge/registration_methods.h"
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
void checkOutputs(MergePlan& plan, const MergeOptions& o) {
  // A folder is never a picture's name, whatever the extension rule makes of it.
  for (const std::string* given : {&o.output, &o.grey}) {
    if (given->empty() && given == &o.grey) continue;
    if (given->empty() || given->back() == '/') throw CliError(*given, "Missing file name");
    if (std::filesystem::is_directory(*given)) throw CliError(*given, "Is a folder");
  }
  plan.output = pictureName(o.output);
  if (!o.grey.empty()) plan.grey = pictureName(o.grey);
  plan.shifts = o.shifts;

  struct Output {
    const std::string& path;
    const char* what;
  };
  std::vector<Output> outputs{{plan.output, "--output"}};
  if (!plan.grey.empty()) outputs.push_back({plan.grey, "--grey"});
  if (!plan.shifts.empty()) outputs.push_back({plan.shifts, "--shifts"});
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

// Every registered frame must have a truth of the images' width.
ShiftTruth checkedTruth(const std::string& path, int frameCount, int width) {
  ShiftTruth truth = readShiftTruth(path);
  for (int i = 1; i < frameCount; ++i) {
    const auto it = truth.find(i);
    if (it == truth.end()) throw CliError(path, "No shifts for frame " + std::to_string(i) + " of the series");
    if (static_cast<int>(it->second.size()) != width) {
      throw CliError(path, "Frame " + std::to_string(i) + " has " + std::to_string(it->second.size()) +
                               " columns, the images " + std::to_string(width));
    }
  }
  return truth;
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

ProgressReporter::Mode progressMode(const MergeOptions& o, const CliEnvironment& env) {
  using Mode = ProgressReporter::Mode;
  if (o.quiet) return Mode::Silent;
  if (env.errIsTerminal()) return Mode::Bar;
  return o.progress ? Mode::Lines : Mode::Silent;
}

std::string percentOf(long long n, long long of) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f %%", 100.0 * static_cast<double>(n) / static_cast<double>(of));
  return text;
}

}  // namespace

MergePlan checkMerge(const MergeOptions& o) {
  MergePlan plan;
  plan.paths = expandInputs(o.inputs, o.sort);
  checkOutputs(plan, o);
  plan.size = checkSeries(plan.paths);
  // The reader takes files without pixels, but there is nothing to merge
  // or to write.
  if (plan.size.width == 0 || plan.size.height == 0) throw CliError(plan.paths.front(), "Empty image");
  if (!o.truth.empty()) plan.truth = checkedTruth(o.truth, static_cast<int>(plan.paths.size()), plan.size.width);
  if (!o.noiseFree.empty()) plan.noiseFree = checkedNoiseFree(o.noiseFree, plan.size);
  return plan;
}

CliError mergeFailureError(const MergePlan& plan, int currentImage, const std::string& message) {
  const MergeFailure failure = explainMergeFailure(plan.paths, currentImage, message, plan.size.width, plan.size.height);
  const std::string& path = plan.paths[static_cast<std::size_t>(failure.file)];
  return CliError(path, reasonFor(failure.reason, path));
}

MergeOutcome mergeSeries(const MergePlan& plan, const MergeOptions& o, CliEnvironment& env) {
  ProgressReporter progress(env.err(), progressMode(o, env));
  MergeOutcome outcome;
  Merger merger(plan.paths, &env.mergeProgress(progress));
  merger.setShiftObserver([&](int index, const mathORN::RowVector& s) { outcome.shifts.record(index, s); });

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
    throw CliError(plan.paths.front(), kChangedSizeReason);
  }
  return outcome;
}

void writeMergeResults(const MergePlan& plan, const MergeOutcome& outcome, const MergeOptions& o) {
  writePicture(ApplyColorScale(scaleFor(o.scale).build(), outcome.merged), plan.output);
  // Grey in all three channels.
  if (!plan.grey.empty()) writePicture(ApplyColorScale(MakeWhiteOnBlackScale(), outcome.merged), plan.grey);
  if (!plan.shifts.empty()) writeFileSafely(plan.shifts, outcome.shifts.toCsv(plan.paths));
}

void printMergeSummary(const MergePlan& plan, const MergeOutcome& outcome, const MergeOptions& o, CliEnvironment& env,
                       double startTime) {
  std::ostream& out = env.out();
  const int frameCount = static_cast<int>(plan.paths.size());
  const velIPL::GImage& merged = outcome.merged;
  const int registered = outcome.shifts.frames();
  out << "Merged " << frameCount << (frameCount == 1 ? " frame" : " frames") << " of " << merged.width() << " x "
      << merged.height() << " by " << methodFor(o.algorithm).name << " in " << formatSeconds(outcome.seconds)
      << " (" << formatSeconds(seconds() - startTime) << " in all).\n";
  out << "Wrote " << plan.output << " (" << scaleFor(o.scale).name << ")\n";
  if (!plan.grey.empty()) out << "Wrote " << plan.grey << " (grey average)\n";
  if (!plan.shifts.empty()) {
    out << "Wrote " << plan.shifts << " (shifts of " << registered << " registered "
        << (registered == 1 ? "frame" : "frames") << ")\n";
  }
  if (plan.truth) {
    const ShiftRecovery r = outcome.shifts.compare(*plan.truth, plan.size.width, kTruthMargin);
    if (r.compared == 0) {
      out << "Shift recovery: nothing to compare (no registered frames or no interior columns)\n";
    } else {
      out << "Shift recovery: " << r.matched << " of " << r.compared << " interior column shifts ("
          << percentOf(r.matched, r.compared) << ") match the truth, " << percentOf(r.withinOne, r.compared)
          << " within one row; columns " << r.firstColumn << " to " << r.lastColumn << " of " << registered
          << " registered frames\n";
    }
  }
  if (plan.noiseFree) {
    // Read again, so it may have changed since the merge.
    const velIPL::GImage first = readGrey(plan.paths.front());
    if (first.width() != plan.size.width || first.height() != plan.size.height) {
      throw CliError(plan.paths.front(), kChangedSizeReason);
    }
    out << "PSNR against " << o.noiseFree << ": frame 0 " << formatDb(peakSignalToNoise(first, *plan.noiseFree))
        << ", average " << formatDb(peakSignalToNoise(merged, *plan.noiseFree)) << '\n';
  }
}

int runMerge(const MergeOptions& o, CliEnvironment& env) {
  const double startTime = seconds();
  const MergePlan plan = checkMerge(o);
  const MergeOutcome outcome = mergeSeries(plan, o, env);
  writeMergeResults(plan, outcome, o);
  if (!o.quiet) printMergeSummary(plan, outcome, o, env, startTime);
  return kExitOk;
}

MergeCommand::MergeCommand(CLI::App& app) {
  command_ = app.add_subcommand("merge", "Merge a series of B-scans into one coloured image");
  command_->description(
      "Merge a series of B-scans into one coloured image.\n"
      "INPUT is a BMP file or a folder, whose *.bmp files are taken in name order\n"
      "(case-insensitive). Inputs keep the order given; the first file is the reference.");
  command_->add_option("INPUT", options_.inputs, "BMP files or folders of BMP files")->required();
  command_->add_option("-o,--output", options_.output, "Coloured result; the extension becomes .bmp")
      ->capture_default_str();
  std::vector<std::string> methodKeys;
  for (const RegistrationMethod& method : kRegistrationMethods) methodKeys.emplace_back(method.key);
  command_->add_option("-a,--algorithm", options_.algorithm, "Registration")
      ->check(CLI::IsMember(methodKeys))
      ->capture_default_str();
  std::vector<std::string> scaleKeys;
  for (const ColorScale& scale : kColorScales) scaleKeys.emplace_back(scale.key);
  command_->add_option("-s,--scale", options_.scale, "Colour scale")->check(CLI::IsMember(scaleKeys))->capture_default_str();
  command_->add_option("--grey", options_.grey, "Also write the uncoloured average (extension .bmp)");
  command_->add_option("--shifts", options_.shifts, "Write every registered frame's column shifts as CSV");
  command_->add_option("--truth", options_.truth, "truth.csv from 'simulate': report how many shifts are right");
  command_->add_option("--noise-free", options_.noiseFree,
                       "noise_free.bmp from 'simulate': report the PSNR of frame 0 and of the average");
  command_->add_flag("--sort", options_.sort, "Sort all inputs by name (case-insensitive) instead of keeping their order");
  command_->add_flag("--progress", options_.progress, "Print progress lines when stderr is not a terminal");
  command_->add_flag("-q,--quiet", options_.quiet, "No progress and no summary");
}

bool MergeCommand::chosen() const { return static_cast<bool>(*command_); }

}  // namespace lumifold
