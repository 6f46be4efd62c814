#include "pipeline/volume_merge.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <limits>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "color/color_scales.h"
#include "ipl/formats/tiff/tiff_writer.h"
#include "ipl/ipl_exception.h"
#include "merge/median_filters.h"
#include "merge/paired_sums.h"
#include "merge/series_alignment.h"
#include "pipeline/file_support.h"
#include "pipeline/frame_selection.h"
#include "pipeline/output_name.h"
#include "pipeline/picture_output.h"
#include "pipeline/quality_report.h"
#include "pipeline/safe_file.h"
#include "shell/heap_release.h"
#include "shell/own_outputs.h"

namespace lumifold {

namespace {

// Frame number (across all inputs) of repeat r of position p.
int frameNumber(VolumeLayout layout, int positions, int repeats, int p, int r) {
  return layout == VolumeLayout::grouped ? p * repeats + r : r * positions + p;
}

std::vector<double> parsedSpacing(const std::vector<double>& given) {
  if (given.empty()) return {};
  if (given.size() < 2 || given.size() > 3) throw UsageError("--spacing takes X,Z or X,Z,Y in millimetres");
  for (const double v : given) {
    if (!(v > 0) || !std::isfinite(v)) throw UsageError("--spacing takes positive millimetres");
  }
  return given;
}

std::pair<int, int> parsedSlab(const std::string& slab, int height) {
  if (slab.empty()) return {0, height};
  int top = -1, bottom = -1;
  char rest = 0;
  if (std::sscanf(slab.c_str(), "%d:%d%c", &top, &bottom, &rest) != 2 || top < 0 || bottom <= top ||
      bottom > height) {
    throw UsageError("--slab " + slab + ": rows TOP:BOTTOM with 0 <= TOP < BOTTOM <= " + std::to_string(height));
  }
  return {top, bottom};
}

// The number of the first frame of every input, after expansion, and the
// total: per-file needs each input's frames apart.
std::vector<int> framesPerInput(const VolumeOptions& o, const std::vector<std::string>& paths,
                                const SeriesSize& size) {
  std::vector<int> counts;
  std::size_t next = 0;
  for (const std::string& input : o.merge.inputs) {
    const std::vector<std::string> files = expandInputs({input}, false, o.merge.exclude);
    int frames = 0;
    for (std::size_t k = 0; k < files.size() && next < paths.size(); ++k, ++next) frames += size.frames[next];
    counts.push_back(frames);
  }
  return counts;
}

void checkVolumeOutputs(const VolumeOptions& o, const std::vector<std::string>& inputs) {
  const std::vector<NamedOutput> named{
      {o.output, "--output"}, {o.picture, "--picture"}, {o.enface, "--enface"}, {o.report, "--report"},
      {o.shifts, "--shifts"}};
  checkOutputNames(named);
  checkOutputFiles(named, inputs);
}

}  // namespace

std::string_view volumeLayoutName(VolumeLayout layout) {
  switch (layout) {
    case VolumeLayout::grouped: return "grouped";
    case VolumeLayout::interleaved: return "interleaved";
    case VolumeLayout::perFile: return "per-file";
  }
  return "grouped";
}

std::optional<VolumeLayout> volumeLayoutFromName(std::string_view name) {
  for (const VolumeLayout l : {VolumeLayout::grouped, VolumeLayout::interleaved, VolumeLayout::perFile}) {
    if (volumeLayoutName(l) == name) return l;
  }
  return std::nullopt;
}

namespace {

void checkCount(const VolumeOptions& o) {
  if ((o.repeats > 0) == (o.positions > 0)) throw UsageError("give --repeats R or --positions P (one of them)");
}

// Every frame of the volume, by number: the frame, its name in reports and
// its file ("" for one held in memory).
struct NumberedFrames {
  std::vector<MergeFrame> frames;
  std::vector<std::string> names;
  std::vector<std::string> paths;
};

// The layout checked against the frames, the positions chosen, the
// spacing, the slab, and one plan per position, numbered and named as merge
// numbers and names the frames of these inputs. passes: each input's frame
// count, named passNames, for the per-file layout.
void planPositions(VolumePlan& v, const VolumeOptions& o, const NumberedFrames& all, const std::vector<int>& passes,
                   const std::vector<std::string>& passNames) {
  v.layout = o.layout;
  const int total = static_cast<int>(all.frames.size());
  const int given = o.repeats > 0 ? o.repeats : o.positions;
  if (total % given != 0) {
    throw UsageError(std::to_string(total) + " frames do not divide into " + std::to_string(given) +
                     (o.repeats > 0 ? " repeats" : " positions"));
  }
  v.repeats = o.repeats > 0 ? o.repeats : total / o.positions;
  v.positions = total / v.repeats;
  if (o.layout == VolumeLayout::perFile) {
    if (static_cast<int>(passes.size()) != v.repeats) {
      throw UsageError("per-file takes one input per repeat: " + std::to_string(passes.size()) + " inputs for " +
                       std::to_string(v.repeats) + " repeats");
    }
    for (std::size_t i = 0; i < passes.size(); ++i) {
      if (passes[i] != v.positions) {
        throw PathError(passNames[i], "holds " + std::to_string(passes[i]) + " frames, one pass is " +
                                          std::to_string(v.positions) + " positions");
      }
    }
  }
  if (o.positionRange.empty()) {
    for (int p = 0; p < v.positions; ++p) v.chosen.push_back(p);
  } else {
    try {
      v.chosen = selectFrames(o.positionRange, v.positions);
    } catch (const std::invalid_argument& e) {
      std::string text = e.what();
      const std::string frames = "--frames ";
      if (text.rfind(frames, 0) == 0) text = "--positions-range " + text.substr(frames.size());
      for (std::size_t at; (at = text.find("frame")) != std::string::npos;) text.replace(at, 5, "position");
      throw UsageError(text);
    }
  }
  const std::vector<double> spacing = parsedSpacing(o.spacing);
  v.spacingX = spacing.empty() ? v.size.pixelSpacingX : spacing[0];
  v.spacingZ = spacing.empty() ? v.size.pixelSpacingY : spacing[1];
  v.spacingY = spacing.size() == 3 ? spacing[2] : v.size.sliceSpacing;
  std::tie(v.slabTop, v.slabBottom) = parsedSlab(o.slab, v.size.height);

  for (const int p : v.chosen) {
    MergePlan plan;
    plan.size = v.size;
    plan.frameNames = all.names;
    for (int r = 0; r < v.repeats; ++r) {
      const std::size_t n = static_cast<std::size_t>(frameNumber(v.layout, v.positions, v.repeats, p, r));
      plan.frames.push_back(all.frames[n]);
      plan.frameNumbers.push_back(static_cast<int>(n));
      plan.framePaths.push_back(all.paths[n]);
    }
    for (const std::string& path : plan.framePaths) {
      if (plan.paths.empty() || plan.paths.back() != path) plan.paths.push_back(path);
    }
    if (o.merge.reference == "auto") {
      plan.reference = Merger::kAutoReference;
    } else if (!o.merge.reference.empty()) {
      const int r = std::atoi(o.merge.reference.c_str());
      if (o.merge.reference.find_first_not_of("0123456789") != std::string::npos || r >= v.repeats) {
        throw UsageError("--reference takes auto or a repeat from 0 to " + std::to_string(v.repeats - 1));
      }
      plan.reference = r;
    }
    v.plans.push_back(std::move(plan));
  }
}

VolumePlan planFiles(const VolumeOptions& o, bool checkOutputs) {
  checkCount(o);
  VolumePlan v;
  v.paths = expandInputs(o.merge.inputs, o.merge.sort, o.merge.exclude, &v.leftOut);
  if (checkOutputs) checkVolumeOutputs(o, v.paths);
  v.size = checkSeries(v.paths);
  if (v.size.width == 0 || v.size.height == 0) throw PathError(v.paths.front(), "Empty image");
  NumberedFrames all;
  for (std::size_t f = 0; f < v.paths.size(); ++f) {
    const int count = v.size.frames[f];
    for (int k = 0; k < count; ++k) {
      all.names.push_back(count == 1 ? v.paths[f]
                                     : v.paths[f] + " [frame " + std::to_string(k + 1) + " of " +
                                           std::to_string(count) + "]");
      all.frames.emplace_back(v.paths[f], k);
      all.paths.push_back(v.paths[f]);
    }
  }
  std::vector<int> passes;
  if (o.layout == VolumeLayout::perFile) passes = framesPerInput(o, v.paths, v.size);
  planPositions(v, o, all, passes, o.merge.inputs);
  return v;
}

}  // namespace

VolumePlan checkVolume(const VolumeOptions& o) { return planFiles(o, true); }

VolumePlan planVolumeFiles(const VolumeOptions& o) { return planFiles(o, false); }

VolumePlan planVolumeFrames(std::vector<MergeFrame> frames, std::vector<std::string> names, const SeriesSize& size,
                            const std::vector<int>& passes, const VolumeOptions& o) {
  checkCount(o);
  if (frames.empty() || names.size() != frames.size()) {
    throw std::invalid_argument("planVolumeFrames: one name per frame");
  }
  VolumePlan v;
  v.size = size;
  v.size.frames.assign(frames.size(), 1);
  if (v.size.width == 0 || v.size.height == 0) throw PathError(names.front(), "Empty image");
  NumberedFrames all;
  all.paths.assign(frames.size(), std::string());
  all.frames = std::move(frames);
  all.names = std::move(names);
  std::vector<std::string> passNames;
  for (std::size_t i = 0; i < passes.size(); ++i) passNames.push_back("pass " + std::to_string(i));
  planPositions(v, o, all, passes, passNames);
  return v;
}

namespace {

// The plan with its frames read into memory through files opened once.
// Throws PathError naming the frame that cannot be read.
MergePlan framesRead(const MergePlan& plan, std::map<std::string, std::unique_ptr<velIPL::ImageFile>>& opened) {
  MergePlan read = plan;
  for (std::size_t i = 0; i < plan.frames.size(); ++i) {
    if (plan.frames[i].inMemory()) continue;
    const std::string& path = plan.framePaths[i];
    try {
      std::unique_ptr<velIPL::ImageFile>& file = opened[path];
      if (!file) file = velIPL::decoderFor(path).open(path);
      const int index = plan.frames[i].frameIndex();
      if (file->info().bitsPerSample == 16) {
        velIPL::G16Image image;
        file->readFrame(index, image);
        read.frames[i] = MergeFrame(std::move(image));
      } else {
        velIPL::GImage image;
        file->readFrame(index, image);
        read.frames[i] = MergeFrame(std::move(image));
      }
    } catch (const velIPL::IPLException& e) {
      opened.erase(path);
      throw PathError(plan.frameNames[static_cast<std::size_t>(plan.frameNumbers[i])], reasonFor(e.what(), path));
    }
  }
  return read;
}

}  // namespace

void mergeVolume(const VolumePlan& plan, const VolumeOptions& o, const std::function<void(PositionResult&)>& take,
                 const std::function<void(int, int)>& progress) {
  const int count = static_cast<int>(plan.plans.size());
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const int jobs = std::clamp(o.jobs > 0 ? o.jobs : cores, 1, std::max(1, count));
  MergeOptions each = o.merge;
  // Each merge gets its share of the cores, as batch gives them.
  each.threads = std::max(1, cores / jobs);
  if (!o.report.empty()) each.report = o.report;  // the report measures

  std::mutex lock;
  std::condition_variable changed;
  std::map<int, PositionResult> done;
  std::exception_ptr failure;
  int next = 0;       // the next position to start
  int delivered = 0;  // positions handed to take
  // At most this many positions merged ahead of the one the caller waits
  // for, so memory does not grow with P when one position is slow.
  const int window = 2 * jobs;

  const auto work = [&] {
    // Each file opened once per worker: a stack's page chain is walked
    // once, not once per position, and every frame is decoded once.
    std::map<std::string, std::unique_ptr<velIPL::ImageFile>> opened;
    for (;;) {
      int index;
      {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [&] { return failure || next >= count || next < delivered + window; });
        if (failure || next >= count) return;
        index = next++;
      }
      PositionResult result;
      result.position = plan.chosen[static_cast<std::size_t>(index)];
      result.plan = &plan.plans[static_cast<std::size_t>(index)];
      try {
        result.outcome = mergeSeries(framesRead(*result.plan, opened), each, nullptr);
      } catch (const PathError& e) {
        std::lock_guard<std::mutex> hold(lock);
        if (!failure) {
          failure = std::make_exception_ptr(
              PathError(e.path(), "position " + std::to_string(result.position) + ": " + e.what()));
        }
        changed.notify_all();
        return;
      } catch (...) {
        std::lock_guard<std::mutex> hold(lock);
        if (!failure) failure = std::current_exception();
        changed.notify_all();
        return;
      }
      std::lock_guard<std::mutex> hold(lock);
      done.emplace(index, std::move(result));
      changed.notify_all();
    }
  };
  std::vector<std::thread> workers;
  for (int j = 0; j < jobs; ++j) workers.emplace_back(work);
  const auto stop = [&](std::exception_ptr error) {
    {
      std::lock_guard<std::mutex> hold(lock);
      if (!failure) failure = error;
      changed.notify_all();
    }
    for (std::thread& t : workers) t.join();
  };
  while (delivered < count) {
    PositionResult result;
    {
      std::unique_lock<std::mutex> hold(lock);
      changed.wait(hold, [&] { return failure || done.count(delivered) != 0; });
      if (failure) break;
      result = std::move(done.at(delivered));
      done.erase(delivered);
    }
    try {
      take(result);
      result = PositionResult();
      // Handed back now and then, memory stays flat in the number of
      // positions (every position would cost the merges in flight their
      // pages again).
      if ((delivered + 1) % (2 * jobs) == 0) releaseFreedMemory();
      if (progress) progress(delivered + 1, count);
    } catch (...) {
      stop(std::current_exception());
      throw;
    }
    std::lock_guard<std::mutex> hold(lock);
    ++delivered;
    changed.notify_all();
  }
  stop(nullptr);
  if (failure) std::rethrow_exception(failure);
}

