#include "merge/fast/anterior_edge_fast.h"

#include <algorithm>

#include "merge/anterior_edge.h"
#include "merge/fast/batch_lanes.h"

namespace lumifold {

namespace {

constexpr int kEdgeBlock = 64;

// Edges of columns x0 .. x0 + n - 1 (n <= kEdgeBlock) into edges[0 .. n - 1].
LUMIFOLD_LANE_KERNEL void edgesOfBlock(const velIPL::GImage& image, int x0, int n, int* edges) {
  unsigned char found[kEdgeBlock] = {};
  for (int i = 0; i < n; ++i) edges[i] = 0;
  int missing = n;
  for (int y = 0; y < image.height() && missing > 0; ++y) {
    const unsigned char* row = image.row(y) + x0;
    // Most rows hold no new edge; finding that out is one vector pass.
    unsigned char any = 0;
    for (int i = 0; i < n; ++i) any |= static_cast<unsigned char>((row[i] >= kEdgeGrey) & (found[i] ^ 1));
    if (!any) continue;
    for (int i = 0; i < n; ++i) {
      if (row[i] >= kEdgeGrey && !found[i]) {
        edges[i] = y;
        found[i] = 1;
        --missing;
      }
    }
  }
}

}  // namespace

mathORN::RowVector anteriorEdges(const velIPL::GImage& image, WorkerPool& pool) {
  const int w = image.width();
  mathORN::RowVector edges(w);
  pool.run((w + kEdgeBlock - 1) / kEdgeBlock, [&](int block, int) {
    const int x0 = block * kEdgeBlock;
    const int n = std::min(kEdgeBlock, w - x0);
    int found[kEdgeBlock];
    edgesOfBlock(image, x0, n, found);
    for (int i = 0; i < n; ++i) edges[x0 + i] = found[i];
  });
  return edges;
}

}  // namespace lumifold
