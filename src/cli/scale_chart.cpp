#include "cli/scale_chart.h"

#include <cstring>
#include <string_view>

#include "color/color_scales.h"

namespace lumifold {

namespace {

struct Glyph {
  char c;
  const char* rows[7];
};

// 5 x 7 glyphs for the letters the scale names use; '#' is ink.
constexpr Glyph kGlyphs[] = {
    {'B', {"####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."}},
    {'C', {".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'W', {"#...#", "#...#", "#...#", "#.#.#", "#.#.#", "##.##", "#...#"}},
    {'a', {".....", ".....", ".###.", "....#", ".####", "#...#", ".####"}},
    {'b', {"#....", "#....", "#.##.", "##..#", "#...#", "#...#", "####."}},
    {'c', {".....", ".....", ".###.", "#....", "#....", "#...#", ".###."}},
    {'d', {"....#", "....#", ".##.#", "#..##", "#...#", "#...#", ".####"}},
    {'e', {".....", ".....", ".###.", "#...#", "#####", "#....", ".###."}},
    {'h', {"#....", "#....", "#.##.", "##..#", "#...#", "#...#", "#...#"}},
    {'i', {"..#..", ".....", ".##..", "..#..", "..#..", "..#..", ".###."}},
    {'k', {"#....", "#....", "#..#.", "#.#..", "##...", "#.#..", "#..#."}},
    {'l', {".##..", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'n', {".....", ".....", "#.##.", "##..#", "#...#", "#...#", "#...#"}},
    {'o', {".....", ".....", ".###.", "#...#", "#...#", "#...#", ".###."}},
    {'r', {".....", ".....", "#.##.", "##..#", "#....", "#....", "#...."}},
    {'s', {".....", ".....", ".####", "#....", ".###.", "....#", "####."}},
    {'t', {".#...", ".#...", "###..", ".#...", ".#...", ".#..#", "..##."}},
    {'u', {".....", ".....", "#...#", "#...#", "#...#", "#..##", ".##.#"}},
    {'w', {".....", ".....", "#...#", "#...#", "#.#.#", "#.#.#", ".#.#."}},
};

constexpr int kPixel = 2;  // each font pixel is drawn as kPixel x kPixel
constexpr int kAdvance = 6 * kPixel;

const Glyph* glyphFor(char c) {
  for (const Glyph& g : kGlyphs) {
    if (g.c == c) return &g;
  }
  return nullptr;
}

void fill(velIPL::RGBImage& image, int x0, int y0, int w, int h, unsigned char r, unsigned char g, unsigned char b) {
  for (int y = y0; y < y0 + h; ++y) {
    for (int x = x0; x < x0 + w; ++x) {
      image.at(x, y, 0) = r;
      image.at(x, y, 1) = g;
      image.at(x, y, 2) = b;
    }
  }
}

// Draws text in black with its top-left corner at (x, y). Characters
// without a glyph (the space) leave a gap.
void drawText(velIPL::RGBImage& image, int x, int y, std::string_view text) {
  for (char c : text) {
    if (const Glyph* glyph = glyphFor(c)) {
      for (int row = 0; row < 7; ++row) {
        for (int col = 0; col < 5; ++col) {
          if (glyph->rows[row][col] == '#') fill(image, x + col * kPixel, y + row * kPixel, kPixel, kPixel, 0, 0, 0);
        }
      }
    }
    x += kAdvance;
  }
}

}  // namespace

velIPL::RGBImage makeScaleChart() {
  using L = ScaleChartLayout;
  velIPL::RGBImage chart(L::kWidth, L::kHeight, 255);
  for (int i = 0; i < kColorScaleCount; ++i) {
    const ColorScale& scale = kColorScales[static_cast<std::size_t>(i)];
    const velIPL::RGBImage table = scale.build();
    const int top = L::stripTop(i);
    for (int y = top; y < top + L::kStripHeight; ++y) {
      for (int g = 0; g < L::kStripWidth; ++g) {
        for (int c = 0; c < 3; ++c) chart.at(L::kStripX + g, y, c) = table.at(g, 0, c);
      }
    }
    // Names are centred on their strip.
    drawText(chart, L::kMargin, top + (L::kStripHeight - 7 * kPixel) / 2, scale.name);
  }
  return chart;
}

}  // namespace lumifold
