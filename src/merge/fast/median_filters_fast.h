// The outlier correction of median_filters.h with the medians of
// kBatchLanes neighbouring windows taken at once.
#pragma once

#include "math/row_vector.h"

namespace lumifold {

// correctOutliers(s), one window per vector lane, through the same 99
// exchanges of kMedian25Network: the same profile, bit for bit.
void correctOutliersInLanes(mathORN::RowVector& s);

}  // namespace lumifold
