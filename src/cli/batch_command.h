// "lumifold-cli batch": every series of a folder or a manifest merged into
// one output folder, several at a time, with a summary of what was done.
//
// Each series is merged exactly as `merge` merges it (checkMerge,
// mergeSeries, writeMergeResults with the batch's merge options and the
// series' own from a manifest), so its files equal those of the same
// `merge` byte for byte. Its files are named after the series: NAME.EXT
// (the coloured picture), NAME_grey.EXT, NAME_average.tif, NAME_shifts.csv
// and NAME_report.json as asked. A series that fails is reported and the batch
// goes on; the exit status is 1 when any failed. The summary (batch_summary.h)
// is written safely after series finish (at most about once a second, and
// at the end), so a batch that dies keeps what it did; --resume then keeps
// every series whose row says done with the same options (seriesSettings)
// from the same inputs (inputsFingerprint) and whose files are all there
// and not empty, and merges the others again, naming why; --force merges
// every series. SIGINT and SIGTERM stop the batch cleanly: the merges in
// flight stop at their next frame without writing, each series finished
// has its row, and runBatch returns 128 plus the signal's number.
//
// Up to --jobs series run at once, each on its own thread, so memory is
// bounded by that many merges. With more than one job each merge registers
// on its share of the cores (cores / jobs, at least 1) besides its reader
// thread; alone it takes the engine's default.
#pragma once

#include <string>

#include "pipeline/batch_series.h"
#include "cli/merge_command.h"

namespace CLI {
class App;
}

namespace lumifold {

class CliEnvironment;

struct BatchOptions {
  std::string input;
  std::string outputFolder;
  // The merge options every series takes (algorithm, scale, frames, order,
  // frame quality).
  MergeOptions merge;
  std::string format = "bmp";  // of the coloured and grey pictures: bmp, png or tif
  bool grey = false;
  bool average = false;
  bool shifts = false;
  bool report = false;
  int jobs = 0;  // 0: every core the process may use
  bool resume = false;
  bool force = false;  // merge every series, whatever --resume would keep
  std::string shard;    // "K/N"; empty: every series
  std::string summary;  // empty: OUTDIR/summary.csv, or OUTDIR/summary-K-of-N.csv for a shard
  bool progress = true;
  bool quiet = false;
};

// The merge options of one series: the batch's, the row's own where a
// manifest gives them, its inputs, and its files in the output folder.
MergeOptions seriesMergeOptions(const BatchOptions& options, const BatchSeries& series);

// Runs the batch; returns 0 when every series is done, 1 when any failed,
// 130 or 143 when stopped by SIGINT or SIGTERM.
// Throws PathError or UsageError for a batch that cannot start (no series,
// an output folder that cannot be made, files of two series that collide,
// an unreadable summary to resume from) and for a summary that cannot be
// written at the end.
int runBatch(const BatchOptions& options, CliEnvironment& env);

class BatchCommand {
public:
  explicit BatchCommand(CLI::App& app);
  BatchCommand(const BatchCommand&) = delete;
  BatchCommand& operator=(const BatchCommand&) = delete;

  bool chosen() const;
  int run(CliEnvironment& env) const { return runBatch(options_, env); }

private:
  CLI::App* command_;
  BatchOptions options_;
};

}  // namespace lumifold
