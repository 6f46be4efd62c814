// lumifold._lumifold: the engine for Python, taking and giving numpy arrays.
// The package lumifold/__init__.py wraps these functions with the public
// names, docstrings and type hints, and turns what the caller passes into
// the plain lists this file takes.
//
// Failures become the exceptions a Python user expects: TypeError for a
// dtype the engine does not take, ValueError for wrong sizes and for files
// a decoder refuses ("PATH: reason"), OSError for files the system will not
// open or write, KeyboardInterrupt from Ctrl-C during a merge.
#include <fcntl.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "pipeline/path_error.h"
#include "pipeline/file_support.h"
#include "pipeline/input_list.h"
#include "pipeline/series_merge.h"
#include "pipeline/volume_merge.h"
#include "pipeline/picture_output.h"
#include "color/color_scales.h"
#include "ipl/image_decoder.h"
#include "ipl/images.h"
#include "ipl/ipl_exception.h"
#include "merge/denoise/speckle_filter.h"
#include "merge/merge_frame.h"
#include "merge/merge_progress.h"
#include "merge/merger.h"
#include "merge/registration_methods.h"
#include "shell/merge_failure.h"
#include "shell/own_outputs.h"
#include "sim/bscan_simulator.h"

namespace py = pybind11;

namespace lumifold {

namespace {

// A failure tied to a file, raised as OSError (with the errno when there is
// one, so that Python picks FileNotFoundError, PermissionError, ...) or as
// ValueError("PATH: reason").
struct FileError {
  enum class Kind { os, value };
  Kind kind;
  std::string path;
  std::string reason;
  int error = 0;
};

[[noreturn]] void raiseValue(const std::string& path, const std::string& reason) {
  throw FileError{FileError::Kind::value, path, reason, 0};
}

// Why the system will not let path be read, as an OSError; nothing when it
// can be. Folders pass when allowed.
void requireReadable(const std::string& path, bool folderAllowed) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    const int error = errno;
    throw FileError{FileError::Kind::os, path, velIPL::systemErrorText(error), error};
  }
  if (S_ISDIR(st.st_mode)) {
    if (folderAllowed) return;
    throw FileError{FileError::Kind::os, path, "Is a folder", EISDIR};
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    throw FileError{FileError::Kind::os, path, velIPL::systemErrorText(error), error};
  }
  ::close(fd);
}

// A file named by the command line's helpers: OSError when the system will
// not open it, ValueError with the helper's reason otherwise.
[[noreturn]] void raiseForFile(const std::string& path, const std::string& reason) {
  requireReadable(path, true);
  raiseValue(path, reason);
}

// The depth of a frame array: 8 or 16; TypeError for anything else. index
// names the frame in the message, -1 for a lone image.
int depthOf(const py::array& a, const char* what, int index) {
  const py::dtype dt = a.dtype();
  if (dt.kind() == 'u' && (dt.itemsize() == 1 || dt.itemsize() == 2)) return dt.itemsize() == 1 ? 8 : 16;
  std::string message = what;
  if (index >= 0) message += " " + std::to_string(index);
  message += " has dtype " + dt.attr("name").cast<std::string>() + "; lumifold takes uint8 or uint16";
  throw py::type_error(message);
}

// A 2-D array of native T copied into an image, row by row where rows are
// contiguous; any strides are accepted.
template <typename Image, typename T>
Image imageFrom(const py::array& a) {
  const auto h = static_cast<int>(a.shape(0));
  const auto w = static_cast<int>(a.shape(1));
  Image image(w, h, T{});
  const auto* base = static_cast<const unsigned char*>(a.data());
  const py::ssize_t rowStride = a.strides(0);
  const py::ssize_t columnStride = a.strides(1);
  for (int y = 0; y < h; ++y) {
    const unsigned char* row = base + static_cast<py::ssize_t>(y) * rowStride;
    T* out = image.row(y);
    if (columnStride == static_cast<py::ssize_t>(sizeof(T))) {
      std::memcpy(out, row, static_cast<std::size_t>(w) * sizeof(T));
    } else {
      for (int x = 0; x < w; ++x) std::memcpy(out + x, row + static_cast<py::ssize_t>(x) * columnStride, sizeof(T));
    }
  }
  return image;
}

// The array in native byte order (a copy only when it is not).
py::array nativeOrder(const py::array& a) {
  if (a.dtype().attr("isnative").cast<bool>()) return a;
  return a.attr("astype")(a.dtype().attr("newbyteorder")("="));
}

template <typename T, typename Image>
py::array_t<T> arrayFrom(const Image& image) {
  py::array_t<T> out({static_cast<py::ssize_t>(image.height()), static_cast<py::ssize_t>(image.width())});
  auto view = out.template mutable_unchecked<2>();
  for (int y = 0; y < image.height(); ++y) {
    const auto* row = image.row(y);
    for (int x = 0; x < image.width(); ++x) view(y, x) = static_cast<T>(row[x]);
  }
  return out;
}

// The progress of one merge: the caller's callable, if any, and Ctrl-C,
// both checked with the GIL held after every step. A Python exception
// (KeyboardInterrupt included) is kept and ends the merge by the throw the
// engine lets through; merge() raises it once the engine has unwound.
class PythonProgress : public MergeProgress {
public:
  struct Stopped {};

  explicit PythonProgress(py::object callback) : callback_(std::move(callback)) {}

  void start(int imageCount) override {
    total_ = imageCount;
    done_ = 0;
  }

  void step() override {
    ++done_;
    py::gil_scoped_acquire gil;
    try {
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
      if (!callback_.is_none()) callback_(done_, total_);
    } catch (py::error_already_set& e) {
      error_.emplace(std::move(e));
      throw Stopped{};
    }
  }

  // Raises the kept exception, if any.
  void raiseKept() {
    if (error_) {
      py::error_already_set e = std::move(*error_);
      error_.reset();
      throw e;
    }
  }

private:
  py::object callback_;
  int total_ = 0;
  int done_ = 0;
  std::optional<py::error_already_set> error_;
};

const RegistrationMethod& methodFor(const std::string& algorithm) {
  const RegistrationMethod* method = findRegistrationMethod(algorithm);
  if (!method) {
    std::string keys;
    for (const RegistrationMethod& m : kRegistrationMethods) keys += std::string(keys.empty() ? "" : ", ") + m.key;
    throw py::value_error("unknown algorithm '" + algorithm + "'; one of: " + keys);
  }
  return *method;
}