namespace {

template <typename Image>
Image shifted(const Image& image, int offset) {
  Image out(image.width(), image.height(), 0);
  const int h = image.height();
  for (int y = 0; y < h; ++y) {
    const int from = std::clamp(y - offset, 0, h - 1);
    std::copy(image.row(from), image.row(from) + image.width(), out.row(y));
  }
  return out;
}

template <typename Image>
std::vector<unsigned> means(const Image& image, int top, int bottom) {
  std::vector<unsigned long long> sums(static_cast<std::size_t>(image.width()), 0);
  for (int y = top; y < bottom; ++y) {
    for (int x = 0; x < image.width(); ++x) sums[static_cast<std::size_t>(x)] += image.row(y)[x];
  }
  const unsigned long long n = static_cast<unsigned long long>(bottom - top);
  std::vector<unsigned> out(sums.size());
  for (std::size_t x = 0; x < sums.size(); ++x) out[x] = static_cast<unsigned>((2 * sums[x] + n) / (2 * n));
  return out;
}

// The mean grey of every row of an averaged B-scan: its depth profile.
std::vector<double> depthProfile(const velIPL::GImage& page) {
  std::vector<double> profile(static_cast<std::size_t>(page.height()), 0.0);
  for (int y = 0; y < page.height(); ++y) {
    double sum = 0.0;
    for (int x = 0; x < page.width(); ++x) sum += page.row(y)[x];
    profile[static_cast<std::size_t>(y)] = sum / page.width();
  }
  return profile;
}

// The offset d (rows, |d| <= limit) that best lines b up with a: b's row
// y - d shows a's row y; the largest normalised correlation of the depth
// profiles, the smallest |d| on a tie.
int profileOffset(const std::vector<double>& a, const std::vector<double>& b, int limit) {
  const int h = static_cast<int>(a.size());
  int best = 0;
  double bestScore = -2.0;
  for (int d = 0; d <= limit; ++d) {
    for (const int s : {d, -d}) {
      PairedSums sums;
      for (int y = std::max(0, s); y < std::min(h, h + s); ++y) {
        sums.add(a[static_cast<std::size_t>(y)], b[static_cast<std::size_t>(y - s)]);
      }
      if (sums.n < 2) continue;
      const double score = sums.correlation(-1.0);
      if (score > bestScore + 1e-12) {
        bestScore = score;
        best = s;
      }
      if (d == 0) break;
    }
  }
  return best;
}

}  // namespace

