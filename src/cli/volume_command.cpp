#include "cli/volume_command.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <vector>

#include "cli/cli_environment.h"
#include "cli/command_support.h"
#include "cli/merge_command.h"
#include "cli/progress_reporter.h"

namespace lumifold {

namespace {

// The speckle filter's line: its strength, and the median over the
// positions of the noise it measured and of the figures before and after.
void printFilterSummary(const VolumeFilterSummary& s, std::ostream& out) {
  const Merger::FilterFigures& m = s.median;
  char text[400];
  std::snprintf(text, sizeof text,
                "Speckle filter: %s at strength %g on %zu positions (median noise of one frame %.3g); median SNR "
                "%.1f -> %.1f dB (gain %.1f to %.1f dB), CNR %.2f -> %.2f, ENL %.1f -> %.1f\n",
                s.filter.c_str(), s.strength, s.positions.size(), m.frameNoise, m.before.snrDb, m.after.snrDb,
                s.leastSnrGainDb, s.mostSnrGainDb, m.before.cnr, m.after.cnr, m.before.enl, m.after.enl);
  out << text;
}

}  // namespace

int runVolume(const VolumeOptions& o, CliEnvironment& env) {
  const double start = seconds();
  const VolumePlan plan = checkVolume(o);
  printLeftOut(plan.leftOut, env.err());
  // Positions are what a volume counts; the bar shows them, not frames.
  ProgressReporter shown(env.err(), progressMode(o.merge, env));
  shown.start(static_cast<int>(plan.chosen.size()));
  VolumeWriter writer(plan, o);
  int kept = 0, frames = 0;
  try {
    mergeVolume(
        plan, o,
        [&](PositionResult& r) {
          frames += static_cast<int>(r.plan->frames.size());
          kept += averagedFrames(*r.plan, r.outcome);
          writer.add(r);
        },
        [&](int, int) { shown.step(); });
    writer.finish();
  } catch (...) {
    shown.finish();
    throw;
  }
  shown.finish();
  if (o.merge.quiet) return kExitOk;
  std::ostream& out = env.out();
  out << "Merged " << plan.chosen.size() << " of " << plan.positions << " positions x " << plan.repeats
      << " repeats (" << volumeLayoutName(plan.layout) << ", " << kept << " of " << frames << " frames kept) of "
      << plan.size.width << " x " << plan.size.height << " by " << registrationFor(o.merge.algorithm).name << " in "
      << formatSeconds(seconds() - start) << ".\n";
  out << "Wrote " << o.output << " (" << plan.chosen.size() << " pages, "
      << (plan.size.bitsPerSample == 16 ? "16-bit" : "8-bit");
  if (plan.spacingX > 0 && plan.spacingZ > 0) {
    out << ", " << plan.spacingX << " x " << plan.spacingZ << " mm per pixel";
    if (plan.spacingY > 0) out << ", " << plan.spacingY << " mm between positions";
  } else {
    out << ", no pixel spacing";
  }
  out << ")\n";
  if (!o.picture.empty()) out << "Wrote " << o.picture << " (" << colorScaleFor(o.merge.scale).name << ")\n";
  if (!o.enface.empty()) {
    out << "Wrote " << o.enface << " (en-face, rows " << plan.slabTop << " to " << plan.slabBottom - 1 << ")\n";
  }
  if (!o.shifts.empty()) out << "Wrote " << o.shifts << " (shifts of every registered frame)\n";
  if (!o.report.empty()) out << "Wrote " << o.report << " (report of every position)\n";
  if (o.alignPositions || o.alignSideways) {
    const auto largest = [](const std::vector<int>& offsets) {
      int most = 0;
      for (const int d : offsets) most = std::max(most, std::abs(d));
      return most;
    };
    const int rows = largest(writer.offsets().axial);
    out << "Positions aligned: largest offset " << rows << (rows == 1 ? " row" : " rows");
    if (o.alignSideways) {
      const int columns = largest(writer.offsets().lateral);
      out << ", " << columns << (columns == 1 ? " column" : " columns") << " sideways";
    }
    out << "\n";
  }
  if (writer.filterSummary()) printFilterSummary(*writer.filterSummary(), out);
  return kExitOk;
}

VolumeCommand::VolumeCommand(CLI::App& app) {
  command_ = app.add_subcommand("volume", "Average a volume: every position's repeats into one page of a stack");
  command_->description(
      "Average a volume of P positions (B-scans across the retina), each scanned R times.\n"
      "Every position is merged exactly as 'merge' merges its R frames, with every merge\n"
      "option, into page p of a multi-page TIFF (8-bit, or 16-bit for a 16-bit series)\n"
      "that carries ImageJ's calibration, so Fiji opens it at true scale.\n"
      "Layouts (frames numbered from 0 across the inputs):\n"
      "  grouped      all repeats of position 0, then of position 1, ... (p * R + r)\n"
      "  interleaved  a pass over all positions, then the next pass (r * P + p)\n"
      "  per-file     R inputs, each one pass of P frames\n"
      "Example: lumifold-cli volume scan.tif --repeats 5 --layout interleaved -o volume.tif --enface enface.png");
  command_->add_option("INPUT", options_.merge.inputs, "Image files or folders of image files")->required();
  command_->add_option("-o,--output", options_.output, "The averaged stack (TIFF)")->capture_default_str();
  command_->add_option("--repeats", options_.repeats, "R: scans of each position")->check(CLI::PositiveNumber);
  command_->add_option("--positions", options_.positions, "P: positions (instead of --repeats)")
      ->check(CLI::PositiveNumber);
  command_->add_option("--layout", layout_, "grouped, interleaved or per-file")
      ->check(CLI::IsMember({"grouped", "interleaved", "per-file"}))
      ->capture_default_str();
  command_->add_option("--positions-range", options_.positionRange,
                       "Merge only these positions, numbered from 0: e.g. 0-9 or 2,5,7");
  addMergeOptions(*command_, options_.merge);
  command_->add_option("--picture", options_.picture, "Also write the coloured pages (-s) as a TIFF stack");
  command_->add_option("--enface", options_.enface,
                       "Also write the en-face view: the mean over depth of each averaged B-scan, one row per "
                       "position (.bmp, .png or .tif)");
  command_->add_option("--slab", options_.slab, "Rows TOP:BOTTOM the en-face mean is taken over (default: all)");
  command_->add_option("--report", options_.report,
                       "Write every position's frame quality report and the volume's summary as JSON");
  command_->add_option("--shifts", options_.shifts, "Write every registered frame's column shifts as CSV");
  command_->add_flag("--align-positions", options_.alignPositions,
                     "Line up neighbouring positions' averaged B-scans by a whole-row axial offset, from the "
                     "middle position out; the offsets are in the report");
  command_->add_flag("--align-sideways", options_.alignSideways,
                     "With --align-positions (implied), also line them up by a whole-column sideways offset, "
                     "edge columns repeated; the offsets are in the report (lateralAlignment)");
  command_->add_option("--spacing", options_.spacing,
                       "Millimetres per column and per row, and between positions: X,Z[,Y] (default: the input's, "
                       "where it states one)")
      ->delimiter(',')
      ->expected(2, 3);
  command_->add_option("-j,--jobs", options_.jobs, "Positions merged at once (default: every core)")
      ->check(CLI::NonNegativeNumber);
  command_->add_flag("--progress", options_.merge.progress, "Progress lines when stderr is not a terminal");
  command_->add_flag("-q,--quiet", options_.merge.quiet, "No progress and no summary");
  command_->callback([this] { options_.layout = *volumeLayoutFromName(layout_); });
}

bool VolumeCommand::chosen() const { return static_cast<bool>(*command_); }

}  // namespace lumifold