// What merge() asks beyond a plain merge (docs/quality.md): frame quality
// measured, and the options that use it. reference is the reference's index,
// or Merger::kAutoReference.
struct QualityRequest {
  bool measure = false;
  bool reject = false;
  int reference = 0;
  bool lateral = false;
};

QualityRequest qualityRequest(bool quality, const std::string& reject, py::object reference, bool lateral,
                              std::size_t count) {
  QualityRequest q;
  if (reject != "none" && reject != "auto") throw py::value_error("reject is 'none' or 'auto', not '" + reject + "'");
  q.reject = reject == "auto";
  q.lateral = lateral;
  if (py::isinstance<py::str>(reference)) {
    const std::string text = reference.cast<std::string>();
    if (text != "auto") throw py::value_error("reference is 'auto', a frame index or None, not '" + text + "'");
    q.reference = Merger::kAutoReference;
  } else if (!reference.is_none()) {
    if (py::isinstance<py::bool_>(reference) || !py::isinstance<py::int_>(reference)) {
      throw py::type_error("reference is 'auto', a frame index or None");
    }
    const long long index = reference.cast<long long>();
    if (index < 0 || index >= static_cast<long long>(count)) {
      throw py::value_error("reference " + std::to_string(index) + " is not a frame of the " + std::to_string(count) +
                            " merged");
    }
    q.reference = static_cast<int>(index);
  }
  q.measure = quality || q.reject || q.reference != 0 || q.lateral;
  return q;
}

py::dict figuresDict(const lumifold::QualityFigures& f) {
  py::dict d;
  d["snrDb"] = f.snrDb;
  d["cnr"] = f.cnr;
  d["enl"] = f.enl;
  d["tissueMean"] = f.tissueMean;
  d["tissueDeviation"] = f.tissueDeviation;
  d["backgroundMean"] = f.backgroundMean;
  d["backgroundDeviation"] = f.backgroundDeviation;
  return d;
}

// The measures and figures of a merge that measured, into the result, with
// the keys of the JSON report (--report), so that one reader serves both.
void addQuality(py::dict& result, const std::vector<FrameQuality>& qualities, int reference,
                const ImageQuality& iq, std::size_t count) {
  py::list frames;
  py::list dropped;
  py::array_t<std::int32_t> lateral(static_cast<py::ssize_t>(count));
  std::fill(lateral.mutable_data(), lateral.mutable_data() + count, 0);
  for (const lumifold::FrameQuality& q : qualities) {
    py::dict d;
    d["frame"] = q.frame;
    d["kept"] = !q.dropped;
    d["reason"] = q.dropped ? py::object(py::str(q.reason)) : py::object(py::none());
    d["correlation"] = q.correlation;
    d["profileCorrelation"] = q.profileCorrelation;
    d["relativeIntensity"] = q.relativeIntensity;
    d["weakestBand"] = q.weakestBand;
    d["keptShare"] = q.keptShare;
    d["peakRatio"] = q.peakRatio;
    d["edgeShare"] = q.edgeShare;
    d["replacedShare"] = q.replacedShare;
    d["lateralShift"] = q.lateralShift;
    d["lateralConfidence"] = q.lateralConfidence;
    d["lateralEstimate"] = q.lateralEstimate;
    d["structureCorrelation"] = q.structureCorrelation;
    d["weakestBandCorrelation"] = q.weakestBandCorrelation;
    frames.append(d);
    if (q.dropped) dropped.append(q.frame);
    lateral.mutable_data()[q.frame] = q.lateralShift;
  }
  result["frame_quality"] = py::tuple(frames);
  result["dropped"] = py::tuple(dropped);
  result["reference"] = reference;
  result["lateral_shifts"] = lateral;
  py::dict figures;
  figures["average"] = figuresDict(iq.average);
  figures["reference"] = figuresDict(iq.reference);
  figures["snrGainDb"] = iq.snrGainDb;
  int withEdge = 0;
  for (const int e : iq.regions.edges) withEdge += e >= 0 ? 1 : 0;
  py::dict regions;
  regions["edgeThreshold"] = iq.regions.edgeThreshold;
  regions["columnsWithEdge"] = withEdge;
  regions["backgroundGapRows"] = iq.regions.backgroundGap;
  regions["backgroundPixels"] = iq.regions.backgroundPixels;
  regions["tissueBandRows"] = iq.regions.bandRows;
  regions["tissuePixels"] = iq.regions.tissuePixels;
  regions["homogeneousPixels"] = iq.regions.homogeneousPixels;
  figures["regions"] = regions;
  result["image_quality"] = figures;
}

// Runs the merge without the GIL and gathers what the result holds. Engine
// failures go to onFailure(currentImage, message), which raises.
// The strength --denoise's text asks for (below 0: none), or ValueError.
double filterStrength(const std::string& denoise) {
  try {
    return lumifold::denoiseStrength(denoise);
  } catch (const std::invalid_argument& e) {
    throw py::value_error(e.what());
  }
}

// The speckle filter's strength and figures, into the result.
void addFilter(py::dict& result, const std::string& key, double strength, const Merger::FilterFigures& f) {
  py::dict d;
  d["filter"] = key;
  d["strength"] = strength;
  d["frameNoise"] = f.frameNoise;
  d["before"] = figuresDict(f.before);
  d["after"] = figuresDict(f.after);
  result["speckle_filter"] = d;
}