std::vector<unsigned> columnMeans(const velIPL::GImage& image, int top, int bottom) { return means(image, top, bottom); }
std::vector<unsigned> columnMeans(const velIPL::G16Image& image, int top, int bottom) {
  return means(image, top, bottom);
}

velIPL::GImage alignedPage(const velIPL::GImage& image, int axial, int lateral) {
  velIPL::GImage moved = shifted(image, axial);
  return lateral == 0 ? moved : shiftSideways(moved, lateral);
}

velIPL::G16Image alignedPage(const velIPL::G16Image& image, int axial, int lateral) {
  velIPL::G16Image moved = shifted(image, axial);
  return lateral == 0 ? moved : shiftSideways(moved, lateral);
}

PageOffsets alignmentOffsets(const std::vector<const velIPL::GImage*>& pages, bool sideways) {
  const int n = static_cast<int>(pages.size());
  PageOffsets offsets;
  offsets.axial.assign(static_cast<std::size_t>(n), 0);
  offsets.lateral.assign(static_cast<std::size_t>(n), 0);
  if (n < 2) return offsets;
  const int middle = n / 2;
  // From the middle out: each page's offset to its neighbour towards the
  // middle, added to that neighbour's.
  const auto accumulate = [&](std::vector<int>& into, const auto& toNeighbour) {
    for (int p = middle + 1; p < n; ++p) {
      into[static_cast<std::size_t>(p)] = into[static_cast<std::size_t>(p - 1)] + toNeighbour(p - 1, p);
    }
    for (int p = middle - 1; p >= 0; --p) {
      into[static_cast<std::size_t>(p)] = into[static_cast<std::size_t>(p + 1)] + toNeighbour(p + 1, p);
    }
  };
  std::vector<std::vector<double>> profiles;
  for (const velIPL::GImage* page : pages) profiles.push_back(depthProfile(*page));
  const int limit = std::max(1, pages.front()->height() / 4);
  accumulate(offsets.axial, [&](int neighbour, int p) {
    return profileOffset(profiles[static_cast<std::size_t>(neighbour)], profiles[static_cast<std::size_t>(p)], limit);
  });
  // The matcher compares blocks of 4 x 4 and needs at least one.
  if (sideways && pages.front()->width() >= 4 && pages.front()->height() >= 4) {
    const int range = lateralRange(pages.front()->width());
    std::vector<std::vector<double>> profiles;
    for (const velIPL::GImage* page : pages) profiles.push_back(lateralProfile(*page));
    accumulate(offsets.lateral, [&](int neighbour, int p) {
      // As a merge finds a frame's slip: the depth-summed profiles' slip,
      // sharp where vessel shadows mark the columns and blind to how the
      // layers bend, is the candidate the 2-D structure confirms. Unlike
      // repeats, neighbours differ in how their layers bend, which a slip
      // of the blocks alone can mimic; so a slip is taken only where both
      // agree, and none where the profiles say nothing.
      const std::vector<double>& a = profiles[static_cast<std::size_t>(neighbour)];
      const std::vector<double>& b = profiles[static_cast<std::size_t>(p)];
      const int candidate = estimateLateralShift(a, b, range);
      const double evidence = slippedProfileCorrelation(a, b, candidate);
      if (candidate == 0 || !(evidence >= kProfileEvidence)) return 0;
      const StructureMatcher::Slip slip = StructureMatcher(*pages[static_cast<std::size_t>(neighbour)])
                                              .slip(*pages[static_cast<std::size_t>(p)], range, candidate, evidence);
      return slip.shift == candidate && slip.confidence >= kSlipEvidence ? candidate : 0;
    });
  }
  return offsets;
}

