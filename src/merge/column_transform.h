// The numerical core of the correlation registration: every column (A-scan)
// of a grey image becomes a power-of-two spectrum, and one column spectrum of
// the reference is compared with the same column of another image by the
// phase-normalised, frequency-weighted cross-correlation, giving one
// magnitude per axial lag.
//
// The arithmetic is deliberately literal (order of operations, the table
// angles, the stabiliser 2.2204e-16), because merged images are compared
// value for value between installations and over time. Nothing here keeps
// state between calls. Only columnSpectra throws on its own (images of fewer
// than two rows); the vector operations throw MathException("Incompatible
// vector size") when lengths differ.
#pragma once

#include <vector>

#include "ipl/images.h"
#include "math/col_vector.h"
#include "math/cplx_vector.h"

namespace lumifold {

// Added to every magnitude before the phase normalisation: the literal, not
// machine epsilon, since the last bits of every magnitude depend on it.
inline constexpr double kPhaseStabiliser = 2.2204e-16;

// The smallest power of two that is >= h, and never less than 2.
int transformLength(int h);

// The window of a column of h >= 2 rows padded to m = transformLength(h)
// samples: sample i is the column's row source[i] (i, or i - h in the padded
// tail) weighted by window[i].
void columnWindow(int h, std::vector<int>& source, std::vector<double>& window);

// Replaces spectra by a width x M image, M = transformLength(height):
// column x, row k holds the k-th transform value of the windowed column x
// (averaged with its two neighbours except in the first and last column).
// Throws velIPL::IPLException("Image must have at least 2 rows") for an
// image of height 0 or 1, whose window is undefined.
void columnSpectra(const velIPL::GImage& image, velIPL::CImage& spectra);

// Fill a table of table.size() elements, j -> (cos(j*a), sin(j*a)) with
// a = +2*pi/M (forward) or -2*pi/M (inverse).
void forwardTwiddles(mathORN::CplxVector& table);
void inverseTwiddles(mathORN::CplxVector& table);

// The unscaled radix-2 transform of x (size a power of two) with a twiddle
// table of the same size. With the forward table X[k] = sum x[t] e^(+2 pi i k t / n).
mathORN::CplxVector fft(const mathORN::CplxVector& x, const mathORN::CplxVector& table);
// fft(x, table) divided by the complex (n, 0).
mathORN::CplxVector inverseFft(const mathORN::CplxVector& x, const mathORN::CplxVector& table);

// The Gaussian low-pass of sigma = 20 bins over the signed bin index,
// as (g, 0) elements.
mathORN::CplxVector frequencyWeights(int n);

// The magnitudes |c[k]| of the phase-normalised, weighted cross-correlation
// of the reference spectrum r and the image spectrum i (same length n, a
// power of two): the peak lies at the lag k for which the reference's signal
// at t + k matches the image's at t, modulo n.
mathORN::ColVector crossCorrelate(const mathORN::CplxVector& r, const mathORN::CplxVector& i);
// The same, with the weights and inverse table of length n built once by the
// caller and reused for every column; the result is identical.
mathORN::ColVector crossCorrelate(const mathORN::CplxVector& r, const mathORN::CplxVector& i,
                                  const mathORN::CplxVector& weights,
                                  const mathORN::CplxVector& inverseTable);

// The first index holding the largest magnitude; 0 when all are 0.
int peakLag(const mathORN::ColVector& magnitudes);

// A lag of an m-point correlation as a signed row shift: lags above m / 2
// become lag - m, so shifts lie in -(m/2 - 1) .. +m/2.
int wrapLag(int lag, int m);

}  // namespace lumifold
