// lumifold-cli: the headless command line. Parses the arguments, runs one
// subcommand, and turns every failure into "lumifold-cli: PATH: REASON" on
// stderr with exit status 1 (2 for a malformed command line).
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <limits>
#include <map>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/cli_error.h"
#include "cli/image_metrics.h"
#include "cli/input_list.h"
#include "cli/output_name.h"
#include "cli/progress_reporter.h"
#include "cli/safe_file.h"
#include "cli/scale_chart.h"
#include "cli/shift_table.h"
#include "color/color_scales.h"
#include "ipl/bmp_info.h"
#include "ipl/images.h"
#include "ipl/ipl_exception.h"
#include "math/math_exception.h"
#include "merge/merger.h"
#include "shell/merge_failure.h"
#include "sim/bscan_simulator.h"
#include "sim/series_writer.h"

#ifdef LUMIFOLD_CLI_FAULT_HOOK
// Test builds only (tests/cli): called once as a merge starts, after every
// input has been checked and before the first one is read, so a test can
// change the files in between without racing the merge.
void lumifoldFaultHook();
#endif

namespace {

constexpr const char* kProgram = "lumifold-cli";

// Columns this close to an edge are left out of the shift comparison: the
// median filters see a cut window there.
constexpr int kTruthMargin = 12;

// Exit statuses.
constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

// A command line that parses but asks for something impossible.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Command-line keys of the colour scales, in item order.
const std::vector<std::string> kScaleKeys = {"rainbow",        "red-enhanced",   "blue-enhanced",
                                             "white-on-black", "black-on-white", "cirrus-like"};

int scaleIndex(const std::string& key) {
  for (int i = 0; i < static_cast<int>(kScaleKeys.size()); ++i) {
    if (kScaleKeys[i] == key) return i;
  }
  return 0;
}

double seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string formatSeconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", s);
  return text;
}

std::string formatDb(double db) {
  if (std::isinf(db)) return "infinite";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f dB", db);
  return text;
}

void report(const std::string& path, const std::string& reason) {
  std::cerr << kProgram << ": " << path << ": " << reason << '\n';
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

// The library's message without a trailing copy of the path, which the
// report names already ("Cannot write image file out.bmp").
std::string reasonFor(const std::string& message, const std::string& path) {
  const std::string suffix = " " + path;
  if (message.size() > suffix.size() && message.compare(message.size() - suffix.size(), suffix.size(), suffix) == 0) {
    return message.substr(0, message.size() - suffix.size());
  }
  return message;
}

// The library's message for a failed write, followed by the system's
// reason when there is one: "Cannot write image file: No space left on
// device".
void writePicture(const velIPL::RGBImage& picture, const std::string& path) {
  try {
    picture.save(path);
  } catch (const velIPL::IPLException& e) {
    std::string reason = reasonFor(e.what(), path);
    if (e.systemError() != 0) reason += std::string(": ") + std::strerror(e.systemError());
    throw lumifold::CliError(path, reason);
  }
}

// The file a picture named name is written to: name with the extension
// ".bmp", except that an existing device or pipe (/dev/stdout) is written as
// named.
std::string pictureName(const std::string& name) {
  std::error_code ec;
  const auto status = std::filesystem::status(name, ec);
  if (!ec && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status) &&
      !std::filesystem::is_directory(status)) {
    return name;
  }
  return lumifold::bmpTargetName(name);
}

// Grey in all three channels.
velIPL::RGBImage greyPicture(const velIPL::GImage& grey) {
  return lumifold::ApplyColorScale(lumifold::MakeWhiteOnBlackScale(), grey);
}

velIPL::GImage readGrey(const std::string& path) {
  try {
    return velIPL::GImage(path);
  } catch (const velIPL::IPLException& e) {
    throw lumifold::CliError(path, reasonFor(e.what(), path));
  }
}

#ifdef LUMIFOLD_CLI_FAULT_HOOK
// Passes the merge's progress on and runs the test hook when it starts.
class FaultHookProgress : public lumifold::MergeProgress {
public:
  explicit FaultHookProgress(lumifold::MergeProgress& inner) : inner_(inner) {}
  void start(int imageCount) override {
    lumifoldFaultHook();
    inner_.start(imageCount);
  }
  void step() override { inner_.step(); }

private:
  lumifold::MergeProgress& inner_;
};
#endif

