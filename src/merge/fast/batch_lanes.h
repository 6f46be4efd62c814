// The vector type of a batch lane group and the few helpers the batched
// kernels share (see batch_fft.h for the layout). Internal to the merge
// engine.
//
// A Vec holds one double per lane. Its operators work lane by lane with the
// ordinary IEEE operations, so a lane computes exactly what scalar code
// would. Kernels marked LUMIFOLD_LANE_KERNEL are compiled for several
// instruction sets and the best one the processor has is picked when the
// program starts; none of them contracts a multiply and an add (the core is
// built with -ffp-contract=off), so every variant gives the same values.
#pragma once

#include <cstddef>
#include <cstring>

#include "merge/fast/batch_fft.h"

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__ELF__)
#define LUMIFOLD_LANE_KERNEL __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define LUMIFOLD_LANE_KERNEL
#endif

#define LUMIFOLD_ALWAYS_INLINE inline __attribute__((always_inline))

// Vecs only pass between functions that are always inlined into one kernel,
// never across a call, so the calling convention of wide vectors (which
// differs between instruction sets) never comes into play.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace lumifold::lanes {

using Vec = double __attribute__((vector_size(kBatchLanes * sizeof(double))));
using Ints = int __attribute__((vector_size(kBatchLanes * sizeof(int))));

// Doubles from one element of a batch to the next.
inline constexpr std::size_t kStride = 2 * kBatchLanes;

LUMIFOLD_ALWAYS_INLINE Vec load(const double* p) {
  Vec v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

LUMIFOLD_ALWAYS_INLINE void store(double* p, const Vec& v) { std::memcpy(p, &v, sizeof v); }

LUMIFOLD_ALWAYS_INLINE Vec splat(double d) {
  Vec v;
  for (int l = 0; l < kBatchLanes; ++l) v[l] = d;
  return v;
}

// Lane masks as comparisons give them: all bits set where true.
using Mask = long long __attribute__((vector_size(sizeof(Vec))));

// a where m is set, b elsewhere, bit for bit.
LUMIFOLD_ALWAYS_INLINE Vec select(Mask m, Vec a, Vec b) {
  return reinterpret_cast<Vec>((m & reinterpret_cast<Mask>(a)) | (~m & reinterpret_cast<Mask>(b)));
}

// Element k of a batch, real and imaginary lanes.
struct Cv {
  Vec re;
  Vec im;
};

LUMIFOLD_ALWAYS_INLINE Cv get(const double* batch, int k) {
  const double* p = batch + static_cast<std::size_t>(k) * kStride;
  return {load(p), load(p + kBatchLanes)};
}

LUMIFOLD_ALWAYS_INLINE void put(double* batch, int k, const Cv& v) {
  double* p = batch + static_cast<std::size_t>(k) * kStride;
  store(p, v.re);
  store(p + kBatchLanes, v.im);
}

}  // namespace lumifold::lanes
