#include "merge/anterior_edge.h"

#include <vector>

namespace lumifold {

mathORN::RowVector anteriorEdges(const velIPL::GImage& image) {
  const int w = image.width();
  const int h = image.height();
  mathORN::RowVector edges(w);
  // Row by row, so that the image is read in storage order; a column's edge
  // is set once, at the first qualifying row.
  int found = 0;
  std::vector<bool> done(static_cast<std::size_t>(w), false);
  for (int y = 0; y < h && found < w; ++y) {
    const unsigned char* row = image.row(y);
    for (int x = 0; x < w; ++x) {
      if (!done[x] && static_cast<double>(row[x]) >= kEdgeGrey) {
        edges[x] = y;
        done[x] = true;
        ++found;
      }
    }
  }
  return edges;
}

}  // namespace lumifold
