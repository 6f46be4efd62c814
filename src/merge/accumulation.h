// The two steps of a merge that both registrations share: adding an image,
// moved column by column by its shift profile, into the running sum, and
// turning the sum into the averaged grey image.
#pragma once

#include "ipl/images.h"
#include "math/row_vector.h"
#include "merge/worker_pool.h"

namespace lumifold {

// For every pixel (x, y) of the accumulator, adds image(x, y - s[x]) when
// that row lies inside the image; rows whose source falls outside receive
// nothing. s holds whole numbers. Throws velIPL::IPLException("Image has
// not same dimensions as reference image") when the image's size differs
// from the accumulator's, and mathORN::MathException("Incompatible vector
// size") when s does not hold one shift per column, before adding anything.
void accumulateShifted(velIPL::DImage& accumulator, const velIPL::GImage& image,
                       const mathORN::RowVector& s);

// The same sums, with the rows shared out over pool: columns are taken in
// runs of equal shift, each run of a row added as one contiguous stretch.
// Each pixel still receives exactly one addition of the same value. Same
// checks and exceptions as above; a profile that is not all whole numbers
// goes the straightforward way.
void accumulateShifted(velIPL::DImage& accumulator, const velIPL::GImage& image, const mathORN::RowVector& s,
                       WorkerPool& pool);

// round(sum / imageCount), halves away from zero, clamped at 255. The
// divisor is always imageCount, also where shifted images contributed
// nothing, so edge rows of moved frames come out darker.
velIPL::GImage averageResult(const velIPL::DImage& accumulator, int imageCount);

// The same image, rows shared out over pool, the rounding done inline on
// whole rows for the quotients from 0 to 1e10 (all a merge produces) and by
// mathORN::round for any other.
velIPL::GImage averageResult(const velIPL::DImage& accumulator, int imageCount, WorkerPool& pool);

}  // namespace lumifold