PageOffsets alignPages(std::vector<velIPL::GImage>& grey8, std::vector<velIPL::G16Image>& grey16, bool sideways) {
  std::vector<const velIPL::GImage*> pages;
  for (const velIPL::GImage& g : grey8) pages.push_back(&g);
  PageOffsets offsets = alignmentOffsets(pages, sideways);
  for (std::size_t i = 0; i < grey8.size(); ++i) {
    grey8[i] = alignedPage(grey8[i], offsets.axial[i], offsets.lateral[i]);
    if (i < grey16.size()) grey16[i] = alignedPage(grey16[i], offsets.axial[i], offsets.lateral[i]);
  }
  return offsets;
}

namespace {

// The median of the finite values, NaN when there are none.
double finiteMedian(std::vector<double> values) {
  values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return !std::isfinite(v); }), values.end());
  return medianOf(std::move(values));
}

}  // namespace

VolumeFilterSummary summarizeFilter(const std::string& filter, double strength,
                                    std::vector<VolumeFilterSummary::Position> positions) {
  VolumeFilterSummary s;
  s.filter = filter;
  s.strength = strength;
  s.positions = std::move(positions);
  const auto median = [&](auto figure) {
    std::vector<double> values;
    for (const VolumeFilterSummary::Position& p : s.positions) values.push_back(figure(p.figures));
    return finiteMedian(std::move(values));
  };
  using F = Merger::FilterFigures;
  s.median.frameNoise = median([](const F& f) { return f.frameNoise; });
  s.median.before.snrDb = median([](const F& f) { return f.before.snrDb; });
  s.median.after.snrDb = median([](const F& f) { return f.after.snrDb; });
  s.median.before.cnr = median([](const F& f) { return f.before.cnr; });
  s.median.after.cnr = median([](const F& f) { return f.after.cnr; });
  s.median.before.enl = median([](const F& f) { return f.before.enl; });
  s.median.after.enl = median([](const F& f) { return f.after.enl; });
  bool first = true;
  for (const VolumeFilterSummary::Position& p : s.positions) {
    const double gain = p.figures.after.snrDb - p.figures.before.snrDb;
    if (!std::isfinite(gain)) continue;
    s.leastSnrGainDb = first ? gain : std::min(s.leastSnrGainDb, gain);
    s.mostSnrGainDb = first ? gain : std::max(s.mostSnrGainDb, gain);
    first = false;
  }
  if (first) s.leastSnrGainDb = s.mostSnrGainDb = std::numeric_limits<double>::quiet_NaN();
  return s;
}

