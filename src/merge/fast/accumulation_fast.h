// The two accumulation steps of accumulation.h with the rows shared out
// over a pool.
#pragma once

#include "ipl/images.h"
#include "math/row_vector.h"
#include "merge/fast/worker_pool.h"

namespace lumifold {

// accumulateShifted(accumulator, image, s): columns are taken in runs of
// equal shift, each run of a row added as one contiguous stretch, and each
// pixel still receives exactly one addition of the same value. Same checks
// and exceptions; a profile that is not all whole numbers goes the
// straightforward way.
void accumulateShifted(velIPL::DImage& accumulator, const velIPL::GImage& image, const mathORN::RowVector& s,
                       WorkerPool& pool);

// averageResult(accumulator, imageCount), the rounding done inline on whole
// rows for the quotients from 0 to 1e10 (all a merge produces) and by
// mathORN::round for any other.
velIPL::GImage averageResult(const velIPL::DImage& accumulator, int imageCount, WorkerPool& pool);

}  // namespace lumifold
