// The median filters that clean a shift profile across columns before an
// image is accumulated: a running median of 15 (both registrations) and an
// outlier correction against a median of 25 (anterior edge only).
//
// A shift profile holds one whole-row shift per column; both passes change
// it in place and never throw. Columns too close to either side for a full
// window keep their values.
#pragma once

#include <array>
#include <utility>
#include <vector>

#include "math/row_vector.h"

namespace lumifold {

// The running median takes kRunningHalf columns either side of each column;
// the outlier correction takes kOutlierHalf either side and replaces shifts
// more than kOutlierRows from that median.
inline constexpr int kRunningHalf = 7;
inline constexpr int kOutlierHalf = 12;
inline constexpr double kOutlierRows = 20.0;

// The 99 compare-exchange steps (a, b) of median25, in the order they run:
// each exchanges values[a] and values[b] when values[a] > values[b].
extern const std::array<std::pair<int, int>, 99> kMedian25Network;

// The element at index count / 2 of a sorted copy of values[0..count-1]
// (the upper middle for an even count); 0.0 for count 0. values is not
// changed.
double median(const double* values, int count);

// The median of values: the mean of the two middle ones for an even count;
// NaN when there are none.
double medianOf(std::vector<double> values);

// The 13th smallest of values[0..24] by a fixed 99-step selection network;
// values is partly reordered in place and values[12] holds the result.
double median25(double* values);

// Running median of 15 over columns 7 .. n - 8, left to right in place:
// each window already sees the filtered values to its left.
void smoothProfile(mathORN::RowVector& s);

// Replaces every shift that differs by more than 20 rows from the median of
// the 25 columns around it (columns 12 .. n - 13), with all windows taken
// from the unchanged profile.
void correctOutliers(mathORN::RowVector& s);

}  // namespace lumifold
