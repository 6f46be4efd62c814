#include "cli/simulate_command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <new>
#include <optional>
#include <sstream>
#include <utility>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/cli_environment.h"
#include "cli/command_support.h"
#include "ipl/formats/tiff/tiff_writer.h"
#include "ipl/ipl_exception.h"
#include "pipeline/path_error.h"
#include "pipeline/safe_file.h"
#include "pipeline/volume_merge.h"
#include "sim/series_writer.h"
#include "sim/volume_simulator.h"

namespace lumifold {

namespace {

// The volume as a TIFF stack in the layout (or one stack per pass), and its
// truth: every frame's shifts relative to its position's first repeat, and
// every position's bend.
int writeVolume(const SimulateOptions& o, CliEnvironment& env) {
  std::optional<VolumeSimulator> volume;
  try {
    volume.emplace(o.parameters, o.positions, o.repeats);
  } catch (const std::invalid_argument& e) {
    throw UsageError(std::string("simulate: ") + e.what());
  }
  const VolumeLayout layout = *volumeLayoutFromName(o.layout);
  const int P = o.positions, R = o.repeats;
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(fs::path(o.directory) / kTruthFolder, ec);
  if (ec) throw PathError(o.directory, "Can't create folder");
  std::string truth = "frame,column,shift\n";
  std::vector<std::string> written;
  const auto save = [&](velIPL::TiffWriter& writer, const std::string& name) {
    const std::string path = (fs::path(o.directory) / name).string();
    try {
      writer.writeFile(path);
    } catch (const velIPL::IPLException& e) {
      throw PathError(path, reasonFor(e.what(), path));
    }
    written.push_back(path);
  };
  const auto add = [&](velIPL::TiffWriter& writer, int number, int p, int r) {
    writer.addPage(volume->frame(p, r));
    const mathORN::RowVector s = volume->trueShifts(p, r);
    for (int x = 0; x < s.size(); ++x) {
      truth += std::to_string(number) + "," + std::to_string(x) + "," + std::to_string(static_cast<long long>(s[x])) + "\n";
    }
  };
  if (layout == VolumeLayout::perFile) {
    for (int r = 0; r < R; ++r) {
      velIPL::TiffWriter writer;
      for (int p = 0; p < P; ++p) add(writer, r * P + p, p, r);
      char name[32];
      std::snprintf(name, sizeof name, "pass_%03d.tif", r);
      save(writer, name);
    }
  } else {
    velIPL::TiffWriter writer;
    for (int n = 0; n < P * R; ++n) {
      const int p = layout == VolumeLayout::grouped ? n / R : n % P;
      const int r = layout == VolumeLayout::grouped ? n % R : n / P;
      add(writer, n, p, r);
    }
    save(writer, "volume.tif");
  }
  std::string bends = "position,column,offset\n";
  for (int p = 0; p < P; ++p) {
    const std::vector<int> b = volume->bend(p);
    for (std::size_t x = 0; x < b.size(); ++x) {
      bends += std::to_string(p) + "," + std::to_string(x) + "," + std::to_string(b[x]) + "\n";
    }
  }
  writeFileSafely((fs::path(o.directory) / kTruthFolder / "truth.csv").string(), truth);
  writeFileSafely((fs::path(o.directory) / kTruthFolder / "positions.csv").string(), bends);
  if (!o.quiet) {
    env.out() << "Simulated a volume of " << P << " positions x " << R << " repeats of " << o.parameters.width << " x "
              << o.parameters.height << " (" << o.section << " section, " << o.layout << "). Wrote " << written.front();
    if (written.size() > 1) env.out() << " ... " << written.back();
    env.out() << ", " << kTruthFolder << "/truth.csv (shifts relative to each position's first repeat) and "
              << kTruthFolder << "/positions.csv (each position's bend)\n";
  }
  return kExitOk;
}

}  // namespace

int runSimulate(SimulateOptions o, CliEnvironment& env) {
  o.parameters.motion = *motionFromName(o.motion);
  o.parameters.section = *sectionFromName(o.section);
  // The default motion must fit a small frame; a given one is checked as is.
  if (!o.maxShiftGiven) o.parameters.maxShift = std::min(o.parameters.maxShift, o.parameters.height / 2);
  if (o.positions > 0) {
    if (!o.bad.empty()) throw UsageError("simulate: --bad is for a series, not a volume");
    return writeVolume(o, env);
  }
  std::stringstream kinds(o.bad);
  for (std::string kind; std::getline(kinds, kind, ',');) {
    const std::optional<BadFrame> k = badFrameFromName(kind);
    if (!k) throw UsageError("simulate: --bad takes blink, section, lateral and dropout, not '" + kind + "'");
    o.parameters.badFrames.push_back(*k);
  }
  std::optional<BScanSimulator> simulator;
  try {
    simulator.emplace(o.parameters);
  } catch (const std::invalid_argument& e) {
    throw UsageError(std::string("simulate: ") + e.what());
  }
  const double start = seconds();
  std::string current = o.directory;
  try {
    writeSeries(*simulator, o.directory, [&](const std::string& path) { current = path; },
                *seriesFormatFromName(o.format));
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    throw PathError(current, reasonFor(e.what(), current));
  }
  if (!o.quiet) {
    const auto& p = o.parameters;
    const std::vector<std::string> files = seriesFileNames(*seriesFormatFromName(o.format), p.frames);
    env.out() << "Simulated " << p.frames << (p.frames == 1 ? " frame" : " frames") << " of " << p.width << " x "
              << p.height << " (" << o.section << " section, motion " << o.motion << ", max shift " << p.maxShift
              << ", noise " << p.noise
              << ", seed " << p.seed << ") in " << formatSeconds(seconds() - start) << ".\n"
              << "Wrote " << (std::filesystem::path(o.directory) / files.front()).string();
    if (files.size() > 1) {
      env.out() << " ... " << files.back();
    } else if (p.frames > 1) {
      env.out() << " (" << p.frames << " frames)";
    }
    env.out() << ", " << kTruthFolder << "/noise_free.bmp and " << kTruthFolder << "/truth.csv\n";
    if (!simulator->badFrames().empty()) {
      std::vector<std::pair<int, BadFrame>> bad = simulator->badFrames();
      std::sort(bad.begin(), bad.end());
      env.out() << "Bad frames:";
      for (const auto& b : bad) env.out() << ' ' << b.first << " (" << badFrameName(b.second) << ')';
      env.out() << ", listed in " << kTruthFolder << '/' << kBadFramesFile << '\n';
    }
    bool slipped = false;
    for (int i = 0; i < p.frames; ++i) slipped = slipped || simulator->lateralShift(i) != 0;
    if (slipped) env.out() << "Sideways slips of every frame in " << kTruthFolder << '/' << kLateralFile << '\n';
  }
  return kExitOk;
}

SimulateCommand::SimulateCommand(CLI::App& app) {
  command_ = app.add_subcommand("simulate", "Write a simulated B-scan series with its true shifts");
  command_->description(
      "Write a simulated B-scan series into OUTDIR: frame_000.bmp ... and nothing else, so\n"
      "'merge OUTDIR' merges it; and into OUTDIR/truth/ the noise-free section\n"
      "noise_free.bmp and truth.csv with every frame's true column shifts.\n"
      "--format png or tif writes frame_000.png or frame_000.tif ... instead; tif-stack\n"
      "writes all frames as the pages of series.tif, dcm as the frames of series.dcm.");
  SimulationParameters& p = options_.parameters;
  command_->add_option("OUTDIR", options_.directory, "Folder to write (created when missing)")->required();
  command_->add_option("--frames", p.frames, "Number of frames")->check(CLI::Range(1, 10000))->capture_default_str();
  command_->add_option("--width", p.width, "Columns (A-scans)")->check(CLI::Range(1, 8192))->capture_default_str();
  command_->add_option("--height", p.height, "Rows")->check(CLI::Range(2, 8192))->capture_default_str();
  command_->add_option("--seed", p.seed, "Random seed; the same seed gives the same series")->capture_default_str();
  maxShift_ = command_->add_option("--max-shift", p.maxShift, "Largest axial motion in rows (up to height/2)")
                  ->check(CLI::NonNegativeNumber)
                  ->capture_default_str();
  command_->add_option("--motion", options_.motion, "Kind of motion between frames")
      ->check(CLI::IsMember({"none", "global", "tilt", "jitter", "mixed"}))
      ->capture_default_str();
  command_->add_option("--section", options_.section,
                       "What is drawn: calibrated (the statistics of real foveal scans: a noisy vitreous, faint "
                       "lateral structure, grainy speckle) or classic (the earlier, easier section: a dark vitreous, "
                       "clear vessel shadows and layers, which the recorded results were made on)")
      ->check(CLI::IsMember({"calibrated", "classic"}))
      ->capture_default_str();
  command_->add_option("--noise", p.noise, "Detector noise floor (1 typical, 0 none)")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  std::vector<std::string> formats(seriesFormatNames().begin(), seriesFormatNames().end());
  command_->add_option("--format", options_.format, "How the frames are written")
      ->check(CLI::IsMember(formats))
      ->capture_default_str();
  command_->add_option("--bad", options_.bad,
                       "Insert bad frames, one per kind listed (comma-separated; a kind twice gives two): blink "
                       "(nearly dark), section (another section), lateral (slipped far sideways), dropout (no signal "
                       "in a band of columns); their frames go to truth/bad_frames.csv");
  command_->add_option("--lateral-slip", p.lateralSlip,
                       "Slip every frame but the first sideways by up to this many columns (truth/lateral.csv)")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  command_->add_option("--positions", options_.positions,
                       "Write a volume of this many positions instead (--repeats each, --layout), as TIFF stacks, "
                       "with truth/truth.csv relative to each position's first repeat")
      ->check(CLI::Range(1, 10000));
  command_->add_option("--repeats", options_.repeats, "Scans of each position of a volume")
      ->check(CLI::Range(1, 10000))
      ->capture_default_str();
  command_->add_option("--layout", options_.layout, "A volume's layout: grouped, interleaved or per-file")
      ->check(CLI::IsMember({"grouped", "interleaved", "per-file"}))
      ->capture_default_str();
  command_->add_flag("-q,--quiet", options_.quiet, "No summary");
}

bool SimulateCommand::chosen() const { return static_cast<bool>(*command_); }

int SimulateCommand::run(CliEnvironment& env) const {
  SimulateOptions o = options_;
  o.maxShiftGiven = maxShift_->count() > 0;
  return runSimulate(o, env);
}

}  // namespace lumifold