struct VolumeWriter::Pages {
  std::unique_ptr<velIPL::TiffWriter> stack;
  std::unique_ptr<velIPL::TiffWriter> pictures;
  // Held until finish() when positions are aligned.
  std::vector<velIPL::GImage> grey8;
  std::vector<velIPL::G16Image> grey16;
  std::vector<std::vector<unsigned>> enface;
  std::ostringstream report;
  std::string shifts;
  bool firstReport = true;
};

namespace {

velIPL::TiffWriteOptions stackOptions(int pages, double spacingX, double spacingZ, double spacingY) {
  velIPL::TiffWriteOptions options;
  options.software = outputMark();
  options.compression = velIPL::TiffCompression::deflate;
  // ImageJ's header: Fiji opens the stack at true scale from it.
  std::ostringstream d;
  d << "ImageJ=1.11a\nimages=" << pages << "\nslices=" << pages << "\n";
  if (spacingX > 0 && spacingZ > 0) {
    options.pixelSpacingX = spacingX;
    options.pixelSpacingY = spacingZ;
    options.resolutionPerMillimetre = true;
    d << "unit=mm\n";
    if (spacingY > 0) d << "spacing=" << spacingY << "\n";
  }
  d << "loop=false\n";
  options.description = d.str();
  return options;
}

velIPL::TiffWriteOptions stackOptions(const VolumePlan& plan) {
  return stackOptions(static_cast<int>(plan.chosen.size()), plan.spacingX, plan.spacingZ, plan.spacingY);
}

template <typename Image>
void writeStack(const std::vector<Image>& pages, const std::string& path, double x, double z, double y) {
  try {
    velIPL::TiffWriter writer(stackOptions(static_cast<int>(pages.size()), x, z, y));
    for (const Image& page : pages) writer.addPage(page);
    writer.writeFile(path);
  } catch (const velIPL::IPLException& e) {
    throw PathError(path, reasonFor(e.what(), path));
  }
}

}  // namespace

