#include "merge/column_transform.h"

#include <cmath>
#include <vector>

#include "ipl/ipl_exception.h"

namespace lumifold {

using mathORN::ColVector;
using mathORN::Complex;
using mathORN::CplxVector;

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kSigma = 20.0;

void fillTwiddles(CplxVector& table, double a) {
  for (int j = 0; j < table.size(); ++j) {
    const double angle = static_cast<double>(j) * a;
    table[j] = Complex(std::cos(angle), std::sin(angle));
  }
}

}  // namespace

int transformLength(int h) {
  int m = 1;
  while (m < h || m < 2) m *= 2;
  return m;
}

void columnWindow(int h, std::vector<int>& source, std::vector<double>& window) {
  const int m = transformLength(h);
  source.resize(m);
  window.resize(m);
  // The tail beyond h repeats the first m - h samples, windowed as at their
  // own positions; m < 2h keeps r inside the column.
  const double step = kTwoPi / (h - 1);
  for (int i = 0; i < m; ++i) {
    const int r = i < h ? i : i - h;
    source[i] = r;
    window[i] = (1.0 - std::cos(r * step)) * 0.5;
  }
}

void columnSpectra(const velIPL::GImage& image, velIPL::CImage& spectra) {
  const int w = image.width();
  const int h = image.height();
  if (h < 2) throw velIPL::IPLException("Image must have at least 2 rows");
  const int m = transformLength(h);
  spectra = velIPL::CImage(w, m, Complex(0.0, 0.0));

  CplxVector forward(m);
  forwardTwiddles(forward);

  // The window depends on the index only, so it is worked out once for all
  // columns.
  std::vector<int> source;
  std::vector<double> window;
  columnWindow(h, source, window);

  const double third = 1.0 / 3.0;
  CplxVector signal(m);
  for (int x = 0; x < w; ++x) {
    const bool border = x == 0 || x == w - 1;
    for (int i = 0; i < m; ++i) {
      const int r = source[i];
      double v;
      if (border) {
        v = image.at(x, r);
      } else {
        const int sum = image.at(x - 1, r) + image.at(x, r) + image.at(x + 1, r);
        v = sum * third;
      }
      signal[i] = Complex(v * window[i], 0.0);
    }
    const CplxVector transformed = fft(signal, forward);
    for (int k = 0; k < m; ++k) spectra.at(x, k) = transformed[k];
  }
}

void forwardTwiddles(CplxVector& table) { fillTwiddles(table, kTwoPi / table.size()); }

void inverseTwiddles(CplxVector& table) { fillTwiddles(table, -kTwoPi / table.size()); }

CplxVector fft(const CplxVector& input, const CplxVector& table) {
  CplxVector x(input);
  const int n = x.size();

  int j = 0;
  for (int i = 0; i < n - 1; ++i) {
    if (i < j) std::swap(x[i], x[j]);
    int k = n / 2;
    while (k <= j) {
      j -= k;
      k /= 2;
    }
    j += k;
  }

  for (int m = 1; m < n; m *= 2) {
    for (int k = 0; k < m; ++k) {
      const Complex w = table[(n / 2) / m * k];
      for (int i = k; i < n; i += 2 * m) {
        const Complex t = x[i + m] * w;
        x[i + m] = x[i] - t;
        x[i] = x[i] + t;
      }
    }
  }
  return x;
}

CplxVector inverseFft(const CplxVector& x, const CplxVector& table) {
  CplxVector result = fft(x, table);
  result /= Complex(x.size(), 0.0);
  return result;
}

CplxVector frequencyWeights(int n) {
  const int half = n / 2;
  const double den = 2.0 * kSigma * kSigma / half / half;
  CplxVector weights(n);
  for (int k = 0; k < n; ++k) {
    const double f = k < half ? static_cast<double>(k) / half : static_cast<double>(k - n) / half;
    weights[k] = Complex(std::exp(-f * f / den), 0.0);
  }
  return weights;
}

ColVector crossCorrelate(const CplxVector& r, const CplxVector& i) {
  CplxVector inverse(r.size());
  inverseTwiddles(inverse);
  return crossCorrelate(r, i, frequencyWeights(r.size()), inverse);
}

ColVector crossCorrelate(const CplxVector& r, const CplxVector& i, const CplxVector& weights,
                         const CplxVector& inverseTable) {
  CplxVector p = r * conj(i);
  p /= abs(p) + Complex(kPhaseStabiliser, 0.0);
  p *= weights;
  const CplxVector c = inverseFft(p, inverseTable);
  return real(abs(c));
}

int peakLag(const ColVector& magnitudes) {
  double best = 0.0;
  int lag = 0;
  for (int k = 0; k < magnitudes.size(); ++k) {
    if (magnitudes[k] > best) {
      best = magnitudes[k];
      lag = k;
    }
  }
  return lag;
}

int wrapLag(int lag, int m) { return lag > m / 2 ? lag - m : lag; }

}  // namespace lumifold
