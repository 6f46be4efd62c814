// The two steps of a merge that both registrations share: adding an image,
// moved column by column by its shift profile, into the running sum, and
// turning the sum into the averaged grey image.
#pragma once

#include "ipl/image_decoder.h"
#include "ipl/images.h"
#include "math/row_vector.h"

namespace lumifold {

// A column's shift as the sums use it: shifts are whole rows, and one
// beyond the height already moves a column out entirely, so clamping to
// +-(height + 1) keeps an integer conversion in range without changing
// which rows contribute; a NaN moves the column out too.
inline double clampedShift(double shift, int height) {
  const double limit = static_cast<double>(height) + 1.0;
  return shift != shift ? limit : (shift > limit ? limit : (shift < -limit ? -limit : shift));
}

// For every pixel (x, y) of the accumulator, adds image(x, y - s[x]) when
// that row lies inside the image; rows whose source falls outside receive
// nothing. s holds whole numbers. Throws velIPL::IPLException("Image has
// not same dimensions as reference image") when the image's size differs
// from the accumulator's, and mathORN::MathException("Incompatible vector
// size") when s does not hold one shift per column, before adding anything.
void accumulateShifted(velIPL::DImage& accumulator, const velIPL::GImage& image,
                       const mathORN::RowVector& s);
// The same for the full values of a 16-bit frame.
void accumulateShifted(velIPL::DImage& accumulator, const velIPL::G16Image& image,
                       const mathORN::RowVector& s);

// The checks accumulateShifted makes before adding anything, with the same
// exceptions.
void requireShiftable(const velIPL::DImage& accumulator, const velIPL::GImage& image, const mathORN::RowVector& s);

// round(sum / imageCount), halves away from zero, clamped at 255. The
// divisor is always imageCount, also where shifted images contributed
// nothing, so edge rows of moved frames come out darker.
velIPL::GImage averageResult(const velIPL::DImage& accumulator, int imageCount);

// The same rounding for a 16-bit series, clamped at 65535.
velIPL::G16Image averageResult16(const velIPL::DImage& accumulator, int imageCount);

}  // namespace lumifold