void writeVolumeStack(const std::vector<velIPL::GImage>& pages, const std::string& path, double spacingX,
                      double spacingZ, double spacingY) {
  writeStack(pages, path, spacingX, spacingZ, spacingY);
}

void writeVolumeStack(const std::vector<velIPL::G16Image>& pages, const std::string& path, double spacingX,
                      double spacingZ, double spacingY) {
  writeStack(pages, path, spacingX, spacingZ, spacingY);
}

namespace {

// A position's (or the median) figures before and after the filter, as
// [before, after] pairs.
std::string filterFiguresJson(const Merger::FilterFigures& f) {
  const auto pair = [](double before, double after) {
    std::string text("[");
    text += jsonNumber(before);
    text += ", ";
    text += jsonNumber(after);
    return text + "]";
  };
  return "\"frameNoise\": " + jsonNumber(f.frameNoise) + ", \"snrDb\": " + pair(f.before.snrDb, f.after.snrDb) +
         ", \"cnr\": " + pair(f.before.cnr, f.after.cnr) + ", \"enl\": " + pair(f.before.enl, f.after.enl);
}

std::string filterJson(const VolumeFilterSummary& s) {
  std::string j = "{\"filter\": \"" + s.filter + "\", \"strength\": " + jsonNumber(s.strength) +
                  ",\n    \"median\": {" + filterFiguresJson(s.median) + "},\n    \"positions\": [";
  for (std::size_t i = 0; i < s.positions.size(); ++i) {
    j += (i ? ",\n      {" : "\n      {") + std::string("\"position\": ") + std::to_string(s.positions[i].position) +
         ", " + filterFiguresJson(s.positions[i].figures) + "}";
  }
  return j + (s.positions.empty() ? "]}" : "\n    ]}");
}

}  // namespace

