// The anterior-edge profile of anterior_edge.h, with blocks of columns
// shared out over a pool.
#pragma once

#include "ipl/images.h"
#include "math/row_vector.h"
#include "merge/fast/worker_pool.h"

namespace lumifold {

// anteriorEdges(image), each block of columns scanned a row at a time until
// all of its columns have their edge.
mathORN::RowVector anteriorEdges(const velIPL::GImage& image, WorkerPool& pool);

}  // namespace lumifold
