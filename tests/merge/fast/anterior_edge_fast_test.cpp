// The pooled edge profile against the literal scan it must equal.
#include "merge/fast/anterior_edge_fast.h"

#include <gtest/gtest.h>

#include "merge/anterior_edge.h"

using lumifold::anteriorEdges;
using mathORN::RowVector;
using velIPL::GImage;

TEST(AnteriorEdge, PooledProfileEqualsColumnByColumnScan) {
  unsigned state = 777;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  lumifold::WorkerPool pool(2);
  for (int round = 0; round < 30; ++round) {
    const int w = 1 + static_cast<int>(next() % 200), h = 1 + static_cast<int>(next() % 60);
    GImage image(w, h, 0);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        // Mostly below the threshold, 199 and 200 often, some columns never bright.
        const unsigned r = next() % 100;
        image.at(x, y) = static_cast<unsigned char>(x % 7 == 3 ? r : (r < 3 ? 200 - r % 2 : (r < 5 ? 255 : r)));
      }
    }
    const RowVector expected = anteriorEdges(image);
    const RowVector actual = anteriorEdges(image, pool);
    ASSERT_EQ(actual.size(), expected.size());
    for (int x = 0; x < w; ++x) ASSERT_EQ(actual[x], expected[x]) << round << ": column " << x;
  }
  EXPECT_EQ(anteriorEdges(GImage(), pool).size(), 0);
}
