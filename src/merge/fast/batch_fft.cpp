#include "merge/fast/batch_fft.h"

#include "math/cplx_vector.h"
#include "merge/column_transform.h"
#include "merge/fast/batch_lanes.h"

namespace lumifold {

using namespace lanes;

namespace {

// t = b * w; b = a - t; a = a + t, with the products of the standard
// library's complex multiplication: (br wr - bi wi, br wi + bi wr).
LUMIFOLD_ALWAYS_INLINE void butterfly(Cv& a, Cv& b, double wr, double wi) {
  const Vec tr = b.re * wr - b.im * wi;
  const Vec ti = b.re * wi + b.im * wr;
  b.re = a.re - tr;
  b.im = a.im - ti;
  a.re = a.re + tr;
  a.im = a.im + ti;
}

// The same with the twiddle (1, 0), whose product is b itself.
LUMIFOLD_ALWAYS_INLINE void butterflyUnit(Cv& a, Cv& b) {
  const Cv t = b;
  b.re = a.re - t.re;
  b.im = a.im - t.im;
  a.re = a.re + t.re;
  a.im = a.im + t.im;
}

// Stage m alone.
LUMIFOLD_ALWAYS_INLINE void pass2(double* x, int n, int m, const double* wr, const double* wi) {
  for (int base = 0; base < n; base += 2 * m) {
    Cv a = get(x, base), b = get(x, base + m);
    butterflyUnit(a, b);
    put(x, base, a);
    put(x, base + m, b);
    for (int k = 1; k < m; ++k) {
      a = get(x, base + k);
      b = get(x, base + k + m);
      butterfly(a, b, wr[k], wi[k]);
      put(x, base + k, a);
      put(x, base + k + m, b);
    }
  }
}

// Stages m and 2m in one sweep: the four elements k, k + m, k + 2m, k + 3m of
// a block of 4m meet only each other in these two stages, so each group
// goes through its four butterflies while it sits in registers.
LUMIFOLD_ALWAYS_INLINE void pass4(double* x, int n, int m, const double* w1r, const double* w1i,
                                  const double* w2r, const double* w2i) {
  for (int base = 0; base < n; base += 4 * m) {
    Cv a0 = get(x, base), a1 = get(x, base + m), a2 = get(x, base + 2 * m), a3 = get(x, base + 3 * m);
    butterflyUnit(a0, a1);
    butterflyUnit(a2, a3);
    butterflyUnit(a0, a2);
    butterfly(a1, a3, w2r[m], w2i[m]);
    put(x, base, a0);
    put(x, base + m, a1);
    put(x, base + 2 * m, a2);
    put(x, base + 3 * m, a3);
    for (int k = 1; k < m; ++k) {
      const int i = base + k;
      a0 = get(x, i);
      a1 = get(x, i + m);
      a2 = get(x, i + 2 * m);
      a3 = get(x, i + 3 * m);
      butterfly(a0, a1, w1r[k], w1i[k]);
      butterfly(a2, a3, w1r[k], w1i[k]);
      butterfly(a0, a2, w2r[k], w2i[k]);
      butterfly(a1, a3, w2r[k + m], w2i[k + m]);
      put(x, i, a0);
      put(x, i + m, a1);
      put(x, i + 2 * m, a2);
      put(x, i + 3 * m, a3);
    }
  }
}

// Stages m, 2m and 4m in one sweep, the eight elements k + j m (j = 0 .. 7)
// of a block of 8m meeting only each other; as pass4, one level deeper.
LUMIFOLD_ALWAYS_INLINE void pass8(double* x, int n, int m, const double* wr, const double* wi) {
  const double* w1r = wr + m - 1;
  const double* w1i = wi + m - 1;
  const double* w2r = wr + 2 * m - 1;
  const double* w2i = wi + 2 * m - 1;
  const double* w4r = wr + 4 * m - 1;
  const double* w4i = wi + 4 * m - 1;
  for (int base = 0; base < n; base += 8 * m) {
    for (int k = 0; k < m; ++k) {
      const int i = base + k;
      Cv a[8];
      for (int j = 0; j < 8; ++j) a[j] = get(x, i + j * m);
      if (k == 0) {
        butterflyUnit(a[0], a[1]);
        butterflyUnit(a[2], a[3]);
        butterflyUnit(a[4], a[5]);
        butterflyUnit(a[6], a[7]);
        butterflyUnit(a[0], a[2]);
        butterfly(a[1], a[3], w2r[m], w2i[m]);
        butterflyUnit(a[4], a[6]);
        butterfly(a[5], a[7], w2r[m], w2i[m]);
        butterflyUnit(a[0], a[4]);
      } else {
        butterfly(a[0], a[1], w1r[k], w1i[k]);
        butterfly(a[2], a[3], w1r[k], w1i[k]);
        butterfly(a[4], a[5], w1r[k], w1i[k]);
        butterfly(a[6], a[7], w1r[k], w1i[k]);
        butterfly(a[0], a[2], w2r[k], w2i[k]);
        butterfly(a[1], a[3], w2r[k + m], w2i[k + m]);
        butterfly(a[4], a[6], w2r[k], w2i[k]);
        butterfly(a[5], a[7], w2r[k + m], w2i[k + m]);
        butterfly(a[0], a[4], w4r[k], w4i[k]);
      }
      butterfly(a[1], a[5], w4r[k + m], w4i[k + m]);
      butterfly(a[2], a[6], w4r[k + 2 * m], w4i[k + 2 * m]);
      butterfly(a[3], a[7], w4r[k + 3 * m], w4i[k + 3 * m]);
      for (int j = 0; j < 8; ++j) put(x, i + j * m, a[j]);
    }
  }
}

// The stages from m on; tables as in BatchFft (stage m at index m - 1).
LUMIFOLD_ALWAYS_INLINE void stagesFrom(double* x, int n, int m, const double* wr, const double* wi) {
  while (m < n) {
    if (4 * m < n) {
      pass8(x, n, m, wr, wi);
      m *= 8;
    } else if (2 * m < n) {
      pass4(x, n, m, wr + m - 1, wi + m - 1, wr + 2 * m - 1, wi + 2 * m - 1);
      m *= 4;
    } else {
      pass2(x, n, m, wr + m - 1, wi + m - 1);
      m *= 2;
    }
  }
}

LUMIFOLD_LANE_KERNEL void forwardRealKernel(const int* rows, const std::size_t* offset, const double* scale,
                                            const double* weight, double* x, int n, const double* wr,
                                            const double* wi) {
  const Vec zero = splat(0.0);
  const Vec laneScale = load(scale);
  const auto sample = [&](int j) {
    Ints v;
    std::memcpy(&v, rows + offset[j], sizeof v);
    return __builtin_convertvector(v, Vec) * laneScale * weight[j];
  };
  if (n == 2) {
    const Vec a0 = sample(0), a1 = sample(1);
    put(x, 0, {a0 + a1, zero});
    put(x, 1, {a0 - a1, zero});
    return;
  }
  // Stages 1 and 2 on real samples: stage 1 and the first butterfly of each
  // stage-2 pair use the twiddle (1, 0), the other one multiplies a real
  // value by table[n / 4].
  const double w2r = wr[2], w2i = wi[2];
  if (n == 4) {
    const Vec a0 = sample(0), a1 = sample(1), a2 = sample(2), a3 = sample(3);
    const Vec b0 = a0 + a1, b1 = a0 - a1, b2 = a2 + a3, b3 = a2 - a3;
    const Vec tr = b3 * w2r, ti = b3 * w2i;
    put(x, 0, {b0 + b2, zero});
    put(x, 1, {b1 + tr, ti});
    put(x, 2, {b0 - b2, zero});
    put(x, 3, {b1 - tr, -ti});
    return;
  }
  // Stage 4 as well: its pair k = 0 is still real with the unit twiddle,
  // pair k = 2 multiplies a real value, pairs 1 and 3 are whole butterflies.
  const double w41r = wr[4], w41i = wi[4], w42r = wr[5], w42i = wi[5], w43r = wr[6], w43i = wi[6];
  for (int base = 0; base < n; base += 8) {
    Vec a[8];
    for (int j = 0; j < 8; ++j) a[j] = sample(base + j);
    const Vec b0 = a[0] + a[1], b1 = a[0] - a[1], b2 = a[2] + a[3], b3 = a[2] - a[3];
    const Vec b4 = a[4] + a[5], b5 = a[4] - a[5], b6 = a[6] + a[7], b7 = a[6] - a[7];
    const Vec c0 = b0 + b2, c2 = b0 - b2, c4 = b4 + b6, c6 = b4 - b6;
    const Vec t3r = b3 * w2r, t3i = b3 * w2i, t7r = b7 * w2r, t7i = b7 * w2i;
    Cv c1{b1 + t3r, t3i}, c3{b1 - t3r, -t3i}, c5{b5 + t7r, t7i}, c7{b5 - t7r, -t7i};
    const Vec t6r = c6 * w42r, t6i = c6 * w42i;
    butterfly(c1, c5, w41r, w41i);
    butterfly(c3, c7, w43r, w43i);
    put(x, base, {c0 + c4, zero});
    put(x, base + 1, c1);
    put(x, base + 2, {c2 + t6r, t6i});
    put(x, base + 3, c3);
    put(x, base + 4, {c0 - c4, zero});
    put(x, base + 5, c5);
    put(x, base + 6, {c2 - t6r, -t6i});
    put(x, base + 7, c7);
  }
  stagesFrom(x, n, 8, wr, wi);
}

LUMIFOLD_LANE_KERNEL void inverseKernel(double* x, int n, const double* wr, const double* wi) {
  stagesFrom(x, n, 1, wr, wi);
}

void stageTables(const mathORN::CplxVector& table, std::vector<double>& re, std::vector<double>& im) {
  const int n = table.size();
  re.assign(n - 1, 0.0);
  im.assign(n - 1, 0.0);
  for (int m = 1; m < n; m *= 2) {
    for (int k = 0; k < m; ++k) {
      const mathORN::Complex w = table[(n / 2) / m * k];
      re[m - 1 + k] = w.real();
      im[m - 1 + k] = w.imag();
    }
  }
}

}  // namespace

BatchFft::BatchFft(int n) : n_(n), reversed_(n) {
  // The exchange order of fft(): the bit-reversal permutation.
  for (int i = 0, j = 0; i < n; ++i) {
    reversed_[i] = j;
    int k = n / 2;
    while (k >= 1 && k <= j) {
      j -= k;
      k /= 2;
    }
    j += k;
  }
  // Copies of the very tables fft() is given, so every twiddle is the same double.
  mathORN::CplxVector table(n);
  forwardTwiddles(table);
  stageTables(table, forwardRe_, forwardIm_);
  inverseTwiddles(table);
  stageTables(table, inverseRe_, inverseIm_);
}

void BatchFft::forwardReal(const int* rows, const std::size_t* offset, const double* scale, const double* weight,
                           double* batch) const {
  forwardRealKernel(rows, offset, scale, weight, batch, n_, forwardRe_.data(), forwardIm_.data());
}

void BatchFft::inverse(double* batch) const { inverseKernel(batch, n_, inverseRe_.data(), inverseIm_.data()); }

}  // namespace lumifold
