// makeScaleChart: a picture of the six colour scales, one strip per scale
// with its name beside it, like the previews on the desktop program's
// Settings page. Strip column g is exactly the colour of grey value g in that
// scale's table. Names are drawn with a small built-in pixel font, so the
// command line needs no font library.
#pragma once

#include "ipl/images.h"

namespace lumifold {

struct ScaleChartLayout {
  static constexpr int kMargin = 10;
  static constexpr int kStripX = 190;      // left edge of every strip
  static constexpr int kStripWidth = 256;  // one column per grey value
  static constexpr int kStripHeight = 20;
  static constexpr int kRowPitch = 36;     // distance between strip tops
  static constexpr int kWidth = kStripX + kStripWidth + kMargin;
  static constexpr int kHeight = 2 * kMargin + 5 * kRowPitch + kStripHeight;
  // Top row of strip index (0 .. 5).
  static constexpr int stripTop(int index) { return kMargin + index * kRowPitch; }
};

velIPL::RGBImage makeScaleChart();

}  // namespace lumifold
