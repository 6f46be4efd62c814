#include "merge/fast/lane_hypot.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#if defined(__GLIBC__)
#include <gnu/libc-version.h>
#endif

namespace lumifold::lanes {

namespace {

// Pairs that reach both branches of the correction, the shortcut for a
// small second part, the hand-over of tiny, huge and special values, equal
// parts and signs, spread over the magnitudes a correlation meets.
std::vector<double> samples() {
  std::vector<double> v;
  std::uint64_t state = 0x9E3779B97F4A7C15ULL;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  for (int i = 0; i < 20000; ++i) {
    const std::uint64_t bits = next();
    const double mantissa = 1.0 + static_cast<double>(bits >> 12) * 0x1p-52;
    const int exponent = static_cast<int>(next() % 120) - 60;
    double x = std::ldexp(mantissa, exponent);
    if (bits & 1) x = -x;
    v.push_back(x);
  }
  const double special[] = {0.0,     -0.0,    1.0,       3.0,       4.0,         0x1p-459, 0x1p-460,
                            0x1p511, 0x1p512, 0x1p-1074, 0x1p1023, 1e-300,      1e300,    INFINITY,
                            NAN,     5e-324,  2.2204e-16, 1e-16,   0x1.8p-54,  1.0 + 0x1p-52};
  for (double s : special) v.push_back(s);
  return v;
}

bool agreesOnSamples() {
  const std::vector<double> base = samples();
  std::vector<double> xs, ys;
  const std::size_t n = base.size();
  for (std::size_t i = 0; i < n; ++i) {
    const double x = base[i];
    // Partners at similar and at distant magnitudes, and equal ones.
    for (double y : {base[(i * 7 + 1) % n], base[(i * 7 + 1) % n] * 0x1p-30, x, x * 0.75, x * 0x1p-53}) {
      xs.push_back(x);
      ys.push_back(y);
    }
  }
  while (xs.size() % kBatchLanes != 0) {
    xs.push_back(1.0);
    ys.push_back(1.0);
  }
  std::vector<double> lanes(xs.size());
  hypotOfArrays(xs.data(), ys.data(), lanes.data(), static_cast<int>(xs.size()));
  for (std::size_t i = 0; i < xs.size(); ++i) {
    const double expected = std::hypot(xs[i], ys[i]);
    if (std::memcmp(&expected, &lanes[i], sizeof expected) != 0) return false;
  }
  return true;
}

}  // namespace

LUMIFOLD_LANE_KERNEL void hypotOfArrays(const double* x, const double* y, double* out, int n) {
  for (int i = 0; i + kBatchLanes <= n; i += kBatchLanes) store(out + i, hypotLanes(load(x + i), load(y + i)));
}

bool libraryHypotIsLaneAlgorithm() {
#if defined(__GLIBC__) && defined(__x86_64__)
  int major = 0, minor = 0;
  if (std::sscanf(gnu_get_libc_version(), "%d.%d", &major, &minor) != 2) return false;
  return major > 2 || (major == 2 && minor >= 35);
#else
  return false;
#endif
}

bool laneHypotIsExact() {
  static const bool exact = libraryHypotIsLaneAlgorithm() && agreesOnSamples();
  return exact;
}

}  // namespace lumifold::lanes
