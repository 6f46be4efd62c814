// A volume: P positions (B-scans across the retina), each scanned R times,
// averaged position by position into a stack of P pages. Every position is
// merged exactly as `merge` merges its R frames (the same MergePlan and
// mergeSeries, every merge option per position), so page p is
// byte-identical to the grey result of `merge` on position p's frames.
//
// Layouts of the frames, numbered from 0 across the inputs as --frames
// numbers them:
//   grouped      all repeats of position 0, then of position 1, ...:
//                repeat r of position p is frame p * R + r;
//   interleaved  a whole pass over the positions, then the next: frame
//                r * P + p (as devices write repeated volume scans);
//   per-file     R inputs (files or folders), each one pass of P frames;
//                numbered as interleaved.
//
// Positions are merged several at a time, each with its share of the
// cores, and handed over in position order as they finish; at most a few
// positions' frames and results are held at once, whatever P. Everything
// throws PathError (a failed position names its frame and the position) or
// UsageError; nothing prints.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ipl/image_decoder.h"
#include "pipeline/series_merge.h"

namespace lumifold {

enum class VolumeLayout { grouped, interleaved, perFile };

// "grouped", "interleaved", "per-file"; and back (nothing for other names).
std::string_view volumeLayoutName(VolumeLayout layout);
std::optional<VolumeLayout> volumeLayoutFromName(std::string_view name);

struct VolumeOptions {
  // The inputs and how each position is merged (algorithm, scale, reject,
  // lateral, exclude, sort); reference "" (repeat 0), "auto" or N, the
  // repeat within each position.
  MergeOptions merge;
  int repeats = 0;    // R; 0 when positions is given
  int positions = 0;  // P; 0 when repeats is given
  VolumeLayout layout = VolumeLayout::grouped;
  std::string positionRange;  // which positions, as --frames lists frames; "": all
  std::string output = "volume.tif";
  std::string picture;  // coloured pages, TIFF
  std::string enface;   // P x W mean over depth, by extension
  std::string report;   // JSON
  std::string shifts;   // CSV
  std::string slab;     // "TOP:BOTTOM" rows of the en-face mean; "": all
  // Neighbouring positions lined up by a whole-row axial offset; with
  // alignSideways also by a whole-column sideways one (which implies the
  // axial alignment).
  bool alignPositions = false;
  bool alignSideways = false;
  std::vector<double> spacing;  // --spacing X,Z[,Y] in millimetres; empty: the input's
  int jobs = 0;                 // positions merged at once; 0: one per core
};

struct VolumePlan {
  std::vector<std::string> paths;
  SeriesSize size;
  int positions = 0;
  int repeats = 0;
  VolumeLayout layout = VolumeLayout::grouped;
  // The positions merged, ascending, and each one's plan (its R frames).
  std::vector<int> chosen;
  std::vector<MergePlan> plans;
  // Millimetres per column, per row and between positions; 0: unknown.
  double spacingX = 0.0;
  double spacingZ = 0.0;
  double spacingY = 0.0;
  int slabTop = 0;
  int slabBottom = 0;  // one past the last row
  std::vector<LeftOutFile> leftOut;
};

// Checks the inputs, the layout against the frame count ("40 frames do not
// divide into 6 repeats"), the outputs, the positions, the slab and the
// spacing, before any work.
VolumePlan checkVolume(const VolumeOptions& options);

// The same for a caller that writes no file (the Python module): the
// outputs are left unchecked.
VolumePlan planVolumeFiles(const VolumeOptions& options);

// The plan for frames a caller holds itself (the Python module's arrays):
// frame n of the volume is frames[n], named names[n], all of size's width,
// height and depth (size.frames is ignored); options.merge.inputs is not
// read. For the per-file layout, passes holds every pass's frame count, in
// order; names of the passes in its errors are "pass N".
VolumePlan planVolumeFrames(std::vector<MergeFrame> frames, std::vector<std::string> names, const SeriesSize& size,
                            const std::vector<int>& passes, const VolumeOptions& options);

// What one position gave, handed to the caller in position order.
struct PositionResult {
  int position = 0;
  const MergePlan* plan = nullptr;
  MergeOutcome outcome;
};

// Merges every chosen position, options.jobs at a time, and calls take for
// each in position order on the calling thread; progress(done, total) after
// each. Frames of files are read by the workers, each file opened once per
// worker; frames held in memory are merged as they are. Throws the first failure (PathError naming the frame, with
// "position N: " before the reason) once the positions under way have
// stopped; take may throw to stop the run.
void mergeVolume(const VolumePlan& plan, const VolumeOptions& options, const std::function<void(PositionResult&)>& take,
                 const std::function<void(int, int)>& progress = {});

// What lines each page up with the middle page: its whole-row axial
// offset (rows moved down) and its whole-column sideways one (column x
// shows column x - lateral), one each per page, 0 for the middle one.
struct PageOffsets {
  std::vector<int> axial;
  std::vector<int> lateral;
};

// Each page's offsets to its neighbour towards the middle page, found from
// the middle page outwards and summed into an offset per page: what
// --align-positions applies. The axial offset lines up the pages' depth
// profiles; the sideways one, found only when sideways asks (all 0
// otherwise), is the structure matcher's slip, taken where it beats no slip
// by kSlipEvidence. Pages are the averaged B-scans' 8-bit greys, all of one
// size.
PageOffsets alignmentOffsets(const std::vector<const velIPL::GImage*>& pages, bool sideways);

// Every page moved by its offsets, in place: 8-bit pages, and 16-bit ones
// where there are any (one per 8-bit page). Returns the offsets.
PageOffsets alignPages(std::vector<velIPL::GImage>& grey8, std::vector<velIPL::G16Image>& grey16, bool sideways);

// image moved down by axial rows (up when negative), then sideways by
// lateral columns (shiftSideways); rows and columns moved in from outside
// repeat the edge.
velIPL::GImage alignedPage(const velIPL::GImage& image, int axial, int lateral);
velIPL::G16Image alignedPage(const velIPL::G16Image& image, int axial, int lateral);

// The speckle filter's figures over a volume: each filtered position's,
// and the median of each figure over them (NaN ones left out), with the
// least and the most SNR gain.
struct VolumeFilterSummary {
  std::string filter;
  double strength = 0.0;
  struct Position {
    int position = 0;
    Merger::FilterFigures figures;
  };
  std::vector<Position> positions;
  Merger::FilterFigures median;
  double leastSnrGainDb = 0.0;
  double mostSnrGainDb = 0.0;
};

// The summary of the positions' figures (the medians filled in from them).
VolumeFilterSummary summarizeFilter(const std::string& filter, double strength,
                                    std::vector<VolumeFilterSummary::Position> positions);

// The mean over rows [top, bottom) of every column, rounded half up: one
// row of the en-face view.
std::vector<unsigned> columnMeans(const velIPL::GImage& image, int top, int bottom);
std::vector<unsigned> columnMeans(const velIPL::G16Image& image, int top, int bottom);

// Pages as the stack `volume` writes: a multi-page TIFF with ImageJ's
// calibration where spacingX and spacingZ (millimetres per column and row)
// are known, and spacingY between pages where that is too. Throws PathError.
void writeVolumeStack(const std::vector<velIPL::GImage>& pages, const std::string& path, double spacingX,
                      double spacingZ, double spacingY);
void writeVolumeStack(const std::vector<velIPL::G16Image>& pages, const std::string& path, double spacingX,
                      double spacingZ, double spacingY);

// The result written as the command line writes it: the stack (8- or
// 16-bit pages with ImageJ's calibration), and what options ask beside it.
class VolumeWriter {
public:
  VolumeWriter(const VolumePlan& plan, const VolumeOptions& options);
  ~VolumeWriter();
  VolumeWriter(const VolumeWriter&) = delete;
  VolumeWriter& operator=(const VolumeWriter&) = delete;

  // Adds the next position's page (and its picture, en-face row, report
  // entry and shifts); with alignment the pages wait for finish().
  void add(PositionResult& result);
  // Aligns where asked, then writes every file whole or not at all.
  void finish();

  // After finish(): the alignment offsets (empty without alignment), and
  // the speckle filter's figures (none without the filter).
  const PageOffsets& offsets() const { return offsets_; }
  const std::optional<VolumeFilterSummary>& filterSummary() const { return filter_; }

private:
  struct Pages;
  void addPage(int index);
  bool aligned() const { return options_.alignPositions || options_.alignSideways; }
  const VolumePlan& plan_;
  const VolumeOptions& options_;
  std::unique_ptr<Pages> pages_;
  PageOffsets offsets_;
  std::vector<VolumeFilterSummary::Position> filtered_;
  std::string filterKey_;
  double filterStrength_ = 0.0;
  std::optional<VolumeFilterSummary> filter_;
};

}  // namespace lumifold