template <typename OnFailure>
py::dict runMerge(std::vector<MergeFrame> frames, int width, const std::string& algorithm, py::object callback,
                  const QualityRequest& quality, double denoise, OnFailure onFailure) {
  const RegistrationMethod& method = methodFor(algorithm);
  const std::size_t count = frames.size();
  PythonProgress progress(std::move(callback));
  Merger merger(std::move(frames), &progress);
  if (denoise >= 0.0) merger.setSpeckleFilter(&lumifold::kSpeckleFilters[0], denoise);
  if (quality.measure) {
    Merger::QualityOptions options;
    options.reject = quality.reject;
    options.reference = quality.reference;
    options.lateral = quality.lateral;
    merger.setQualityOptions(options);
    merger.setQualityObserver([](const lumifold::FrameQuality&) {});
  }
  std::vector<std::int32_t> shifts((count - 1) * static_cast<std::size_t>(width), 0);
  bool sizeChanged = false;
  // Each frame but the reference has its row, in list order; the reference
  // is frame 0 unless chosen otherwise.
  int reference = quality.reference;
  merger.setShiftObserver([&](int index, const mathORN::RowVector& s) {
    if (reference == Merger::kAutoReference) reference = merger.referenceIndex();
    if (index < 0 || index == reference || static_cast<std::size_t>(index) >= count ||
        static_cast<int>(s.size()) != width) {
      sizeChanged = true;
      return;
    }
    const std::size_t rowIndex = static_cast<std::size_t>(index < reference ? index : index - 1);
    std::int32_t* row = shifts.data() + rowIndex * static_cast<std::size_t>(width);
    for (int x = 0; x < width; ++x) row[x] = static_cast<std::int32_t>(s[x]);
  });

  velIPL::GImage merged;
  bool stopped = false;
  std::string failure;
  {
    py::gil_scoped_release release;
    try {
      merged = method.run(merger);
    } catch (const PythonProgress::Stopped&) {
      stopped = true;
    } catch (const std::bad_alloc&) {
      throw;
    } catch (const std::exception& e) {
      failure = e.what();
    }
  }
  if (stopped) progress.raiseKept();
  // A file replaced since it was checked merges at its new size.
  if (failure.empty() && merged.width() != width) sizeChanged = true;
  if (!failure.empty() || sizeChanged) onFailure(merger.currentImage(), failure.empty() ? kChangedSizeReason : failure);

  py::dict result;
  result["bits"] = merger.bitsPerSample();
  result["grey8"] = arrayFrom<std::uint8_t>(merged);
  if (merger.bitsPerSample() == 16) {
    result["grey"] = arrayFrom<std::uint16_t>(merger.average16());
  } else {
    result["grey"] = result["grey8"];
  }
  result["average"] = arrayFrom<float>(merger.average());
  py::array_t<std::int32_t> shiftArray({static_cast<py::ssize_t>(count - 1), static_cast<py::ssize_t>(width)});
  if (!shifts.empty()) std::memcpy(shiftArray.mutable_data(), shifts.data(), shifts.size() * sizeof(std::int32_t));
  result["shifts"] = shiftArray;
  result["algorithm"] = method.key;
  result["spacing"] = py::none();
  if (quality.measure) {
    addQuality(result, merger.frameQualities(), merger.referenceIndex(), merger.imageQuality(), count);
  }
  if (merger.speckleFilter()) {
    addFilter(result, merger.speckleFilter()->key, merger.speckleStrength(), merger.filterFigures());
  }
  return result;
}

// frames: 2-D arrays of one size and depth, checked here and lent to the
// engine, which copies each one when it reaches it; lent keeps them (a
// native-order copy where the caller's is not) alive until the merges end.
// size receives their width, height and depth.
std::vector<MergeFrame> lendFrames(const std::vector<py::array>& frames, std::vector<py::array>& lent,
                                   SeriesSize& size) {
  std::vector<MergeFrame> list;
  list.reserve(frames.size());
  lent.reserve(frames.size());
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const int index = static_cast<int>(i);
    const py::array& a = lent.emplace_back(nativeOrder(frames[i]));
    if (a.ndim() != 2) {
      throw py::value_error("frame " + std::to_string(index) + " has " + std::to_string(a.ndim()) +
                            " dimensions; a frame is 2-D (height, width)");
    }
    const int bits = depthOf(a, "frame", index);
    if (i == 0) {
      if (a.shape(0) == 0 || a.shape(1) == 0) throw py::value_error("frame 0 is empty");
      if (a.shape(0) > 1 << 20 || a.shape(1) > 1 << 20) throw py::value_error("frame 0 is too large");
      size.bitsPerSample = bits;
      size.height = static_cast<int>(a.shape(0));
      size.width = static_cast<int>(a.shape(1));
    } else if (a.shape(0) != size.height || a.shape(1) != size.width) {
      throw py::value_error("frame " + std::to_string(index) + " is " + std::to_string(a.shape(0)) + " x " +
                            std::to_string(a.shape(1)) + " (height x width), frame 0 " + std::to_string(size.height) +
                            " x " + std::to_string(size.width));
    } else if (bits != size.bitsPerSample) {
      throw py::type_error("frame " + std::to_string(index) + " is " + std::to_string(bits) + "-bit, frame 0 " +
                           std::to_string(size.bitsPerSample) + "-bit");
    }
    MergeFrame::Borrowed borrowed;
    borrowed.pixels = static_cast<const unsigned char*>(a.data());
    borrowed.width = size.width;
    borrowed.height = size.height;
    borrowed.rowStride = a.strides(0);
    borrowed.sampleStride = a.strides(1);
    borrowed.bitsPerSample = bits;
    list.emplace_back(borrowed);
  }
  return list;
}

// frames: 2-D arrays (see lendFrames).
py::dict mergeArrays(const std::vector<py::array>& frames, const std::string& algorithm, py::object progress,
                     bool quality, const std::string& reject, py::object reference, bool lateral,
                     const std::string& denoise) {
  if (frames.empty()) throw py::value_error("merge needs at least one frame, got none");
  methodFor(algorithm);
  const double strength = filterStrength(denoise);
  const QualityRequest request = qualityRequest(quality, reject, reference, lateral, frames.size());
  // The arrays lent, alive until the merge ends (a native-order copy where
  // the caller's is not).
  std::vector<py::array> lent;
  SeriesSize size;
  std::vector<MergeFrame> list = lendFrames(frames, lent, size);
  return runMerge(std::move(list), size.width, algorithm, std::move(progress), request, strength,
                  [](int current, const std::string& message) {
                    throw py::value_error("frame " + std::to_string(current) + ": " + message);
                  });
}

// (millimetres per column, per row), or None where the file states none.
py::object spacingOf(double x, double y) {
  if (x <= 0.0 && y <= 0.0) return py::none();
  return py::make_tuple(x, y);
}

