// BScanSimulator: a realistic series of OCT B-scans of one retinal section,
// with the true axial motion of every frame, for tests, the demonstration
// and benchmarks.
//
// The section is a curved layered retina: vitreous, a bright inner
// boundary, layers of differing reflectivity thinning into a foveal pit,
// retinal vessels that shadow everything below them, a very bright pigment
// epithelium and a textured choroid fading with depth. Each frame sees it
// through fully developed speckle (intensity exponentially distributed about
// the local reflectivity, new in every frame) and detector noise, log
// compressed to 8 bits, and moved along the depth axis by a whole number of
// rows per column relative to frame 0. series_writer.h puts a series on disk.
//
// Two sections are drawn (Section): the calibrated one, the default, has the
// statistics of real foveal scans; the classic one is the earlier, easier
// section, kept for results that were recorded on it.
//
// Everything is a pure function of the parameters: frame i is the same on
// every machine and can be made without the frames before it. The
// constructor throws std::invalid_argument for parameters out of range.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ipl/images.h"
#include "math/row_vector.h"

namespace lumifold {

// The kind of axial motion between frames.
enum class Motion {
  None,    // every frame in place
  Global,  // one offset per frame for all columns
  Tilt,    // an offset plus a slow tilt and curvature across the columns
  Jitter,  // a small per-column wander plus a few glitches of 1 to 4 columns
  Mixed,   // all of the above together
};

// "none", "global", "tilt", "jitter", "mixed".
std::string_view motionName(Motion motion);
// The motion of that name, or nothing for an unknown name.
std::optional<Motion> motionFromName(std::string_view name);

// Frames a real series has and a clean simulation lacks: a blink (the
// frame nearly dark), a frame of a neighbouring section (another anatomy),
// a frame slipped far sideways, and a dropout (no signal in a band of
// columns).
enum class BadFrame { Blink, Section, Lateral, Dropout };

// "blink", "section", "lateral", "dropout".
std::string_view badFrameName(BadFrame kind);
std::optional<BadFrame> badFrameFromName(std::string_view name);

// Which section is drawn.
enum class Section {
  // Drawn to what five repeats of a real foveal B-scan show: a 42 dB range
  // with the vitreous's noise at a grey of about 75, darker with depth; the
  // retina in the upper half; faint lateral structure (the depth-summed
  // column profile as flat as a real one, vessel shadows at most faint);
  // speckle with a grain of a few columns in tissue; a choroid fading
  // slowly into the noise. evaluate/real_evaluation.cpp prints its
  // statistics beside those of real eyes; docs/simulator.md tells more.
  Calibrated,
  // The earlier section: a 35 dB range over a nearly black vitreous, the
  // retina lower, clear vessel shadows and lateral texture. Easier to
  // register and to judge; its series are what the recorded results,
  // benchmarks and byte-exact tests were made on.
  Classic,
};

// "calibrated", "classic".
std::string_view sectionName(Section section);
std::optional<Section> sectionFromName(std::string_view name);

struct SimulationParameters {
  int frames = 8;             // 1 .. 10000
  int width = 512;            // columns (A-scans), 1 .. 4096
  int height = 496;           // rows, 2 .. 4096
  std::uint64_t seed = 1;     // any value; the same seed gives the same series
  int maxShift = 12;          // largest axial motion in rows, 0 .. height / 2
  Motion motion = Motion::Mixed;
  double noise = 1.0;         // detector noise floor, 1 = typical, 0 = none
  // One bad frame of each kind listed (a kind listed twice gives two), at
  // frames drawn from the seed among 1 .. frames - 1.
  std::vector<BadFrame> badFrames;
  // Every frame but 0 slipped sideways by up to this many columns, 0 .. width / 4.
  int lateralSlip = 0;
  Section section = Section::Calibrated;
};

class BScanSimulator {
public:
  explicit BScanSimulator(const SimulationParameters& parameters);

  const SimulationParameters& parameters() const { return parameters_; }

  // Frame index of the series (0 .. frames - 1); frame 0 is the unmoved
  // reference. Throws std::out_of_range for other indices.
  velIPL::GImage frame(int index) const;

  // The true shift of every column of frame index in the merge engine's
  // sign convention: adding frame row y - s[x] to reference row y lines the
  // two up. All zero for frame 0. Throws std::out_of_range like frame().
  mathORN::RowVector trueShifts(int index) const;

  // The bad frame index is, if any; and its sideways slip in the merge
  // engine's convention: column x - t of the frame shows what column x of
  // frame 0 shows (columns beyond the section repeat its edge column).
  std::optional<BadFrame> badFrame(int index) const;
  int lateralShift(int index) const;
  // Every bad frame, by frame index.
  const std::vector<std::pair<int, BadFrame>>& badFrames() const { return bad_; }

  // The expected grey value of every pixel of frame 0 under the model: what
  // an infinite, perfectly registered average converges to. Takes a few
  // hundred milliseconds for a clinical size.
  velIPL::DImage noiseFreeSection() const;

  // The expected grey value of a pixel of the section whose mean intensity
  // (reflectivity plus noise floor) is meanIntensity: the exact sum over the
  // 8-bit levels of the probability of reaching each one.
  static double expectedGrey(double meanIntensity, Section section = Section::Calibrated);

  // The grey value a pixel of that intensity receives in the section (log
  // compression, rounded, clamped to 0 .. 255).
  static unsigned char greyOf(double intensity, Section section = Section::Calibrated);

private:
  void checkIndex(int index) const;
  std::vector<int> displacement(int index) const;
  velIPL::GImage calibratedFrame(int index, const std::vector<int>& d, int t, int dropFirst, int dropEnd) const;

  SimulationParameters parameters_;
  // Rows of the section kept above and below the frame, for content moved in.
  int margin_;
  // Per section row, over height + 2 * margin rows: the mean intensity of
  // the noise.
  std::vector<double> floor_;
  // Per section pixel, row-major over height + 2 * margin rows: the mean
  // intensity, and the grey value the log compression gives it.
  std::vector<double> meanIntensity_;
  std::vector<double> logGrey_;
  // The neighbouring section's, when a section frame is asked for.
  std::vector<double> otherMeanIntensity_;
  std::vector<double> otherLogGrey_;
  std::vector<std::pair<int, BadFrame>> bad_;
};

}  // namespace lumifold
