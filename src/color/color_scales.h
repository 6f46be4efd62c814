// The six output colour scales: colour tables that turn the 8-bit grey
// result of a merge into a picture.
//
// A colour table is an RGBImage 256 wide and 3 high; row 0, column g holds
// the colour of grey value g (channel 0 red, 1 green, 2 blue). Rows 1 and 2
// are 0 and never read. Four scales are cubic splines through constant node
// tables, two are plain ramps. Every builder returns a fresh table; nothing
// is cached, and nothing here throws except std::bad_alloc.
#pragma once

#include <array>
#include <string_view>

#include "ipl/images.h"

namespace lumifold {

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

// The colour scales in item order: the Settings page's items and strips,
// the command line's --scale values and the chart of lumifold-cli scales are
// all made from this table. A new scale is one builder and one entry here
// (and, on the Settings page, room for one more item and strip).
struct ColorScale {
  const char* key;                // --scale value: "red-enhanced"
  const char* name;               // item caption: "Red Enhanced"
  velIPL::RGBImage (*build)();    // a fresh colour table
};

inline constexpr std::array<ColorScale, 6> kColorScales = {{
    {"rainbow", "Rainbow", MakeRainbowScale},
    {"red-enhanced", "Red Enhanced", MakeRedEnhancedScale},
    {"blue-enhanced", "Blue Enhanced", MakeBlueEnhancedScale},
    {"white-on-black", "White on black", MakeWhiteOnBlackScale},
    {"black-on-white", "Black on white", MakeBlackOnWhiteScale},
    {"cirrus-like", "Cirrus like", MakeCirrusLikeScale},
}};

inline constexpr int kColorScaleCount = static_cast<int>(kColorScales.size());

// The index of the scale whose key is key, or -1.
int colorScaleIndex(std::string_view key);

// The table of scale itemIndex (an index of kColorScales); any other index,
// -1 for "nothing selected" included, gives Rainbow.
velIPL::RGBImage SelectedColorScale(int itemIndex);

// A new picture of grey's size whose pixel (x, y) is the colour of grey value
// grey.at(x, y) in table. The table must be a colour table as above.
velIPL::RGBImage ApplyColorScale(const velIPL::RGBImage& table, const velIPL::GImage& grey);

}  // namespace lumifold