// The command line's series: inputs expanded (folders in its order, without
// this program's own pictures, each left out with a warning), every file
// checked, every frame of every file listed.
MergePlan planSeries(const std::vector<std::string>& inputs, bool sort) {
  MergePlan plan;
  for (const std::string& input : inputs) requireReadable(input, true);
  try {
    plan.paths = expandInputs(inputs, sort, {}, &plan.leftOut);
    for (const LeftOutFile& f : plan.leftOut) {
      py::module_::import("warnings").attr("warn")("left out " + f.path + ": " + f.reason);
    }
    // The reference's own reason, where checkSeries says only that it is
    // not valid.
    if (!plan.paths.empty()) {
      velIPL::ImageFileInfo info;
      std::string message;
      requireReadable(plan.paths.front(), false);
      if (!velIPL::probeImageFile(plan.paths.front(), info, message)) raiseValue(plan.paths.front(), message);
    }
    plan.size = checkSeries(plan.paths);
  } catch (const PathError& e) {
    raiseForFile(e.path(), e.what());
  }
  if (plan.paths.empty()) throw py::value_error("no files given");
  if (plan.size.width == 0 || plan.size.height == 0) raiseValue(plan.paths.front(), "Empty image");
  for (std::size_t f = 0; f < plan.paths.size(); ++f) {
    const int frames = plan.size.frames[f];
    for (int k = 0; k < frames; ++k) {
      const int number = static_cast<int>(plan.frameNames.size());
      plan.frameNames.push_back(frames == 1 ? plan.paths[f]
                                            : plan.paths[f] + " [frame " + std::to_string(k + 1) + " of " +
                                                  std::to_string(frames) + "]");
      plan.frames.emplace_back(plan.paths[f], k);
      plan.frameNumbers.push_back(number);
      plan.framePaths.push_back(plan.paths[f]);
    }
  }
  return plan;
}

py::dict mergeFiles(const std::vector<std::string>& inputs, const std::string& algorithm, py::object progress,
                    bool sort, bool quality, const std::string& reject, py::object reference, bool lateral,
                    const std::string& denoise) {
  if (inputs.empty()) throw py::value_error("merge needs at least one frame, got none");
  methodFor(algorithm);
  const double strength = filterStrength(denoise);
  const MergePlan plan = planSeries(inputs, sort);
  const QualityRequest request = qualityRequest(quality, reject, reference, lateral, plan.frames.size());
  py::dict result = runMerge(plan.frames, plan.size.width, algorithm, std::move(progress), request, strength,
                             [&](int current, const std::string& message) {
                               const PathError e = mergeFailureError(plan, current < 0 ? 0 : current, message);
                               const std::string& path =
                                   plan.framePaths[static_cast<std::size_t>(current < 0 ? 0 : current)];
                               requireReadable(path, false);
                               raiseValue(e.path(), e.what());
                             });
  result["spacing"] = spacingOf(plan.size.pixelSpacingX, plan.size.pixelSpacingY);
  return result;
}

// Every frame of the planned files into one (n, height, width) array.
py::array readPlanned(const MergePlan& plan) {
  const auto n = static_cast<py::ssize_t>(plan.frames.size());
  const auto h = static_cast<py::ssize_t>(plan.size.height);
  const auto w = static_cast<py::ssize_t>(plan.size.width);
  const bool deep = plan.size.bitsPerSample == 16;
  py::array out = deep ? py::array(py::array_t<std::uint16_t>({n, h, w})) : py::array(py::array_t<std::uint8_t>({n, h, w}));
  auto* data = static_cast<unsigned char*>(out.mutable_data());
  const std::size_t sample = deep ? 2 : 1;
  const std::size_t frameBytes = static_cast<std::size_t>(h * w) * sample;
  std::string failedPath, failure;
  int systemError = 0;
  {
    py::gil_scoped_release release;
    std::string openName;
    std::unique_ptr<velIPL::ImageFile> file;
    velIPL::GImage grey;
    velIPL::G16Image full;
    for (py::ssize_t i = 0; i < n && failure.empty(); ++i) {
      const MergeFrame& frame = plan.frames[static_cast<std::size_t>(i)];
      try {
        if (!file || openName != frame.fileName()) {
          file.reset();
          file = velIPL::decoderFor(frame.fileName()).open(frame.fileName());
          openName = frame.fileName();
          const velIPL::ImageFileInfo& info = file->info();
          if (info.width != plan.size.width || info.height != plan.size.height) {
            throw velIPL::IPLException("Image has not same dimensions as reference image");
          }
          if (info.bitsPerSample != plan.size.bitsPerSample) {
            throw velIPL::IPLException("Image has not same bit depth as reference image");
          }
        }
        unsigned char* target = data + static_cast<std::size_t>(i) * frameBytes;
        const std::size_t rowBytes = static_cast<std::size_t>(w) * sample;
        if (deep) {
          file->readFrame(frame.frameIndex(), full);
          for (py::ssize_t y = 0; y < h; ++y) std::memcpy(target + y * rowBytes, full.row(static_cast<int>(y)), rowBytes);
        } else {
          file->readFrame(frame.frameIndex(), grey);
          for (py::ssize_t y = 0; y < h; ++y) std::memcpy(target + y * rowBytes, grey.row(static_cast<int>(y)), rowBytes);
        }
      } catch (const velIPL::IPLException& e) {
        failedPath = frame.fileName();
        failure = reasonFor(e.what(), failedPath);
        systemError = e.systemError();
      }
    }
  }
  if (!failure.empty()) {
    if (systemError != 0) throw FileError{FileError::Kind::os, failedPath, failure, systemError};
    raiseForFile(failedPath, failure);
  }
  return out;
}

py::array readSeries(const std::vector<std::string>& inputs, bool sort) {
  if (inputs.empty()) throw py::value_error("read_series needs at least one file or folder, got none");
  return readPlanned(planSeries(inputs, sort));
}

// What a file holds, as far as its headers tell (inspectImageFile).
velIPL::ImageFileInfo inspected(const std::string& path) {
  requireReadable(path, false);
  velIPL::ImageFileInfo info;
  std::string message = "Unknown error";
  if (!velIPL::inspectImageFile(path, info, message)) raiseForFile(path, message);
  return info;
}

