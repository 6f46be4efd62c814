// The rejection rule on measures chosen by hand, and the image-quality
// figures on an image whose regions and noise are known.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "merge/frame_quality.h"
#include "merge/image_quality.h"

using lumifold::FrameQuality;
using lumifold::RegistrationKind;

namespace {

std::vector<FrameQuality> series(int n) {
  std::vector<FrameQuality> frames(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    FrameQuality& q = frames[static_cast<std::size_t>(i)];
    q.frame = i + 1;
    // A little spread, as real frames have.
    q.correlation = 0.95 + 0.002 * (i % 3);
    q.relativeIntensity = 1.0 + 0.003 * (i % 2);
    q.weakestBand = 0.96;
    q.profileCorrelation = 0.8 + 0.01 * (i % 4);
    q.edgeShare = 0.99;
    q.structureCorrelation = 0.6 + 0.01 * (i % 3);
    q.weakestBandCorrelation = 0.8;
  }
  return frames;
}

}  // namespace

TEST(FrameQuality, RejectionDropsOutliersAndFloorsOnly) {
  struct Case {
    const char* what;
    int frames;
    double FrameQuality::*measure;
    double value;
    RegistrationKind kind;
    bool dropped;
    const char* reason;  // the start of it
    bool thorough = false;
  };
  const Case cases[] = {
      {"ordinary", 10, &FrameQuality::correlation, 0.95, RegistrationKind::Correlation, false, ""},
      {"dropout band", 10, &FrameQuality::weakestBand, 0.6, RegistrationKind::Correlation, true, "weakest band"},
      {"band within the gap", 10, &FrameQuality::weakestBand, 0.75, RegistrationKind::Correlation, false, ""},
      {"another section", 10, &FrameQuality::profileCorrelation, 0.4, RegistrationKind::Correlation, true,
       "profile correlation"},
      {"dark", 10, &FrameQuality::relativeIntensity, 0.8, RegistrationKind::AnteriorEdge, true, "relative intensity"},
      {"no edge", 10, &FrameQuality::edgeShare, 0.2, RegistrationKind::AnteriorEdge, true, "edge share"},
      {"edge share is no criterion of the correlation", 10, &FrameQuality::edgeShare, 0.2,
       RegistrationKind::Correlation, false, ""},
      {"too few for a spread: the floor", 3, &FrameQuality::relativeIntensity, 0.4, RegistrationKind::Correlation,
       true, "relative intensity 0.4 below the floor"},
      {"too few for a spread: no outlier", 3, &FrameQuality::weakestBand, 0.6, RegistrationKind::Correlation,
       false, ""},
      {"not measurable decides nothing", 10, &FrameQuality::correlation, std::nan(""), RegistrationKind::Correlation,
       false, ""},
      // The thorough measures: below a share of the best frame's value.
      {"another eye's B-scan", 10, &FrameQuality::structureCorrelation, 0.4, RegistrationKind::AnteriorEdge, true,
       "structure correlation 0.4 below the series' limit", true},
      {"structure within its share", 10, &FrameQuality::structureCorrelation, 0.5, RegistrationKind::Correlation,
       false, "", true},
      {"a band without structure", 10, &FrameQuality::weakestBandCorrelation, 0.15, RegistrationKind::AnteriorEdge, true,
       "weakest band correlation 0.15 below the floor", true},
      {"a band below its share", 3, &FrameQuality::weakestBandCorrelation, 0.5, RegistrationKind::Correlation, true,
       "weakest band correlation 0.5 below the series' limit", true},
      {"a band within its share", 3, &FrameQuality::weakestBandCorrelation, 0.55, RegistrationKind::AnteriorEdge, false,
       "", true},
      {"a plain merge's rule ignores them", 10, &FrameQuality::structureCorrelation, 0.05,
       RegistrationKind::Correlation, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<FrameQuality> frames = series(c.frames);
    frames[1].*c.measure = c.value;
    lumifold::rejectOutliers(frames, c.kind, c.thorough);
    for (std::size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(frames[i].dropped, i == 1 && c.dropped) << i;
    }
    EXPECT_EQ(frames[1].reason.rfind(c.reason, 0), 0u) << frames[1].reason;
  }
}

TEST(ImageQuality, FindsTheRegionsAndComputesTheFigures) {
  // Rows 0-39 background alternating 8 and 12 in even rows, 12 and 16 in
  // odd ones (mean 12, deviation 2 within each row, more over all rows),
  // tissue from row 40: rows 60-67 the brightest band at 200, the rest 150.
  const int w = 64, h = 160;
  velIPL::DImage image(w, h, 150.0);
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < w; ++x) image.at(x, y) = (x % 2) ? 14.0 : 10.0;
    for (int x = 0; x < w; ++x) image.at(x, y) += y % 2 ? 2.0 : -2.0;
  }
  for (int y = 60; y < 68; ++y) {
    for (int x = 0; x < w; ++x) image.at(x, y) = 200.0;
  }
  const lumifold::QualityRegions r = lumifold::findQualityRegions(image);
  for (int x = 0; x < w; ++x) {
    EXPECT_NEAR(r.edges[x], 40, 1) << x;
    EXPECT_GE(r.tissueTop[x], 60);
    EXPECT_LE(r.tissueTop[x] + r.bandRows, 68);
  }
  const lumifold::QualityFigures f = lumifold::measureQuality(image, r);
  EXPECT_DOUBLE_EQ(f.tissueMean, 200.0);
  EXPECT_NEAR(f.backgroundMean, 12.0, 0.1);
  EXPECT_DOUBLE_EQ(f.backgroundDeviation, 2.0);
  EXPECT_NEAR(f.snrDb, 20.0 * std::log10(100.0), 1e-9);
  // CNR's noise is the pooled deviation too, not the spread across rows.
  EXPECT_NEAR(f.cnr, (200.0 - f.backgroundMean) / 2.0, 1e-9);
  // A uniform band has no variance to give looks.
  EXPECT_EQ(f.enl, 0.0);

  // Halving the background's noise gains 20 log10 2 dB.
  velIPL::DImage quieter = image;
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < w; ++x) quieter.at(x, y) = (x % 2) ? 13.0 : 11.0;
  }
  const lumifold::ImageQuality q = lumifold::assessMerge(quieter, image);
  EXPECT_NEAR(q.snrGainDb, 20.0 * std::log10(2.0), 1e-9);

  // A faint layer in rows 20-39 of some columns, below the edge's threshold:
  // the edge passes it, the background must not take it in as noise.
  velIPL::DImage layered = image;
  for (int y = 20; y < 40; ++y) {
    for (int x = 0; x < 16; ++x) layered.at(x, y) = 60.0;
  }
  const lumifold::QualityRegions lr = lumifold::findQualityRegions(layered);
  EXPECT_GT(lr.edges[0], 30);
  EXPECT_LE(lr.backgroundEnd[0], 20 - lr.backgroundGap);
  EXPECT_NEAR(lumifold::measureQuality(layered, lr).backgroundDeviation, 2.0, 1e-12);
}

