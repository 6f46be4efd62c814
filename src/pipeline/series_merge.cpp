#include "pipeline/series_merge.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <new>
#include <stdexcept>
#include <utility>

#include "ipl/image_decoder.h"
#include "ipl/ipl_exception.h"
#include "merge/denoise/speckle_filter.h"
#include "merge/eight_bit_view.h"
#include "merge/frame_reader.h"
#include "pipeline/file_support.h"
#include "pipeline/frame_selection.h"
#include "pipeline/output_name.h"
#include "pipeline/picture_output.h"
#include "pipeline/quality_report.h"
#include "pipeline/safe_file.h"
#include "shell/merge_failure.h"

namespace lumifold {

namespace {

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

// Every output, named as it will be written, checked before any work.
void checkOutputs(MergePlan& plan, const MergeOptions& o) {
  checkOutputNames({{o.output, "--output"},
                    {o.grey, "--grey"},
                    {o.average, "--average"},
                    {o.shifts, "--shifts"},
                    {o.report, "--report"}});
  plan.output = outputPictureName(o.output);
  if (!o.grey.empty()) plan.grey = outputPictureName(o.grey);
  if (!o.average.empty()) plan.average = averageName(o.average);
  plan.shifts = o.shifts;
  plan.report = o.report;
  checkOutputFiles({{plan.output, "--output"},
                    {plan.grey, "--grey"},
                    {plan.average, "--average"},
                    {plan.shifts, "--shifts"},
                    {plan.report, "--report"}},
                   plan.paths);
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
    if (it == truth.end()) throw PathError(path, "No shifts for frame " + std::to_string(i) + " of the series");
    if (static_cast<int>(it->second.size()) != width) {
      throw PathError(path, "Frame " + std::to_string(i) + " has " + std::to_string(it->second.size()) +
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
  if (!unreadable.empty()) throw PathError(path, unreadable);
  velIPL::GImage image = readGrey(path);
  if (image.width() != size.width || image.height() != size.height) {
    throw PathError(path, "Image has not same dimensions as reference image");
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

// Passes the merge's progress on, keeping what the receiver throws (a
// user's cancel), so that it reaches the caller as it was thrown and not as
// a failure of the merge.
class KeptProgress : public MergeProgress {
public:
  explicit KeptProgress(MergeProgress* target) : target_(target) {}
  void start(int imageCount) override { forward([&] { target_->start(imageCount); }); }
  void step() override { forward([&] { target_->step(); }); }
  void rethrow() const {
    if (thrown_) std::rethrow_exception(thrown_);
  }

private:
  template <typename F>
  void forward(F&& call) {
    if (!target_) return;
    try {
      call();
    } catch (...) {
      thrown_ = std::current_exception();
      throw;
    }
  }
  MergeProgress* target_;
  std::exception_ptr thrown_;
};

}  // namespace

void checkOutputNames(const std::vector<NamedOutput>& outputs) {
  // A folder is never a file's name, whatever the extension rule makes of it.
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const NamedOutput& o = outputs[i];
    if (o.path.empty() && i > 0) continue;
    if (o.path.empty()) throw PathError(o.flag, "Missing output file name");
    if (o.path.back() == '/') throw PathError(o.path, "Missing output file name");
    if (std::filesystem::is_directory(o.path)) throw PathError(o.path, "Is a folder");
    if (std::string(o.flag) == "--report" && !replaceableReport(o.path)) {
      throw PathError(o.path, "Not a report this program wrote; left as it is (name another --report file)");
    }
  }
}

void checkOutputFiles(const std::vector<NamedOutput>& outputs, const std::vector<std::string>& inputs) {
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const NamedOutput& o = outputs[i];
    if (o.path.empty()) continue;
    for (std::size_t j = 0; j < i; ++j) {
      if (!outputs[j].path.empty() && sameFile(o.path, outputs[j].path)) {
        throw UsageError(std::string(outputs[j].flag) + " and " + o.flag + " both name " + o.path);
      }
    }
    for (const std::string& input : inputs) {
      if (sameFile(o.path, input)) throw UsageError(std::string(o.flag) + " " + o.path + " would overwrite an input image");
    }
    const std::string problem = outputProblem(o.path);
    if (!problem.empty()) throw PathError(o.path, problem);
  }
}

const RegistrationMethod& registrationFor(const std::string& key) {
  const RegistrationMethod* method = findRegistrationMethod(key);
  return method ? *method : kRegistrationMethods.front();
}

const ColorScale& colorScaleFor(const std::string& key) {
  const int index = colorScaleIndex(key);
  return kColorScales[static_cast<std::size_t>(index < 0 ? 0 : index)];
}

MergePlan checkMerge(const MergeOptions& o) {
  MergePlan plan;
  plan.paths = expandInputs(o.inputs, o.sort, o.exclude, &plan.leftOut);
  checkOutputs(plan, o);
  plan.size = checkSeries(plan.paths);
  // The reader takes files without pixels, but there is nothing to merge
  // or to write.
  if (plan.size.width == 0 || plan.size.height == 0) throw PathError(plan.paths.front(), "Empty image");
  listFrames(plan, o.frames);
  plan.reference = referenceIndex(plan, o.reference);
  if (!o.truth.empty()) plan.truth = checkedTruth(o.truth, plan.frameNumbers, plan.reference, plan.size.width);
  if (!o.noiseFree.empty()) plan.noiseFree = checkedNoiseFree(o.noiseFree, plan.size);
  return plan;
}

MergePlan planFrames(std::vector<MergeFrame> frames, std::vector<std::string> names, int width, int height,
                     const MergeOptions& o) {
  MergePlan plan;
  if (frames.empty() || names.size() != frames.size()) throw std::invalid_argument("planFrames: one name per frame");
  if (width == 0 || height == 0) throw PathError(names.front(), "Empty image");
  plan.size.width = width;
  plan.size.height = height;
  velIPL::ImageFileInfo info;
  std::string reason;
  if (!frames.front().inMemory() && velIPL::probeImageFile(frames.front().fileName(), info, reason)) {
    plan.size.bitsPerSample = info.bitsPerSample;
    plan.size.pixelSpacingX = info.pixelSpacingX;
    plan.size.pixelSpacingY = info.pixelSpacingY;
  }
  for (std::size_t i = 0; i < frames.size(); ++i) {
    plan.paths.push_back(frames[i].fileName());
    plan.size.frames.push_back(1);
    plan.frameNumbers.push_back(static_cast<int>(i));
    plan.framePaths.push_back(frames[i].fileName());
  }
  plan.frameNames = std::move(names);
  plan.frames = std::move(frames);
  plan.reference = referenceIndex(plan, o.reference);
  return plan;
}

PathError mergeFailureError(const MergePlan& plan, int currentImage, const std::string& message) {
  const MergeFailure failure =
      explainMergeFailure(plan.framePaths, currentImage, message, plan.size.width, plan.size.height);
  const std::size_t frame = static_cast<std::size_t>(failure.file);
  return PathError(plan.frameNames[static_cast<std::size_t>(plan.frameNumbers[frame])],
                  reasonFor(failure.reason, plan.framePaths[frame]));
}

double denoiseStrength(const std::string& text) {
  if (text.empty()) return -1.0;
  if (text == "default") return kSpeckleFilters[0].defaultStrength;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !(v >= 0.0 && v <= kMaxStrength)) {
    char limit[32];
    std::snprintf(limit, sizeof limit, "%g", kMaxStrength);
    throw std::invalid_argument("The speckle filter's strength is a number from 0 to " + std::string(limit) +
                                ", not '" + text + "'");
  }
  return v;
}

MergeOutcome mergeSeries(const MergePlan& plan, const MergeOptions& o, MergeProgress* progress) {
  MergeOutcome outcome;
  KeptProgress kept(progress);
  Merger merger(plan.frames, progress ? &kept : nullptr);
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
  const double strength = denoiseStrength(o.denoise);
  if (strength >= 0.0) merger.setSpeckleFilter(&kSpeckleFilters[0], strength);

  const double start = seconds();
  try {
    outcome.merged = registrationFor(o.algorithm).run(merger);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    kept.rethrow();
    throw mergeFailureError(plan, merger.currentImage(), e.what());
  }
  outcome.seconds = seconds() - start;
  // A reference replaced after the check merges at its new size, which
  // the truth and the noise-free section were checked against.
  if (outcome.merged.width() != plan.size.width || outcome.merged.height() != plan.size.height) {
    throw PathError(plan.framePaths.front(), kChangedSizeReason);
  }
  outcome.bitsPerSample = merger.bitsPerSample();
  if (merger.measured()) {
    outcome.measured = true;
    outcome.qualities = merger.frameQualities();
    outcome.reference = merger.referenceIndex();
    outcome.imageQuality = merger.imageQuality();
  }
  if (merger.speckleFilter()) {
    outcome.filtered = true;
    outcome.filterKey = merger.speckleFilter()->key;
    outcome.filterStrength = strength;
    outcome.filterFigures = merger.filterFigures();
  }
  if (outcome.bitsPerSample == 16) outcome.grey16 = merger.average16();
  if (!plan.average.empty() || o.keepAverage) outcome.average = merger.average();
  return outcome;
}

void writeMergeResults(const MergePlan& plan, const MergeOutcome& outcome, const MergeOptions& o) {
  const PixelSpacing spacing{plan.size.pixelSpacingX, plan.size.pixelSpacingY};
  writeColourPicture(ApplyColorScale(colorScaleFor(o.scale).build(), outcome.merged), plan.output, spacing);
  if (!plan.grey.empty()) {
    writeGreyPicture(outcome.merged, outcome.bitsPerSample == 16 ? &outcome.grey16 : nullptr, plan.grey, spacing);
  }
  if (!plan.average.empty()) writeAveragePicture(outcome.average, plan.average, spacing);
  if (!plan.shifts.empty()) writeFileSafely(plan.shifts, outcome.shifts.toCsv(plan.frameNames));
  if (!plan.report.empty()) writeFileSafely(plan.report, qualityReportJson(plan, outcome, o));
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
    throw PathError(name, reasonFor(e.what(), plan.framePaths[at]));
  }
}

// The frames that went into the average: all, less those rejection dropped.
int averagedFrames(const MergePlan& plan, const MergeOutcome& outcome) {
  int dropped = 0;
  for (const FrameQuality& q : outcome.qualities) dropped += q.dropped ? 1 : 0;
  return static_cast<int>(plan.frames.size()) - dropped;
}

}  // namespace lumifold
