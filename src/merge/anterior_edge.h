// The anterior edge of a B-scan: in every column, the first row from the top
// whose grey value reaches 200. The edge-based registration aligns these
// rows between an image and the reference.
#pragma once

#include "ipl/images.h"
#include "math/row_vector.h"
#include "merge/worker_pool.h"

namespace lumifold {

// One element per column: the row of the first pixel >= 200 scanning down
// from row 0, or 0 when no pixel of the column reaches it (the same value
// as a bright top pixel). Never throws.
mathORN::RowVector anteriorEdges(const velIPL::GImage& image);

// The same profile, with blocks of columns shared out over pool, each block
// scanned a row at a time until all of its columns have their edge.
mathORN::RowVector anteriorEdges(const velIPL::GImage& image, WorkerPool& pool);

}  // namespace lumifold
