// The six output colour scales: colour tables that turn the 8-bit grey
// result of a merge into a picture.
//
// A colour table is an RGBImage 256 wide and 3 high; row 0, column g holds
// the colour of grey value g (channel 0 red, 1 green, 2 blue). Rows 1 and 2
// are 0 and never read. Four scales are cubic splines through constant node
// tables, two are plain ramps. Every builder returns a fresh table; nothing
// is cached, and nothing here throws except std::bad_alloc.
#pragma once

#include "ipl/images.h"

namespace lumifold {

inline constexpr int kColorScaleCount = 6;

// The scale names in item order: index i of this table is what
// SelectedColorScale(i) builds.
extern const char* const kColorScaleNames[kColorScaleCount];

// Spline through 30 nodes, sampled evenly over the node range and truncated.
velIPL::RGBImage MakeRainbowScale();
// Splines through nodes placed on the grey axis, rounded.
velIPL::RGBImage MakeRedEnhancedScale();
velIPL::RGBImage MakeBlueEnhancedScale();
velIPL::RGBImage MakeCirrusLikeScale();
// Grey g gives (g, g, g).
velIPL::RGBImage MakeWhiteOnBlackScale();
// Grey g gives (255 - g, 255 - g, 255 - g).
velIPL::RGBImage MakeBlackOnWhiteScale();

// The table of scale itemIndex (0..5, the order of kColorScaleNames); any
// other index, -1 for "nothing selected" included, gives Rainbow.
velIPL::RGBImage SelectedColorScale(int itemIndex);

// A new picture of grey's size whose pixel (x, y) is the colour of grey value
// grey.at(x, y) in table. The table must be a colour table as above.
velIPL::RGBImage ApplyColorScale(const velIPL::RGBImage& table, const velIPL::GImage& grey);

}  // namespace lumifold