// Every page of a floating-point TIFF as (n, height, width) float32.
py::array readValues(const std::string& path, const velIPL::ImageFileInfo& info) {
  const auto n = static_cast<py::ssize_t>(info.frames);
  const auto h = static_cast<py::ssize_t>(info.height);
  const auto w = static_cast<py::ssize_t>(info.width);
  py::array_t<float> out({n, h, w});
  float* data = out.mutable_data();
  try {
    const std::unique_ptr<velIPL::ImageFile> file = velIPL::decoderFor(path).open(path);
    velIPL::DImage values;
    for (py::ssize_t i = 0; i < n; ++i) {
      file->readFrame(static_cast<int>(i), values);
      if (values.width() != w || values.height() != h) throw velIPL::IPLException(kChangedSizeReason);
      for (py::ssize_t y = 0; y < h; ++y) {
        const double* row = values.row(static_cast<int>(y));
        for (py::ssize_t x = 0; x < w; ++x) data[(i * h + y) * w + x] = static_cast<float>(row[x]);
      }
    }
  } catch (const velIPL::IPLException& e) {
    raiseForFile(path, reasonFor(e.what(), path));
  }
  return out;
}

py::array readFile(const std::string& path) {
  const velIPL::ImageFileInfo info = inspected(path);
  if (info.floatingPoint) return readValues(path, info);
  return readPlanned(planSeries({path}, false));
}

py::dict probeFile(const std::string& path) {
  const velIPL::ImageFileInfo info = inspected(path);
  py::dict d;
  d["format"] = info.format;
  d["width"] = info.width;
  d["height"] = info.height;
  d["frames"] = info.frames;
  d["bits"] = info.bitsPerSample;
  d["significant_bits"] = info.significantBits;
  d["colour"] = info.samplesPerPixel == 3;
  d["floating_point"] = info.floatingPoint;
  d["spacing"] = spacingOf(info.pixelSpacingX, info.pixelSpacingY);
  d["modality"] = info.modality.empty() ? py::object(py::none()) : py::object(py::str(info.modality));
  d["software"] = info.software.empty() ? py::object(py::none()) : py::object(py::str(info.software));
  return d;
}

velIPL::RGBImage rgbFrom(const py::array& a) {
  const auto h = static_cast<int>(a.shape(0));
  const auto w = static_cast<int>(a.shape(1));
  velIPL::RGBImage image(w, h, 0);
  const auto* base = static_cast<const unsigned char*>(a.data());
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < h; ++y) {
      unsigned char* out = image.row(y, c);
      for (int x = 0; x < w; ++x) out[x] = base[y * a.strides(0) + x * a.strides(1) + c * a.strides(2)];
    }
  }
  return image;
}

py::array_t<std::uint8_t> interleaved(const velIPL::RGBImage& image) {
  const auto h = static_cast<py::ssize_t>(image.height());
  const auto w = static_cast<py::ssize_t>(image.width());
  py::array_t<std::uint8_t> out({h, w, static_cast<py::ssize_t>(3)});
  auto view = out.mutable_unchecked<3>();
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < h; ++y) {
      const unsigned char* row = image.row(y, c);
      for (int x = 0; x < w; ++x) view(y, x, c) = row[x];
    }
  }
  return out;
}

const ColorScale& scaleFor(const std::string& key) {
  const int index = colorScaleIndex(key);
  if (index < 0) {
    std::string keys;
    for (const ColorScale& s : kColorScales) keys += std::string(keys.empty() ? "" : ", ") + s.key;
    throw py::value_error("unknown colour scale '" + key + "'; one of: " + keys);
  }
  return kColorScales[static_cast<std::size_t>(index)];
}

// A 2-D uint8 grey image, or TypeError/ValueError saying what it is not.
py::array greyArgument(const py::array& given, const char* function) {
  const py::array a = nativeOrder(given);
  if (a.ndim() != 2) {
    throw py::value_error(std::string(function) + " takes a 2-D grey image (height, width), got " +
                          std::to_string(a.ndim()) + " dimensions");
  }
  return a;
}

py::array colorize(const py::array& given, const std::string& scale) {
  const ColorScale& entry = scaleFor(scale);
  const py::array a = greyArgument(given, "colorize");
  if (depthOf(a, "image", -1) != 8) {
    throw py::type_error("colorize takes uint8 grey; a 16-bit merge's 8-bit image is result.grey8");
  }
  const velIPL::GImage grey = imageFrom<velIPL::GImage, std::uint8_t>(a);
  return interleaved(ApplyColorScale(entry.build(), grey));
}

std::string lowerExtension(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
  return ext;
}

// Writes image to path in the format of its extension, with the command
// line's writers: 2-D uint8 or uint16 grey as --grey writes it, (h, w, 3)
// uint8 colour as --output, 2-D float as --average.
// A (P, H, W) uint8 or uint16 volume as the stack `volume` writes.
void writeVolume(const std::string& path, const py::array& given, double x, double z, double y) {
  const py::array a = nativeOrder(given);
  if (a.ndim() != 3 || a.shape(0) == 0 || a.shape(1) == 0 || a.shape(2) == 0) {
    throw py::value_error("write: a volume is a non-empty (positions, height, width) array");
  }
  const auto page = [&](py::ssize_t p) { return a[py::make_tuple(p, py::ellipsis())].cast<py::array>(); };
  try {
    if (depthOf(a, "volume", -1) == 8) {
      std::vector<velIPL::GImage> pages;
      for (py::ssize_t p = 0; p < a.shape(0); ++p) pages.push_back(imageFrom<velIPL::GImage, std::uint8_t>(page(p)));
      writeVolumeStack(pages, path, x, z, y);
    } else {
      std::vector<velIPL::G16Image> pages;
      for (py::ssize_t p = 0; p < a.shape(0); ++p) pages.push_back(imageFrom<velIPL::G16Image, std::uint16_t>(page(p)));
      writeVolumeStack(pages, path, x, z, y);
    }
  } catch (const PathError& e) {
    throw FileError{FileError::Kind::os, e.path(), e.what(), 0};
  }
}

// The options merge_volume() passes, as VolumeOptions; ValueError for an
// algorithm or a strength the engine does not know.
struct VolumeRequest {
  int repeats = 0;
  int positions = 0;
  std::string layout;
  std::string algorithm;
  std::string reject;
  py::object reference;
  bool lateral = false;
  bool quality = false;
  std::string denoise;
  std::string positionRange;
  bool align = false;
  bool sideways = false;
  std::string slab;
};