struct MergeOptions {
  std::vector<std::string> inputs;
  std::string output = "merged.bmp";
  std::string algorithm = "correlation";
  std::string scale = "rainbow";
  std::string grey;
  std::string shifts;
  std::string truth;
  std::string noiseFree;
  bool sort = false;
  bool progress = false;
  bool quiet = false;
};

int runMerge(const MergeOptions& o) {
  const double startTime = seconds();
  const std::vector<std::string> paths = lumifold::expandInputs(o.inputs, o.sort);

  // A folder is never a picture's name, whatever the extension rule makes of it.
  for (const std::string* given : {&o.output, &o.grey}) {
    if (given->empty() && given == &o.grey) continue;
    if (given->empty() || given->back() == '/') throw lumifold::CliError(*given, "Missing file name");
    if (std::filesystem::is_directory(*given)) throw lumifold::CliError(*given, "Is a folder");
  }

  // Every output, named as it will be written, checked before any work.
  struct Output {
    std::string path;
    std::string what;
  };
  std::vector<Output> outputs{{pictureName(o.output), "--output"}};
  if (!o.grey.empty()) outputs.push_back({pictureName(o.grey), "--grey"});
  if (!o.shifts.empty()) outputs.push_back({o.shifts, "--shifts"});
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (sameFile(outputs[i].path, outputs[j].path)) {
        throw UsageError(outputs[j].what + " and " + outputs[i].what + " both name " + outputs[i].path);
      }
    }
    for (const std::string& input : paths) {
      if (sameFile(outputs[i].path, input)) {
        throw UsageError(outputs[i].what + " " + outputs[i].path + " would overwrite an input image");
      }
    }
    const std::string problem = lumifold::outputProblem(outputs[i].path);
    if (!problem.empty()) throw lumifold::CliError(outputs[i].path, problem);
  }

  const lumifold::SeriesSize size = lumifold::checkSeries(paths);
  const int frameCount = static_cast<int>(paths.size());
  // The reader takes files without pixels, but there is nothing to merge
  // or to write.
  if (size.width == 0 || size.height == 0) throw lumifold::CliError(paths.front(), "Empty image");

  std::optional<lumifold::ShiftTruth> truth;
  if (!o.truth.empty()) {
    truth = lumifold::readShiftTruth(o.truth);
    for (int i = 1; i < frameCount; ++i) {
      const auto it = truth->find(i);
      if (it == truth->end()) {
        throw lumifold::CliError(o.truth, "No shifts for frame " + std::to_string(i) + " of the series");
      }
      if (static_cast<int>(it->second.size()) != size.width) {
        throw lumifold::CliError(o.truth, "Frame " + std::to_string(i) + " has " + std::to_string(it->second.size()) +
                                              " columns, the images " + std::to_string(size.width));
      }
    }
  }
  std::optional<velIPL::GImage> noiseFree;
  if (!o.noiseFree.empty()) {
    const std::string unreadable = lumifold::unreadableReason(o.noiseFree);
    if (!unreadable.empty()) throw lumifold::CliError(o.noiseFree, unreadable);
    noiseFree = readGrey(o.noiseFree);
    if (noiseFree->width() != size.width || noiseFree->height() != size.height) {
      throw lumifold::CliError(o.noiseFree, "Image has not same dimensions as reference image");
    }
  }

  using Mode = lumifold::ProgressReporter::Mode;
  Mode mode = Mode::Silent;
  if (!o.quiet) {
    if (::isatty(STDERR_FILENO)) {
      mode = Mode::Bar;
    } else if (o.progress) {
      mode = Mode::Lines;
    }
  }
  lumifold::ProgressReporter progress(std::cerr, mode);
  lumifold::MergeProgress* reporter = &progress;
#ifdef LUMIFOLD_CLI_FAULT_HOOK
  FaultHookProgress hooked(progress);
  reporter = &hooked;