TEST(FrameQuality, ABandIsJudgedByItsLayersWhereverTheRegistrationPutIt) {
  // Layers of 6 rows at random greys with a little grain; columns 96-111
  // (one of the 16 bands) either moved 8 rows down, as a band bent by
  // motion is, or left with only a noise floor darkening with depth.
  const int w = 256, h = 160;
  std::uint32_t state = 7;
  const auto next = [&state] { return (state = state * 1664525u + 1013904223u) >> 24; };
  std::vector<int> layer(static_cast<std::size_t>(h / 6 + 1));
  for (int& g : layer) g = 40 + static_cast<int>(next() * 180 / 256);
  velIPL::GImage reference(w, h, 0), moved(w, h, 0), empty(w, h, 0);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const auto grey = [&](int row) { return static_cast<unsigned char>(layer[static_cast<std::size_t>(row / 6)] + next() % 16); };
      reference.at(x, y) = grey(y);
      const bool band = x >= 96 && x < 112;
      moved.at(x, y) = band ? grey(std::max(0, y - 8)) : grey(y);
      empty.at(x, y) = band ? static_cast<unsigned char>(90 - y / 4 + next() % 16) : grey(y);
    }
  }
  const mathORN::RowVector none(w);
  // Shifts that misplace the band by 30 rows more, as the anterior edge's
  // can: the band is judged where the frame's structure puts it.
  mathORN::RowVector wrong(w);
  for (int x = 96; x < 112; ++x) wrong[x] = 30;
  const lumifold::FrameQualityMeter meter(reference, RegistrationKind::AnteriorEdge, true);
  EXPECT_GT(meter.measure(1, moved, none, none, none, 0, w).weakestBandCorrelation, 0.8);
  EXPECT_GT(meter.measure(1, moved, wrong, wrong, wrong, 0, w).weakestBandCorrelation, 0.8);
  EXPECT_LT(meter.measure(2, empty, none, none, none, 0, w).weakestBandCorrelation, 0.3);
}