VolumeOptions volumeOptions(const VolumeRequest& r) {
  methodFor(r.algorithm);
  filterStrength(r.denoise);
  const std::optional<VolumeLayout> layout = volumeLayoutFromName(r.layout);
  if (!layout) throw py::value_error("layout is 'grouped', 'interleaved' or 'per-file', not '" + r.layout + "'");
  VolumeOptions o;
  o.repeats = r.repeats;
  o.positions = r.positions;
  o.layout = *layout;
  o.merge.algorithm = r.algorithm;
  o.merge.reject = r.reject;
  if (py::isinstance<py::str>(r.reference)) {
    o.merge.reference = r.reference.cast<std::string>();
  } else if (!r.reference.is_none()) {
    o.merge.reference = std::to_string(r.reference.cast<long long>());
  }
  o.merge.lateral = r.lateral;
  o.merge.quality = r.quality;
  o.merge.keepAverage = true;
  o.merge.denoise = r.denoise;
  o.positionRange = r.positionRange;
  o.alignPositions = r.align || r.sideways;
  o.alignSideways = r.sideways;
  o.slab = r.slab;
  return o;
}

// A usage message in the words of merge_volume()'s arguments.
std::string pythonWords(std::string text) {
  const std::pair<const char*, const char*> words[] = {{"--positions-range", "position_range"},
                                                       {"--reference", "reference"},
                                                       {"--slab", "slab"},
                                                       {"--repeats R or --positions P", "repeats or positions"}};
  for (const auto& [flag, word] : words) {
    for (std::size_t at; (at = text.find(flag)) != std::string::npos;) text.replace(at, std::strlen(flag), word);
  }
  return text;
}

// (millimetres per column, per row, between positions), each None where
// unknown.
py::tuple volumeSpacing(const VolumePlan& plan) {
  const auto known = [](double v) { return v > 0.0 ? py::object(py::float_(v)) : py::object(py::none()); };
  return py::make_tuple(known(plan.spacingX), known(plan.spacingZ), known(plan.spacingY));
}

// One position's outcome as merge() gives its result.
py::dict positionResult(const MergePlan& plan, const MergeOutcome& outcome, const std::string& algorithm,
                        py::object spacing) {
  py::dict result;
  result["bits"] = outcome.bitsPerSample;
  result["grey8"] = arrayFrom<std::uint8_t>(outcome.merged);
  result["grey"] = outcome.bitsPerSample == 16 ? py::object(arrayFrom<std::uint16_t>(outcome.grey16))
                                               : py::object(result["grey8"]);
  result["average"] = arrayFrom<float>(outcome.average);
  // A row for every frame but the reference, in order, as merge() gives.
  const std::size_t count = plan.frames.size();
  const int reference = outcome.measured ? outcome.reference : plan.reference;
  const auto width = static_cast<py::ssize_t>(plan.size.width);
  py::array_t<std::int32_t> shifts({static_cast<py::ssize_t>(count - 1), width});
  std::int32_t* row = shifts.mutable_data();
  for (std::size_t i = 0; i < count; ++i) {
    if (static_cast<int>(i) == reference) continue;
    const std::vector<int>* found = outcome.shifts.shiftsOf(plan.frameNumbers[i]);
    for (py::ssize_t x = 0; x < width; ++x) {
      row[x] = found && static_cast<py::ssize_t>(found->size()) == width ? (*found)[static_cast<std::size_t>(x)] : 0;
    }
    row += width;
  }
  result["shifts"] = shifts;
  result["algorithm"] = registrationFor(algorithm).key;
  result["spacing"] = spacing;
  if (outcome.measured) addQuality(result, outcome.qualities, outcome.reference, outcome.imageQuality, count);
  if (outcome.filtered) addFilter(result, outcome.filterKey, outcome.filterStrength, outcome.filterFigures);
  return result;
}

template <typename T, typename Image>
py::array stackOf(const std::vector<Image>& pages) {
  const auto h = static_cast<py::ssize_t>(pages.front().height());
  const auto w = static_cast<py::ssize_t>(pages.front().width());
  py::array_t<T> out({static_cast<py::ssize_t>(pages.size()), h, w});
  T* data = out.mutable_data();
  for (const Image& page : pages) {
    for (py::ssize_t y = 0; y < h; ++y, data += w) {
      const auto* row = page.row(static_cast<int>(y));
      std::copy(row, row + w, data);
    }
  }
  return out;
}

template <typename T, typename Image>
py::array enfaceOf(const std::vector<Image>& pages, int top, int bottom) {
  const auto w = static_cast<py::ssize_t>(pages.front().width());
  py::array_t<T> out({static_cast<py::ssize_t>(pages.size()), w});
  T* data = out.mutable_data();
  for (const Image& page : pages) {
    for (const unsigned v : columnMeans(page, top, bottom)) *data++ = static_cast<T>(v);
  }
  return out;
}

// Runs the planned volume through the pipeline's mergeVolume without the
// GIL: every position's result as merge() gives it, the pages aligned
// where asked, the stack and the en-face view as `volume` writes them.
// progress(done, total) after each position; Ctrl-C stops between
// positions. A failure raises ValueError naming the frame and the position.
py::dict runVolume(const VolumePlan& plan, const VolumeOptions& o, py::object callback) {
  struct Stopped {};
  std::optional<py::error_already_set> kept;
  const auto guarded = [&](const auto& call) {
    py::gil_scoped_acquire gil;
    try {
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
      call();
    } catch (py::error_already_set& e) {
      kept.emplace(std::move(e));
      throw Stopped{};
    }
  };
  const py::object spacing = spacingOf(plan.spacingX, plan.spacingZ);
  py::list results;
  std::vector<velIPL::GImage> grey8;
  std::vector<velIPL::G16Image> grey16;
  PageOffsets offsets;
  std::string failedPath, failure;
  bool usage = false;
  {
    py::gil_scoped_release release;
    try {
      mergeVolume(
          plan, o,
          [&](PositionResult& r) {
            guarded([&] { results.append(positionResult(*r.plan, r.outcome, o.merge.algorithm, spacing)); });
            grey8.push_back(std::move(r.outcome.merged));
            if (r.outcome.bitsPerSample == 16) grey16.push_back(std::move(r.outcome.grey16));
          },
          [&](int done, int total) {
            guarded([&] {
              if (!callback.is_none()) callback(done, total);
            });
          });
      if (o.alignPositions || o.alignSideways) {
        offsets = alignPages(grey8, grey16, o.alignSideways);
      } else {
        offsets.axial.assign(grey8.size(), 0);
        offsets.lateral.assign(grey8.size(), 0);
      }
    } catch (const Stopped&) {
    } catch (const PathError& e) {
      failedPath = e.path();
      failure = e.what();
    } catch (const UsageError& e) {
      usage = true;
      failure = e.what();
    }
  }
  if (kept) {
    py::error_already_set e = std::move(*kept);
    kept.reset();
    throw e;
  }
  if (usage) throw py::value_error(pythonWords(failure));
  if (!failure.empty()) raiseValue(failedPath, failure);
  py::dict d;
  if (!grey16.empty()) {
    d["volume"] = stackOf<std::uint16_t>(grey16);
    d["enface"] = enfaceOf<std::uint16_t>(grey16, plan.slabTop, plan.slabBottom);
  } else {
    d["volume"] = stackOf<std::uint8_t>(grey8);
    d["enface"] = enfaceOf<std::uint8_t>(grey8, plan.slabTop, plan.slabBottom);
  }
  d["positions"] = py::tuple(py::cast(plan.chosen));
  d["results"] = py::tuple(results);
  d["offsets"] = py::tuple(py::cast(offsets.axial));
  d["lateral_offsets"] = py::tuple(py::cast(offsets.lateral));
  d["spacing"] = volumeSpacing(plan);
  return d;
}