#endif
  lumifold::ShiftTable shiftTable;
  lumifold::Merger merger(paths, reporter);
  merger.setShiftObserver([&](int index, const mathORN::RowVector& s) { shiftTable.record(index, s); });

  const bool anteriorEdge = o.algorithm == "anterior-edge";
  const double mergeStart = seconds();
  velIPL::GImage merged;
  try {
    merged = anteriorEdge ? merger.mergeByAnteriorEdge() : merger.mergeByCorrelation();
  } catch (const std::bad_alloc&) {
    progress.finish();
    throw;
  } catch (const std::exception& e) {
    progress.finish();
    const lumifold::MergeFailure failure =
        lumifold::explainMergeFailure(paths, merger.currentImage(), e.what(), size.width, size.height);
    const std::string& path = paths[static_cast<std::size_t>(failure.file)];
    throw lumifold::CliError(path, reasonFor(failure.reason, path));
  }
  progress.finish();
  const double mergeTime = seconds() - mergeStart;
  // A reference replaced after the check merges at its new size, which
  // the truth and the noise-free section were checked against.
  if (merged.width() != size.width || merged.height() != size.height) {
    throw lumifold::CliError(paths.front(), lumifold::kChangedSizeReason);
  }

  const int scale = scaleIndex(o.scale);
  writePicture(lumifold::ApplyColorScale(lumifold::SelectedColorScale(scale), merged), outputs[0].path);
  std::size_t next = 1;
  if (!o.grey.empty()) writePicture(greyPicture(merged), outputs[next++].path);
  if (!o.shifts.empty()) lumifold::writeFileSafely(outputs[next++].path, shiftTable.toCsv(paths));

  if (o.quiet) return kOk;
  std::cout << "Merged " << frameCount << (frameCount == 1 ? " frame" : " frames") << " of " << merged.width()
            << " x " << merged.height() << " by " << (anteriorEdge ? "Anterior Edge" : "Correlation") << " in "
            << formatSeconds(mergeTime) << " (" << formatSeconds(seconds() - startTime) << " in all).\n";
  std::cout << "Wrote " << outputs[0].path << " (" << lumifold::kColorScaleNames[scale] << ")\n";
  next = 1;
  if (!o.grey.empty()) std::cout << "Wrote " << outputs[next++].path << " (grey average)\n";
  if (!o.shifts.empty()) {
    std::cout << "Wrote " << outputs[next++].path << " (shifts of " << shiftTable.frames() << " registered "
              << (shiftTable.frames() == 1 ? "frame" : "frames") << ")\n";
  }
  if (truth) {
    const lumifold::ShiftRecovery r = shiftTable.compare(*truth, size.width, kTruthMargin);
    if (r.compared == 0) {
      std::cout << "Shift recovery: nothing to compare (no registered frames or no interior columns)\n";
    } else {
      const auto percent = [&](long long n) {
        char text[32];
        std::snprintf(text, sizeof text, "%.2f %%", 100.0 * static_cast<double>(n) / static_cast<double>(r.compared));
        return std::string(text);
      };
      std::cout << "Shift recovery: " << r.matched << " of " << r.compared << " interior column shifts ("
                << percent(r.matched) << ") match the truth, " << percent(r.withinOne)
                << " within one row; columns " << r.firstColumn << " to " << r.lastColumn << " of "
                << shiftTable.frames() << " registered frames\n";
    }
  }
  if (noiseFree) {
    // Read again, so it may have changed since the merge.
    const velIPL::GImage first = readGrey(paths.front());
    if (first.width() != size.width || first.height() != size.height) {
      throw lumifold::CliError(paths.front(), lumifold::kChangedSizeReason);
    }
    std::cout << "PSNR against " << o.noiseFree << ": frame 0 " << formatDb(lumifold::peakSignalToNoise(first, *noiseFree))
              << ", average " << formatDb(lumifold::peakSignalToNoise(merged, *noiseFree)) << '\n';
  }
  return kOk;
}

struct SimulateOptions {
  std::string directory;
  lumifold::SimulationParameters parameters;
  std::string motion = "mixed";
  bool maxShiftGiven = false;
  bool quiet = false;
};

