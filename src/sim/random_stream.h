// RandomStream: a small, fast, seedable pseudo-random generator
// (xoshiro256** seeded through splitmix64), so that a simulated series is the
// same on every machine and standard library. Streams are cheap to create:
// each frame and each purpose draws from its own, derived from the seed and
// a few labels, so any frame can be made without making the ones before it.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace lumifold {

class RandomStream {
public:
  // A stream determined by the seed and the labels, in order.
  RandomStream(std::uint64_t seed, std::initializer_list<std::uint64_t> labels);

  std::uint64_t next();
  // Uniform in [0, 1).
  double uniform();
  // Uniform in (0, 1): never 0, so its logarithm is finite.
  double open();
  // Uniform in [lo, hi).
  double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
  // Uniform integer in [lo, hi].
  int integer(int lo, int hi);
  // Standard normal deviate.
  double normal();

private:
  std::uint64_t s_[4];
};

}  // namespace lumifold