// A plan's usage error in the words of merge_volume()'s arguments; a file
// the system will not open as OSError, anything else it names (a file, or
// the pass of arrays) as ValueError.
template <typename Plan>
VolumePlan planned(const Plan& plan, bool files) {
  try {
    return plan();
  } catch (const UsageError& e) {
    throw py::value_error(pythonWords(e.what()));
  } catch (const PathError& e) {
    if (files) raiseForFile(e.path(), e.what());
    raiseValue(e.path(), e.what());
  }
}

py::dict mergeVolumeFiles(const std::vector<std::string>& inputs, const VolumeRequest& request, py::object progress) {
  if (inputs.empty()) throw py::value_error("merge_volume needs at least one file or folder, got none");
  for (const std::string& input : inputs) requireReadable(input, true);
  VolumeOptions o = volumeOptions(request);
  o.merge.inputs = inputs;
  const VolumePlan plan = planned([&] { return planVolumeFiles(o); }, true);
  for (const LeftOutFile& f : plan.leftOut) {
    py::module_::import("warnings").attr("warn")("left out " + f.path + ": " + f.reason);
  }
  return runVolume(plan, o, std::move(progress));
}

// frames: every frame of the volume, 2-D arrays of one size and depth, lent
// to the merges (alive until they end); passes: each pass's frame count
// for per-file.
py::dict mergeVolumeArrays(const std::vector<py::array>& frames, const std::vector<int>& passes,
                           const VolumeRequest& request, py::object progress) {
  if (frames.empty()) throw py::value_error("merge_volume needs at least one frame, got none");
  const VolumeOptions o = volumeOptions(request);
  std::vector<py::array> lent;
  SeriesSize size;
  std::vector<MergeFrame> list = lendFrames(frames, lent, size);
  std::vector<std::string> names;
  for (std::size_t i = 0; i < list.size(); ++i) names.push_back("frame " + std::to_string(i));
  const VolumePlan plan =
      planned([&] { return planVolumeFrames(std::move(list), std::move(names), size, passes, o); }, false);
  return runVolume(plan, o, std::move(progress));
}

void writeImage(const std::string& path, const py::array& given, double spacingX, double spacingY, bool mark) {
  const std::string ext = lowerExtension(path);
  const bool bmp = ext == ".bmp", png = ext == ".png", tiff = ext == ".tif" || ext == ".tiff";
  if (!bmp && !png && !tiff) {
    throw py::value_error(path + ": unknown picture extension '" + ext + "'; use .bmp, .png, .tif or .tiff");
  }
  if (std::filesystem::is_directory(path)) throw FileError{FileError::Kind::os, path, "Is a folder", EISDIR};
  const py::array a = nativeOrder(given);
  const PixelSpacing spacing{spacingX, spacingY};
  if (a.ndim() == 0 || a.size() == 0) throw py::value_error("write: the image is empty");
  const py::dtype dt = a.dtype();
  try {
    if (a.ndim() == 3) {
      if (a.shape(2) != 3) throw py::value_error("write: a colour image is (height, width, 3), got a last size of " +
                                                 std::to_string(a.shape(2)));
      if (!(dt.kind() == 'u' && dt.itemsize() == 1)) {
        throw py::type_error("write: a colour image is uint8, got " + dt.attr("name").cast<std::string>());
      }
      writeColourPicture(rgbFrom(a), path, spacing, mark);
    } else if (a.ndim() != 2) {
      throw py::value_error("write takes a 2-D grey image or a (height, width, 3) colour image, got " +
                            std::to_string(a.ndim()) + " dimensions");
    } else if (dt.kind() == 'f') {
      if (!tiff) throw py::value_error(path + ": a floating-point image is written as TIFF (.tif or .tiff)");
      // float32 widens exactly; the writer narrows it back.
      const py::array wide = a.attr("astype")("float64", py::arg("copy") = false);
      writeAveragePicture(imageFrom<velIPL::DImage, double>(wide), path, spacing, mark);
    } else if (depthOf(a, "image", -1) == 8) {
      writeGreyPicture(imageFrom<velIPL::GImage, std::uint8_t>(a), nullptr, path, spacing, mark);
    } else {
      if (bmp) throw py::value_error(path + ": a BMP holds 8-bit grey; write uint16 as .png or .tif");
      const velIPL::G16Image sixteen = imageFrom<velIPL::G16Image, std::uint16_t>(a);
      writeGreyPicture(velIPL::GImage(), &sixteen, path, spacing, mark);
    }
  } catch (const PathError& e) {
    throw FileError{FileError::Kind::os, e.path(), e.what(), 0};
  }
}