VolumeWriter::VolumeWriter(const VolumePlan& plan, const VolumeOptions& options)
    : plan_(plan), options_(options), pages_(std::make_unique<Pages>()) {
  pages_->stack = std::make_unique<velIPL::TiffWriter>(stackOptions(plan));
  if (!options.picture.empty()) pages_->pictures = std::make_unique<velIPL::TiffWriter>(stackOptions(plan));
}

VolumeWriter::~VolumeWriter() = default;

void VolumeWriter::add(PositionResult& r) {
  Pages& p = *pages_;
  const bool deep = r.outcome.bitsPerSample == 16;
  p.grey8.push_back(std::move(r.outcome.merged));
  if (deep) p.grey16.push_back(std::move(r.outcome.grey16));
  if (!options_.report.empty()) {
    p.report << (p.firstReport ? "\n    " : ",\n    ") << "{\"position\": " << r.position << ", \"report\": ";
    std::string entry = qualityReportJson(*r.plan, r.outcome, options_.merge);
    while (!entry.empty() && entry.back() == '\n') entry.pop_back();
    // Indented one level deeper than the volume's own fields.
    for (std::size_t at = 0; (at = entry.find('\n', at)) != std::string::npos; at += 5) entry.replace(at, 1, "\n    ");
    p.report << entry << "}";
    p.firstReport = false;
  }
  if (!options_.shifts.empty()) p.shifts += r.outcome.shifts.toCsv(r.plan->frameNames);
  if (r.outcome.filtered) {
    filterKey_ = r.outcome.filterKey;
    filterStrength_ = r.outcome.filterStrength;
    filtered_.push_back({r.position, r.outcome.filterFigures});
  }
  if (!aligned()) addPage(static_cast<int>(p.grey8.size()) - 1);
}