int runSimulate(SimulateOptions o) {
  o.parameters.motion = *lumifold::motionFromName(o.motion);
  // The default motion must fit a small frame; a given one is checked as is.
  if (!o.maxShiftGiven) o.parameters.maxShift = std::min(o.parameters.maxShift, o.parameters.height / 2);
  std::optional<lumifold::BScanSimulator> simulator;
  try {
    simulator.emplace(o.parameters);
  } catch (const std::invalid_argument& e) {
    throw UsageError(std::string("simulate: ") + e.what());
  }
  const double start = seconds();
  std::string current = o.directory;
  try {
    lumifold::writeSeries(*simulator, o.directory, [&](const std::string& path) { current = path; });
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    throw lumifold::CliError(current, reasonFor(e.what(), current));
  }
  if (!o.quiet) {
    const auto& p = o.parameters;
    std::cout << "Simulated " << p.frames << (p.frames == 1 ? " frame" : " frames") << " of " << p.width << " x "
              << p.height << " (motion " << o.motion << ", max shift " << p.maxShift << ", noise " << p.noise
              << ", seed " << p.seed << ") in " << formatSeconds(seconds() - start) << ".\n"
              << "Wrote " << (std::filesystem::path(o.directory) / lumifold::frameFileName(0, p.frames)).string()
              << " ... " << lumifold::frameFileName(p.frames - 1, p.frames) << ", "
              << lumifold::kTruthFolder << "/noise_free.bmp and " << lumifold::kTruthFolder << "/truth.csv\n";
  }
  return kOk;
}

int runProbe(const std::vector<std::string>& files) {
  int status = kOk;
  for (const std::string& file : files) {
    const std::string unreadable = lumifold::unreadableReason(file);
    if (!unreadable.empty()) {
      report(file, unreadable);
      status = kFailed;
      continue;
    }
    velIPL::BmpInfo info;
    int width = 0;
    int height = 0;
    std::string message = "Cannot open file";
    if (!info.probeFile(file, width, height, message)) {
      report(file, message);
      status = kFailed;
      continue;
    }
    std::cout << file << ": " << width << " x " << (height < 0 ? -static_cast<long long>(height) : height)
              << (height < 0 ? " (top-down)" : "") << '\n';
  }
  return status;
}