py::tuple simulate(int frames, int width, int height, std::uint64_t seed, int maxShift, const std::string& motion,
                   double noise, const std::vector<std::string>& bad, int lateralSlip, const std::string& sectionKind) {
  const std::optional<Motion> kind = motionFromName(motion);
  if (!kind) throw py::value_error("unknown motion '" + motion + "'; one of: none, global, tilt, jitter, mixed");
  const std::optional<Section> drawn = sectionFromName(sectionKind);
  if (!drawn) throw py::value_error("unknown section '" + sectionKind + "'; one of: calibrated, classic");
  SimulationParameters p;
  p.section = *drawn;
  p.frames = frames;
  p.width = width;
  p.height = height;
  p.seed = seed;
  p.maxShift = maxShift;
  p.motion = *kind;
  p.noise = noise;
  for (const std::string& name : bad) {
    const std::optional<lumifold::BadFrame> k = lumifold::badFrameFromName(name);
    if (!k) throw py::value_error("unknown bad frame '" + name + "'; one of: blink, section, lateral, dropout");
    p.badFrames.push_back(*k);
  }
  p.lateralSlip = lateralSlip;
  std::optional<BScanSimulator> sim;
  try {
    sim.emplace(p);
  } catch (const std::invalid_argument& e) {
    throw py::value_error(std::string("simulate: ") + e.what());
  }
  const auto n = static_cast<py::ssize_t>(frames);
  const auto h = static_cast<py::ssize_t>(height);
  const auto w = static_cast<py::ssize_t>(width);
  py::array_t<std::uint8_t> images({n, h, w});
  py::array_t<std::int32_t> shifts({n - 1, w});
  py::array_t<double> section({h, w});
  auto* imageData = images.mutable_data();
  auto* shiftData = shifts.mutable_data();
  auto* sectionData = section.mutable_data();
  {
    py::gil_scoped_release release;
    for (int i = 0; i < frames; ++i) {
      const velIPL::GImage frame = sim->frame(i);
      for (int y = 0; y < height; ++y) {
        std::memcpy(imageData + (static_cast<std::size_t>(i) * height + y) * width, frame.row(y),
                    static_cast<std::size_t>(width));
      }
      if (i > 0) {
        const mathORN::RowVector truth = sim->trueShifts(i);
        for (int x = 0; x < width; ++x) {
          shiftData[static_cast<std::size_t>(i - 1) * width + x] = static_cast<std::int32_t>(truth[x]);
        }
      }
    }
    const velIPL::DImage noiseFree = sim->noiseFreeSection();
    for (int y = 0; y < height; ++y) {
      std::memcpy(sectionData + static_cast<std::size_t>(y) * width, noiseFree.row(y),
                  static_cast<std::size_t>(width) * sizeof(double));
    }
  }
  std::vector<std::pair<int, lumifold::BadFrame>> inserted = sim->badFrames();
  std::sort(inserted.begin(), inserted.end());
  py::list badFrames;
  for (const auto& b : inserted) badFrames.append(py::make_tuple(b.first, std::string(lumifold::badFrameName(b.second))));
  py::array_t<std::int32_t> lateral(n);
  for (int i = 0; i < frames; ++i) lateral.mutable_data()[i] = sim->lateralShift(i);
  return py::make_tuple(images, shifts, section, py::tuple(badFrames), lateral);
}

}  // namespace

}  // namespace lumifold

PYBIND11_MODULE(_lumifold, m) {
  using namespace lumifold;
  m.doc() = "The compiled part of lumifold; use the lumifold package.";

  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const FileError& e) {
      if (e.kind == FileError::Kind::value) {
        PyErr_SetString(PyExc_ValueError, (e.path + ": " + e.reason).c_str());
        return;
      }
      py::object error = e.error != 0
                             ? py::reinterpret_borrow<py::object>(PyExc_OSError)(e.error, e.reason, e.path)
                             : py::reinterpret_borrow<py::object>(PyExc_OSError)(e.path + ": " + e.reason);
      PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
    }
  });

  py::list scales;
  for (const ColorScale& s : kColorScales) scales.append(s.key);
  m.attr("SCALES") = py::tuple(scales);
  py::list algorithms;
  for (const RegistrationMethod& r : kRegistrationMethods) algorithms.append(r.key);
  m.attr("ALGORITHMS") = py::tuple(algorithms);
  m.attr("VERSION") = lumifoldVersion();

  m.def("merge_arrays", &mergeArrays, py::arg("frames"), py::arg("algorithm"), py::arg("progress"),
        py::arg("quality") = false, py::arg("reject") = "none", py::arg("reference") = py::none(),
        py::arg("lateral") = false, py::arg("denoise") = "");
  m.def("merge_files", &mergeFiles, py::arg("paths"), py::arg("algorithm"), py::arg("progress"), py::arg("sort"),
        py::arg("quality") = false, py::arg("reject") = "none", py::arg("reference") = py::none(),
        py::arg("lateral") = false, py::arg("denoise") = "");
  m.def("read", &readFile, py::arg("path"));
  m.def("probe", &probeFile, py::arg("path"));
  m.def("write_volume", &writeVolume, py::arg("path"), py::arg("volume"), py::arg("x"), py::arg("z"), py::arg("y"));
  py::class_<VolumeRequest>(m, "VolumeRequest")
      .def(py::init([](int repeats, int positions, std::string layout, std::string algorithm, std::string reject,
                       py::object reference, bool lateral, bool quality, std::string denoise,
                       std::string positionRange, bool align, bool sideways, std::string slab) {
             return VolumeRequest{repeats,   positions, std::move(layout), std::move(algorithm), std::move(reject),
                                  std::move(reference), lateral, quality, std::move(denoise),
                                  std::move(positionRange), align, sideways, std::move(slab)};
           }),
           py::kw_only(), py::arg("repeats"), py::arg("positions"), py::arg("layout"), py::arg("algorithm"),
           py::arg("reject"), py::arg("reference"), py::arg("lateral"), py::arg("quality"), py::arg("denoise"),
           py::arg("position_range"), py::arg("align"), py::arg("sideways"), py::arg("slab"));
  m.def("merge_volume_files", &mergeVolumeFiles, py::arg("paths"), py::arg("request"), py::arg("progress"));
  m.def("merge_volume_arrays", &mergeVolumeArrays, py::arg("frames"), py::arg("passes"), py::arg("request"),
        py::arg("progress"));
  m.def("read_series", &readSeries, py::arg("inputs"), py::arg("sort"));
  m.def("colorize", &colorize, py::arg("grey"), py::arg("scale"));
  m.def("write", &writeImage, py::arg("path"), py::arg("image"), py::arg("spacing_x"), py::arg("spacing_y"),
        py::arg("mark"));
  m.def("simulate", &simulate, py::arg("frames"), py::arg("width"), py::arg("height"), py::arg("seed"),
        py::arg("max_shift"), py::arg("motion"), py::arg("noise"), py::arg("bad") = std::vector<std::string>(),
        py::arg("lateral_slip") = 0, py::arg("section") = "calibrated");
}