void VolumeWriter::addPage(int index) {
  Pages& p = *pages_;
  const std::size_t i = static_cast<std::size_t>(index);
  const bool deep = !p.grey16.empty();
  if (deep) {
    p.stack->addPage(p.grey16[i]);
    if (!options_.enface.empty()) p.enface.push_back(columnMeans(p.grey16[i], plan_.slabTop, plan_.slabBottom));
  } else {
    p.stack->addPage(p.grey8[i]);
    if (!options_.enface.empty()) p.enface.push_back(columnMeans(p.grey8[i], plan_.slabTop, plan_.slabBottom));
  }
  if (p.pictures) p.pictures->addPage(ApplyColorScale(colorScaleFor(options_.merge.scale).build(), p.grey8[i]));
  // Without alignment a page is done once in the stack.
  if (!aligned()) {
    p.grey8[i] = velIPL::GImage();
    if (deep) p.grey16[i] = velIPL::G16Image();
  }
}

void VolumeWriter::finish() {
  Pages& p = *pages_;
  if (aligned()) {
    offsets_ = alignPages(p.grey8, p.grey16, options_.alignSideways);
    for (std::size_t i = 0; i < p.grey8.size(); ++i) addPage(static_cast<int>(i));
  }
  if (!filtered_.empty()) filter_ = summarizeFilter(filterKey_, filterStrength_, filtered_);
  const auto named = [](const std::string& path, const auto& write) {
    try {
      write();
    } catch (const velIPL::IPLException& e) {
      throw PathError(path, reasonFor(e.what(), path));
    }
  };
  named(options_.output, [&] { p.stack->writeFile(options_.output); });
  if (p.pictures) named(options_.picture, [&] { p.pictures->writeFile(options_.picture); });
  if (!options_.enface.empty()) {
    const int w = plan_.size.width;
    const int h = static_cast<int>(p.enface.size());
    const PixelSpacing spacing{plan_.spacingX, plan_.spacingY};
    if (!p.grey16.empty() && pictureFormat(options_.enface) != PictureFormat::bmp) {
      velIPL::G16Image image(w, h, 0);
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) image.row(y)[x] = static_cast<std::uint16_t>(p.enface[y][x]);
      }
      writeGreyPicture(velIPL::GImage(), &image, options_.enface, spacing);
    } else {
      // A BMP holds 8 bits: a 16-bit series' means are scaled down to them.
      const unsigned top = p.grey16.empty() ? 255 : 65535;
      velIPL::GImage image(w, h, 0);
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) image.row(y)[x] = static_cast<unsigned char>((p.enface[y][x] * 255 + top / 2) / top);
      }
      writeGreyPicture(image, nullptr, options_.enface, spacing);
    }
  }
  if (!options_.shifts.empty()) writeFileSafely(options_.shifts, p.shifts);
  if (!options_.report.empty()) {
    std::ostringstream j;
    j << "{\n  \"version\": 1,\n  \"kind\": \"volume\",\n  \"layout\": \"" << volumeLayoutName(plan_.layout)
      << "\",\n  \"positions\": " << plan_.positions << ",\n  \"repeats\": " << plan_.repeats
      << ",\n  \"merged\": " << plan_.chosen.size() << ",\n  \"spacingMm\": {\"x\": " << plan_.spacingX
      << ", \"z\": " << plan_.spacingZ << ", \"y\": " << plan_.spacingY << "},\n  \"alignment\": [";
    for (std::size_t i = 0; i < offsets_.axial.size(); ++i) j << (i ? ", " : "") << offsets_.axial[i];
    j << "]";
    if (options_.alignSideways) {
      j << ",\n  \"lateralAlignment\": [";
      for (std::size_t i = 0; i < offsets_.lateral.size(); ++i) j << (i ? ", " : "") << offsets_.lateral[i];
      j << "]";
    }
    if (filter_) j << ",\n  \"speckleFilter\": " << filterJson(*filter_);
    j << ",\n  \"positionReports\": [" << p.report.str() << (p.firstReport ? "]" : "\n  ]") << "\n}\n";
    writeFileSafely(options_.report, j.str());
  }
}

}  // namespace lumifold