int runScales(const std::string& output, bool quiet) {
  const std::string path = pictureName(output);
  const std::string problem = lumifold::outputProblem(path);
  if (!problem.empty()) throw lumifold::CliError(path, problem);
  writePicture(lumifold::makeScaleChart(), path);
  if (!quiet) std::cout << "Wrote " << path << " (the six colour scales)\n";
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Averages a series of OCT B-scans of one retinal section into one low-noise image.\n"
      "Every frame is registered to the first (one axial shift per column), the registered\n"
      "frames are averaged, and the average is coloured and saved as a 24-bit BMP file.",
      kProgram};
  app.set_version_flag("--version", std::string(kProgram) + " 1.0.0");
  app.require_subcommand(1);
  app.footer("Run 'lumifold-cli COMMAND --help' for the options of a command.\n"
             "Exit status: 0 success, 1 failed run, 2 usage error.");

  MergeOptions merge;
  CLI::App* mergeCmd = app.add_subcommand("merge", "Merge a series of B-scans into one coloured image");
  mergeCmd->description(
      "Merge a series of B-scans into one coloured image.\n"
      "INPUT is a BMP file or a folder, whose *.bmp files are taken in name order\n"
      "(case-insensitive). Inputs keep the order given; the first file is the reference.");
  mergeCmd->add_option("INPUT", merge.inputs, "BMP files or folders of BMP files")->required();
  mergeCmd->add_option("-o,--output", merge.output, "Coloured result; the extension becomes .bmp")
      ->capture_default_str();
  mergeCmd->add_option("-a,--algorithm", merge.algorithm, "Registration")
      ->check(CLI::IsMember({"correlation", "anterior-edge"}))
      ->capture_default_str();
  mergeCmd->add_option("-s,--scale", merge.scale, "Colour scale")->check(CLI::IsMember(kScaleKeys))->capture_default_str();
  mergeCmd->add_option("--grey", merge.grey, "Also write the uncoloured average (extension .bmp)");
  mergeCmd->add_option("--shifts", merge.shifts, "Write every registered frame's column shifts as CSV");
  mergeCmd->add_option("--truth", merge.truth, "truth.csv from 'simulate': report how many shifts are right");
  mergeCmd->add_option("--noise-free", merge.noiseFree,
                       "noise_free.bmp from 'simulate': report the PSNR of frame 0 and of the average");
  mergeCmd->add_flag("--sort", merge.sort, "Sort all inputs by name (case-insensitive) instead of keeping their order");
  mergeCmd->add_flag("--progress", merge.progress, "Print progress lines when stderr is not a terminal");
  mergeCmd->add_flag("-q,--quiet", merge.quiet, "No progress and no summary");

  SimulateOptions simulate;
  CLI::App* simulateCmd = app.add_subcommand("simulate", "Write a simulated B-scan series with its true shifts");
  simulateCmd->description(
      "Write a simulated B-scan series into OUTDIR: frame_000.bmp ... and nothing else, so\n"
      "'merge OUTDIR' merges it; and into OUTDIR/truth/ the noise-free section\n"
      "noise_free.bmp and truth.csv with every frame's true column shifts.");
  simulateCmd->add_option("OUTDIR", simulate.directory, "Folder to write (created when missing)")->required();
  simulateCmd->add_option("--frames", simulate.parameters.frames, "Number of frames")
      ->check(CLI::Range(1, 10000))
      ->capture_default_str();
  simulateCmd->add_option("--width", simulate.parameters.width, "Columns (A-scans)")
      ->check(CLI::Range(1, 8192))
      ->capture_default_str();
  simulateCmd->add_option("--height", simulate.parameters.height, "Rows")->check(CLI::Range(2, 8192))->capture_default_str();
  simulateCmd->add_option("--seed", simulate.parameters.seed, "Random seed; the same seed gives the same series")
      ->capture_default_str();
  CLI::Option* maxShift = simulateCmd->add_option("--max-shift", simulate.parameters.maxShift,
                                                  "Largest axial motion in rows (up to height/2)")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  simulateCmd->add_option("--motion", simulate.motion, "Kind of motion between frames")
      ->check(CLI::IsMember({"none", "global", "tilt", "jitter", "mixed"}))
      ->capture_default_str();
  simulateCmd->add_option("--noise", simulate.parameters.noise, "Detector noise floor (1 typical, 0 none)")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  simulateCmd->add_flag("-q,--quiet", simulate.quiet, "No summary");

  std::vector<std::string> probeFiles;
  CLI::App* probeCmd = app.add_subcommand("probe", "Report each file's width and height, or why it is refused");
  probeCmd->add_option("FILE", probeFiles, "BMP files")->required();

  std::string scalesOutput = "scales.bmp";
  bool scalesQuiet = false;
  CLI::App* scalesCmd = app.add_subcommand("scales", "Write a picture of the six colour scales");
  scalesCmd->add_option("-o,--output", scalesOutput, "Picture to write; the extension becomes .bmp")
      ->capture_default_str();
  scalesCmd->add_flag("-q,--quiet", scalesQuiet, "No summary");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << kProgram << ": " << e.what() << "\nRun 'lumifold-cli --help' for usage.\n";
    return kUsage;
  }

  try {
    if (*mergeCmd) return runMerge(merge);
    if (*simulateCmd) {
      simulate.maxShiftGiven = maxShift->count() > 0;
      return runSimulate(simulate);
    }
    if (*probeCmd) return runProbe(probeFiles);
    if (*scalesCmd) return runScales(scalesOutput, scalesQuiet);
  } catch (const UsageError& e) {
    std::cerr << kProgram << ": " << e.what() << "\nRun 'lumifold-cli --help' for usage.\n";
    return kUsage;
  } catch (const lumifold::CliError& e) {
    report(e.path(), e.what());
    return kFailed;
  } catch (const std::bad_alloc&) {
    std::cerr << kProgram << ": out of memory\n";
    return kFailed;
  } catch (const std::exception& e) {
    std::cerr << kProgram << ": " << e.what() << '\n';
    return kFailed;
  }
  return kUsage;
}
