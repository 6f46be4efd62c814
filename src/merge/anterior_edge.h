// The anterior edge of a B-scan: in every column, the first row from the top
// whose grey value reaches kEdgeGrey. The edge-based registration aligns
// these rows between an image and the reference.
#pragma once

#include "ipl/images.h"
#include "math/row_vector.h"

namespace lumifold {

// The grey value at which a pixel counts as the edge.
inline constexpr int kEdgeGrey = 200;

// One element per column: the row of the first pixel >= kEdgeGrey scanning
// down from row 0, or 0 when no pixel of the column reaches it (the same
// value as a bright top pixel). Never throws.
mathORN::RowVector anteriorEdges(const velIPL::GImage& image);

}  // namespace lumifold
