#include "cli/batch_command.h"

#include <CLI/CLI.hpp>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <ostream>
#include <set>
#include <stdexcept>
#include <thread>

#include "pipeline/batch_series.h"
#include "pipeline/batch_summary.h"
#include "cli/cli_environment.h"
#include "cli/command_support.h"
#include "pipeline/output_name.h"
#include "pipeline/picture_output.h"
#include "cli/progress_reporter.h"
#include "pipeline/safe_file.h"
#include "pipeline/volume_merge.h"
#include "merge/fast/worker_pool.h"
#include "merge/frame_quality.h"
#include "merge/image_quality.h"
#include "shell/heap_release.h"

namespace lumifold {

namespace {

namespace fs = std::filesystem;

// Rewriting the whole summary after every series would cost a batch of
// many short series more than its merges; a row is never older than this.
constexpr double kSummaryInterval = 1.0;

std::string summaryPath(const BatchOptions& o) {
  if (!o.summary.empty()) return o.summary;
  if (o.shard.empty()) return (fs::path(o.outputFolder) / "summary.csv").string();
  const Shard shard = parseShard(o.shard);
  return (fs::path(o.outputFolder) /
          ("summary-" + std::to_string(shard.index) + "-of-" + std::to_string(shard.count) + ".csv"))
      .string();
}

// The files a series' merge writes, as checkMerge names them.
std::vector<std::string> seriesFiles(const MergeOptions& m) {
  std::vector<std::string> files{outputPictureName(m.output)};
  if (!m.grey.empty()) files.push_back(outputPictureName(m.grey));
  if (!m.average.empty()) files.push_back(averageName(m.average));
  if (!m.shifts.empty()) files.push_back(m.shifts);
  if (!m.report.empty()) files.push_back(m.report);
  return files;
}

std::string field(const SummaryRow& row, const std::string& column) {
  const auto it = row.find(column);
  return it == row.end() ? "" : it->second;
}

// Why the series a summary row names must be merged again, or "" when the
// row and the files it names are this run's result.
std::string redoReason(const SummaryRow& row, const MergeOptions& m, const std::string& settings) {
  if (field(row, "status") != "done") return "failed last time";
  // A row of an older summary cannot say what its files were made with.
  if (field(row, "options").empty()) return "options unknown";
  if (field(row, "options") != settings) return "options changed";
  if (field(row, "inputs") != inputsFingerprint(m)) return "inputs changed";
  for (const std::string& f : seriesFiles(m)) {
    struct stat st {};
    if (::stat(f.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return f + " missing";
    if (st.st_size == 0) return f + " empty";
  }
  return "";
}

// Set from a SIGINT or SIGTERM handler while a batch runs: the signal's
// number, read by every worker.
std::atomic<int> gStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

extern "C" void requestStop(int signal) { gStopSignal.store(signal); }

// SIGINT and SIGTERM stop the batch while this lives: no series starts, the
// merges in flight stop at their next frame, and the summary keeps every
// series finished. A second signal ends the program at once, as without
// it. A signal the program was started ignoring (nohup, a background job)
// stays ignored.
class StopOnSignal {
public:
  StopOnSignal() {
    gStopSignal.store(0);
    struct sigaction stop {};
    stop.sa_handler = requestStop;
    sigemptyset(&stop.sa_mask);
    stop.sa_flags = SA_RESETHAND;
    for (std::size_t i = 0; i < 2; ++i) {
      ::sigaction(kSignals[i], &stop, &previous_[i]);
      if (previous_[i].sa_handler == SIG_IGN) ::sigaction(kSignals[i], &previous_[i], nullptr);
    }
  }
  ~StopOnSignal() {
    for (std::size_t i = 0; i < 2; ++i) ::sigaction(kSignals[i], &previous_[i], nullptr);
  }
  StopOnSignal(const StopOnSignal&) = delete;
  StopOnSignal& operator=(const StopOnSignal&) = delete;

  static bool requested() { return gStopSignal.load() != 0; }
  // 128 and the signal's number, as a shell reports a program it ended.
  static int exitStatus() { return 128 + gStopSignal.load(); }

private:
  static constexpr int kSignals[2] = {SIGINT, SIGTERM};
  struct sigaction previous_[2] {};
};

// The environment one series merges in: the batch's, with a progress sink
// that ends the merge at its next frame once a stop is requested.
class SeriesEnvironment : public CliEnvironment, private MergeProgress {
public:
  explicit SeriesEnvironment(CliEnvironment& env) : env_(env) {}

  std::ostream& out() override { return env_.out(); }
  std::ostream& err() override { return env_.err(); }
  bool errIsTerminal() const override { return env_.errIsTerminal(); }
  MergeProgress& mergeProgress(MergeProgress& shown) override {
    shown_ = &env_.mergeProgress(shown);
    return *this;
  }

  // True when the merge was ended by a stop, not by a fault of its own.
  bool stopped() const { return stopped_; }

private:
  void start(int imageCount) override { shown_->start(imageCount); }
  void step() override {
    shown_->step();
    if (StopOnSignal::requested()) {
      stopped_ = true;
      throw std::runtime_error("Interrupted");
    }
  }

  CliEnvironment& env_;
  MergeProgress* shown_ = nullptr;
  bool stopped_ = false;
};

std::string fixed(double value, int decimals) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// The frame-quality columns of a measured merge.
void addQuality(SummaryRow& row, const MergePlan& plan, const MergeOutcome& outcome) {
  int dropped = 0;
  for (const FrameQuality& q : outcome.qualities) dropped += q.dropped ? 1 : 0;
  row["frames_used"] = std::to_string(plan.frames.size() - static_cast<std::size_t>(dropped));
  row["frames_dropped"] = std::to_string(dropped);
  row["reference"] = std::to_string(plan.frameNumbers[static_cast<std::size_t>(outcome.reference)]);
  const ImageQuality& iq = outcome.imageQuality;
  row["snr_db"] = fixed(iq.average.snrDb, 2);
  row["snr_reference_db"] = fixed(iq.reference.snrDb, 2);
  row["snr_gain_db"] = fixed(iq.snrGainDb, 2);
  row["cnr"] = fixed(iq.average.cnr, 3);
  row["enl"] = fixed(iq.average.enl, 2);
}

// The speckle filter's columns: the filter and strength, and the figures
// before (the plain average's, as a measured merge gives them) and after.
void addFilter(SummaryRow& row, const MergeOutcome& outcome) {
  const Merger::FilterFigures& f = outcome.filterFigures;
  char strength[32];
  std::snprintf(strength, sizeof strength, "%g", outcome.filterStrength);
  row["denoise"] = outcome.filterKey + " " + strength;
  if (!outcome.measured) {
    row["snr_db"] = fixed(f.before.snrDb, 2);
    row["cnr"] = fixed(f.before.cnr, 3);
    row["enl"] = fixed(f.before.enl, 2);
  }
  row["snr_filtered_db"] = fixed(f.after.snrDb, 2);
  row["cnr_filtered"] = fixed(f.after.cnr, 3);
  row["enl_filtered"] = fixed(f.after.enl, 2);
}

// What decides a row's files: the merge's settings, and a volume's repeats
// and layout.
std::string settingsOf(const BatchSeries& series, const MergeOptions& m) {
  if (series.repeats.empty()) return seriesSettings(m);
  return seriesSettings(m) + ";volume=" + series.repeats + " " + (series.layout.empty() ? "grouped" : series.layout);
}

// A stop between a volume's positions.
struct VolumeStopped {};

// A manifest row that is a volume: merged as `volume` merges it into
// NAME_volume.tif (and NAME_report.json, NAME_shifts.csv when asked), its
// frame counts into row. A stop is taken between positions (VolumeStopped),
// before anything is written.
void mergeVolumeRow(const BatchSeries& series, const MergeOptions& m, SummaryRow& row) {
  VolumeOptions v;
  v.merge = m;
  v.repeats = std::stoi(series.repeats);
  v.layout = *volumeLayoutFromName(series.layout.empty() ? "grouped" : series.layout);
  v.output = m.output;
  v.report = m.report;
  v.shifts = m.shifts;
  v.jobs = 1;
  const VolumePlan plan = checkVolume(v);
  VolumeWriter writer(plan, v);
  int frames = 0, kept = 0;
  mergeVolume(plan, v, [&](PositionResult& r) {
    if (StopOnSignal::requested()) throw VolumeStopped{};
    frames += static_cast<int>(r.plan->frames.size());
    kept += averagedFrames(*r.plan, r.outcome);
    writer.add(r);
  });
  writer.finish();
  row["frames"] = std::to_string(frames);
  row["frames_used"] = std::to_string(kept);
}

// One series from its first check to its last file; never throws but
// std::bad_alloc's kin are turned into the row's error too. An empty row:
// the merge was stopped, and no file of it written.
SummaryRow runSeries(const BatchSeries& series, const MergeOptions& m, CliEnvironment& env) {
  // Taken before the inputs are read, so that a file changed during the
  // merge makes the next --resume merge it again.
  SummaryRow row{{"name", series.name},
                 {"algorithm", m.algorithm},
                 {"options", settingsOf(series, m)},
                 {"inputs", inputsFingerprint(m)}};
  const double start = seconds();
  SeriesEnvironment seriesEnv(env);
  try {
    if (!series.repeats.empty()) {
      mergeVolumeRow(series, m, row);
    } else {
      const MergePlan plan = checkMerge(m);
      row["frames"] = std::to_string(plan.frameNames.size());
      row["frames_used"] = std::to_string(plan.frames.size());
      const MergeOutcome outcome = mergeSeries(plan, m, seriesEnv);
      writeMergeResults(plan, outcome, m);
      if (outcome.measured) addQuality(row, plan, outcome);
      if (outcome.filtered) addFilter(row, outcome);
    }
    row["status"] = "done";
  } catch (const VolumeStopped&) {
    return {};
  } catch (const PathError& e) {
    if (seriesEnv.stopped()) return {};
    row["status"] = "failed";
    row["error"] = e.path() + ": " + e.what();
  } catch (const std::bad_alloc&) {
    row["status"] = "failed";
    row["error"] = "Out of memory";
  } catch (const std::exception& e) {
    // The stop itself comes through the merge as it was thrown.
    if (seriesEnv.stopped()) return {};
    row["status"] = "failed";
    row["error"] = e.what();
  }
  row["seconds"] = fixed(seconds() - start, 3);
  return row;
}

// What the user sees while series finish: a bar over series (with the
// number failed) on a terminal, one line per series otherwise. Called from
// every worker, so it locks.
class BatchProgress {
public:
  BatchProgress(std::ostream& err, bool bar, bool lines, int total)
      : err_(err), bar_(bar), lines_(lines), total_(total), start_(seconds()) {
    if (bar_ && total_ > 0) draw();
  }

  void finished(const SummaryRow& row) {
    std::lock_guard lock(mutex_);
    ++done_;
    const bool failed = row.at("status") != "done";
    if (failed) ++failed_;
    const std::string& name = row.at("name");
    if (bar_) {
      draw();
    } else if (lines_) {
      err_ << "batch: " << done_ << '/' << total_ << ' ' << (failed ? "failed " : "done ") << name;
      if (failed) {
        err_ << ": " << row.at("error");
      } else {
        err_ << " (" << row.at("frames_used") << " frames, " << row.at("seconds") << " s)";
      }
      err_ << '\n' << std::flush;
    }
  }

  void end() {
    std::lock_guard lock(mutex_);
    if (bar_ && total_ > 0) err_ << '\n' << std::flush;
  }

private:
  void draw() {
    std::string line = ProgressReporter::barLine(done_, total_, seconds() - start_, "series");
    if (failed_ > 0) line += "  " + std::to_string(failed_) + " failed";
    // Spaces wipe what a longer line left behind.
    const std::size_t shown = line.size();
    if (line.size() < width_) line.append(width_ - line.size(), ' ');
    width_ = std::max(width_, shown);
    err_ << '\r' << line << std::flush;
  }

  std::mutex mutex_;
  std::ostream& err_;
  bool bar_;
  bool lines_;
  int total_;
  double start_;
  int done_ = 0;
  int failed_ = 0;
  std::size_t width_ = 0;
};

// The rows in series order, written whole through the safe save.
class SummaryFile {
public:
  SummaryFile(std::string path, std::vector<SummaryRow> rows) : path_(std::move(path)), rows_(std::move(rows)) {}

  void set(std::size_t index, SummaryRow row) {
    std::lock_guard lock(mutex_);
    rows_[index] = std::move(row);
    if (seconds() - lastWrite_ >= kSummaryInterval) writeLocked();
  }

  // The last write, which reports a failure.
  void finish() {
    std::lock_guard lock(mutex_);
    writeLocked();
    if (!error_.empty()) throw PathError(path_, error_);
  }

private:
  void writeLocked() {
    std::vector<SummaryRow> written;
    for (const SummaryRow& row : rows_) {
      if (!row.empty()) written.push_back(row);
    }
    try {
      writeFileSafely(path_, summaryCsv(written));
      error_.clear();
    } catch (const PathError& e) {
      error_ = e.what();
    }
    lastWrite_ = seconds();
  }

  std::mutex mutex_;
  std::string path_;
  std::vector<SummaryRow> rows_;  // empty: not finished yet
  double lastWrite_ = -1e300;
  std::string error_;
};

}  // namespace

MergeOptions seriesMergeOptions(const BatchOptions& o, const BatchSeries& series) {
  if (!series.repeats.empty()) {
    // A volume row writes its stack, and its report and shifts when asked.
    BatchOptions forVolume = o;
    forVolume.grey = forVolume.average = false;
    forVolume.format = "tif";
    BatchSeries stack = series;
    stack.repeats.clear();
    stack.name = series.name + "_volume";
    MergeOptions m = seriesMergeOptions(forVolume, stack);
    const fs::path folder(o.outputFolder);
    m.shifts = o.shifts ? (folder / (series.name + "_shifts.csv")).string() : "";
    m.report = o.report ? (folder / (series.name + "_report.json")).string() : "";
    return m;
  }
  MergeOptions m = o.merge;
  m.inputs = series.inputs;
  if (!series.algorithm.empty()) m.algorithm = series.algorithm;
  if (!series.scale.empty()) m.scale = series.scale;
  if (!series.frames.empty()) m.frames = series.frames;
  if (!series.reject.empty()) m.reject = series.reject;
  if (!series.reference.empty()) m.reference = series.reference == "first" ? "" : series.reference;
  if (!series.lateral.empty()) m.lateral = series.lateral == "yes";
  if (!series.denoise.empty()) m.denoise = series.denoise == "none" ? "" : series.denoise;
  const fs::path folder(o.outputFolder);
  const std::string extension = o.format == "bmp" ? ".bmp" : (o.format == "png" ? ".png" : ".tif");
  m.output = (folder / (series.name + extension)).string();
  m.grey = o.grey ? (folder / (series.name + "_grey" + extension)).string() : "";
  m.average = o.average ? (folder / (series.name + "_average.tif")).string() : "";
  m.shifts = o.shifts ? (folder / (series.name + "_shifts.csv")).string() : "";
  m.report = o.report ? (folder / (series.name + "_report.json")).string() : "";
  m.truth.clear();
  m.noiseFree.clear();
  m.progress = false;
  m.quiet = true;
  return m;
}

int runBatch(const BatchOptions& o, CliEnvironment& env) {
  const double startTime = seconds();
  Shard shard;
  if (!o.shard.empty()) {
    try {
      shard = parseShard(o.shard);
    } catch (const std::invalid_argument& e) {
      throw UsageError(e.what());
    }
  }
  if (o.outputFolder.empty()) throw UsageError("--output names no folder");
  std::error_code ec;
  if (fs::exists(o.outputFolder, ec) && !fs::is_directory(o.outputFolder, ec)) {
    throw PathError(o.outputFolder, "Not a folder");
  }
  // Pictures written into the study would be taken for series next time.
  if (fs::equivalent(o.input, o.outputFolder, ec)) throw UsageError("--output " + o.outputFolder + " is the study itself");
  std::vector<LeftOutFile> leftOut;
  const std::vector<BatchSeries> all = listBatchSeries(o.input, o.outputFolder, o.merge.exclude, &leftOut);
  printLeftOut(leftOut, env.err());
  const std::string summary = summaryPath(o);

  // Every file of every series, the shard's or not, so that shards sharing
  // the folder never collide either.
  std::map<std::string, std::string> writer;
  std::vector<MergeOptions> mergeOptions;
  const auto claim = [&](const std::string& file, const std::string& who) {
    const std::string key = fs::absolute(file, ec).lexically_normal().string();
    const auto [it, fresh] = writer.emplace(key, who);
    if (!fresh) throw UsageError(it->second + " and " + who + " both write " + file);
  };
  claim(summary, "the summary");
  for (const BatchSeries& s : all) {
    mergeOptions.push_back(seriesMergeOptions(o, s));
    for (const std::string& f : seriesFiles(mergeOptions.back())) claim(f, "series '" + s.name + "'");
  }

  std::vector<std::size_t> chosen;
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (shardOf(all[i].name, shard.count) == shard.index) chosen.push_back(i);
  }

  fs::create_directories(o.outputFolder, ec);
  if (ec) throw PathError(o.outputFolder, ec.message());
  const std::string summaryProblem = outputProblem(summary);
  if (!summaryProblem.empty()) throw PathError(summary, summaryProblem);

  // Rows kept from the summary being resumed; the rest run, each row
  // found wanting named with its reason.
  std::vector<SummaryRow> rows(chosen.size());
  std::vector<std::size_t> toRun;
  const bool resume = o.resume && !o.force;
  const std::map<std::string, SummaryRow> previous = resume ? readSummary(summary) : std::map<std::string, SummaryRow>{};
  for (std::size_t k = 0; k < chosen.size(); ++k) {
    const std::size_t i = chosen[k];
    const auto it = previous.find(all[i].name);
    const std::string reason =
        it == previous.end() ? "new" : redoReason(it->second, mergeOptions[i], settingsOf(all[i], mergeOptions[i]));
    if (reason.empty()) {
      rows[k] = it->second;
      continue;
    }
    toRun.push_back(k);
    if (it != previous.end() && !o.quiet) env.err() << "batch: " << all[i].name << ": " << reason << ", merged again\n";
  }
  const int skipped = static_cast<int>(chosen.size() - toRun.size());

  SummaryFile summaryFile(summary, rows);
  const int cores = WorkerPool::availableCores();
  const int jobs = std::max(1, std::min(o.jobs > 0 ? o.jobs : cores, static_cast<int>(toRun.size())));
  const int threadsPerSeries = jobs > 1 ? std::max(1, cores / jobs) : 0;
  BatchProgress progress(env.err(), !o.quiet && env.errIsTerminal(), !o.quiet && o.progress,
                         static_cast<int>(toRun.size()));

  const StopOnSignal stop;
  std::atomic<std::size_t> next{0};
  std::atomic<int> finished{0};
  std::mutex failuresMutex;
  std::vector<std::pair<std::size_t, std::string>> failures;
  const auto work = [&] {
    while (!StopOnSignal::requested()) {
      const std::size_t t = next.fetch_add(1);
      if (t >= toRun.size()) return;
      const std::size_t k = toRun[t];
      const std::size_t i = chosen[k];
      MergeOptions m = mergeOptions[i];
      m.threads = threadsPerSeries;
      SummaryRow row = runSeries(all[i], m, env);
      // Memory stays bounded by the merges in flight.
      releaseFreedMemory();
      if (row.empty()) return;
      ++finished;
      progress.finished(row);
      if (row["status"] != "done") {
        std::lock_guard lock(failuresMutex);
        failures.emplace_back(k, row["error"]);
      }
      summaryFile.set(k, std::move(row));
    }
  };
  std::vector<std::thread> workers;
  for (int j = 1; j < jobs; ++j) workers.emplace_back(work);
  work();
  for (std::thread& w : workers) w.join();
  progress.end();
  summaryFile.finish();

  std::sort(failures.begin(), failures.end());
  for (const auto& [k, error] : failures) {
    env.err() << kProgram << ": series " << all[chosen[k]].name << ": " << error << '\n';
  }
  const int failed = static_cast<int>(failures.size());
  if (StopOnSignal::requested()) {
    // A merge stopped midway wrote nothing and has no row: it counts as not
    // started, and --resume takes it up.
    env.err() << kProgram << ": interrupted: " << finished - failed << " done, ";
    if (failed > 0) env.err() << failed << " failed, ";
    env.err() << static_cast<int>(toRun.size()) - finished << " not started\n";
    return StopOnSignal::exitStatus();
  }
  if (!o.quiet) {
    const int done = finished - failed;
    std::ostream& out = env.out();
    out << "Batch of " << chosen.size() << " series";
    if (shard.count > 1) out << " (shard " << shard.index << " of " << shard.count << ", of " << all.size() << " in all)";
    out << ": " << done << " done, " << failed << " failed";
    if (o.resume) out << ", " << skipped << " already done";
    out << ", in " << formatSeconds(seconds() - startTime) << " with " << jobs << (jobs == 1 ? " job" : " jobs")
        << ".\n";
    out << "Wrote " << summary << '\n';
  }
  return failures.empty() ? kExitOk : kExitFailed;
}

BatchCommand::BatchCommand(CLI::App& app) {
  command_ = app.add_subcommand("batch", "Merge every series of a folder or a manifest into one output folder");
  command_->description(
      "Merge every series of a folder or a manifest into one output folder, several at once.\n"
      "INPUT is a folder, whose sub-folders and image files (a multi-page TIFF, a\n"
      "multi-frame DICOM, ...) are the series, named after the sub-folder or the file\n"
      "without its extension; or a manifest: a CSV file with the columns name and inputs\n"
      "(separated by ';', relative to the manifest's folder) and optionally algorithm,\n"
      "scale, frames, reject, reference (first, auto or a number), lateral (yes or\n"
      "no) and denoise (none, default or a strength), which replace the options below\n"
      "for that row.\n"
      "Each series is merged exactly as 'merge' merges it, into OUTDIR/NAME.bmp (or .png,\n"
      ".tif) and the files asked for below. A failed series is reported and the batch goes\n"
      "on; the exit status is 1 when any failed. OUTDIR/summary.csv has one row per series:\n"
      "name, frames, frames_used, algorithm, seconds, the reference, frames_dropped, SNR,\n"
      "CNR and ENL when frame quality is measured or the speckle filter runs, the filter\n"
      "and its SNR, CNR and ENL after filtering, status (done or failed), error, and\n"
      "what decides the result: options and inputs (a fingerprint of the input files'\n"
      "names, sizes and times). --resume keeps only the rows these still match.\n"
      "Ctrl-C (or SIGTERM) stops the batch: the merges in flight stop, the summary keeps\n"
      "every series finished, and the exit status is 130 (143).\n"
      "--shard K/N (K from 0 to N-1) takes the series whose name hashes to K, the same on\n"
      "every machine; its summary is OUTDIR/summary-K-of-N.csv. See docs/scaling.md.");
  command_->add_option("INPUT", options_.input, "Folder of series, or manifest (.csv)")->required();
  command_->add_option("-o,--output", options_.outputFolder, "Output folder (made when missing)")->required();
  addMergeOptions(*command_, options_.merge);
  command_->add_option("--format", options_.format, "Format of the pictures")
      ->check(CLI::IsMember({"bmp", "png", "tif"}))
      ->capture_default_str();
  command_->add_flag("--grey", options_.grey, "Also write each uncoloured average, NAME_grey.EXT");
  command_->add_flag("--average", options_.average, "Also write each unrounded average, NAME_average.tif");
  command_->add_flag("--shifts", options_.shifts, "Also write each series' shifts, NAME_shifts.csv");
  command_->add_flag("--report", options_.report,
                     "Also write each series' frame quality report, NAME_report.json (docs/quality.md)");
  command_->add_option("-j,--jobs", options_.jobs, "Series merged at once (default: every core)")
      ->check(CLI::PositiveNumber);
  command_->add_flag("--resume", options_.resume,
                     "Keep the series the summary marks done with the same options from the same inputs whose "
                     "files are all there; merge the rest, naming why");
  command_->add_flag("--force", options_.force, "Merge every series again, even those --resume would keep");
  command_->add_option("--shard", options_.shard, "Take only shard K of N (K from 0): e.g. 3/10");
  command_->add_option("--summary", options_.summary,
                       "Summary file (default OUTDIR/summary.csv, OUTDIR/summary-K-of-N.csv with --shard)");
  command_->add_flag_callback(
      "--no-progress", [this] { options_.progress = false; }, "No line per series when stderr is not a terminal");
  command_->add_flag("-q,--quiet", options_.quiet, "No progress and no closing summary; failures are still named");
}

bool BatchCommand::chosen() const { return static_cast<bool>(*command_); }

}  // namespace lumifold
