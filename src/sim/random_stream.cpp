#include "sim/random_stream.h"

#include <cmath>

namespace lumifold {

namespace {

std::uint64_t splitmix64(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

}  // namespace

RandomStream::RandomStream(std::uint64_t seed, std::initializer_list<std::uint64_t> labels) {
  std::uint64_t state = seed;
  for (std::uint64_t label : labels) {
    // Mixing each label through the generator keeps (a, b) and (b, a) apart.
    state = splitmix64(state) ^ label;
  }
  for (auto& word : s_) word = splitmix64(state);
}

std::uint64_t RandomStream::next() {
  const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
  const std::uint64_t t = s_[1] << 17;
  s_[2] ^= s_[0];
  s_[3] ^= s_[1];
  s_[1] ^= s_[2];
  s_[0] ^= s_[3];
  s_[2] ^= t;
  s_[3] = rotl(s_[3], 45);
  return result;
}

double RandomStream::uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

double RandomStream::open() { return (static_cast<double>(next() >> 11) + 0.5) * 0x1.0p-53; }

int RandomStream::integer(int lo, int hi) {
  const std::uint64_t span = static_cast<std::uint64_t>(static_cast<std::int64_t>(hi) - lo) + 1;
  return static_cast<int>(lo + static_cast<std::int64_t>(next() % span));
}

double RandomStream::normal() {
  // Box-Muller; one of the pair is dropped to keep the stream stateless
  // beyond its four words.
  const double u = open();
  const double v = uniform();
  return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * v);
}

}  // namespace lumifold
