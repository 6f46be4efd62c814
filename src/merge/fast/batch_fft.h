// BatchFft: the radix-2 column transform of column_transform.h, applied to
// kBatchLanes columns at once.
//
// A batch holds kBatchLanes columns side by side: element k of lane l has
// its real part at data[2 k kBatchLanes + l] and its imaginary part at
// data[(2 k + 1) kBatchLanes + l], so one vector instruction serves every
// lane. Each lane runs exactly the operations of fft() in column_transform.h
// on exactly the same twiddle values, in the same order; only butterflies
// that do not depend on each other are grouped differently. Products with
// the twiddle (1, 0) and with the zero imaginary parts of a real signal are
// left out: they change at most the sign of a zero, which no later sum,
// product, quotient or magnitude can tell from the other zero.
//
// The tables are built once per length; the transforms keep no state and
// may run on several threads at once, each on its own batch. Batches are
// best 64-byte aligned (see BatchBuffer). Nothing here throws after
// construction.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <vector>

namespace lumifold {

inline constexpr int kBatchLanes = 4;

// Doubles of a batch of n elements.
inline std::size_t batchDoubles(int n) { return static_cast<std::size_t>(n) * 2 * kBatchLanes; }

// A 64-byte aligned array of doubles, uninitialised.
class BatchBuffer {
public:
  BatchBuffer() = default;
  explicit BatchBuffer(std::size_t doubles)
      : data_(static_cast<double*>(::operator new[](doubles * sizeof(double), std::align_val_t{64}))) {}

  double* data() { return data_.get(); }
  const double* data() const { return data_.get(); }

private:
  struct Free {
    void operator()(double* p) const { ::operator delete[](p, std::align_val_t{64}); }
  };
  std::unique_ptr<double[], Free> data_;
};

class BatchFft {
public:
  // n: a power of two, at least 2.
  explicit BatchFft(int n);

  int size() const { return n_; }
  // Where element i of a signal goes before the butterflies.
  int reversed(int i) const { return reversed_[i]; }
  const int* reversedOrder() const { return reversed_.data(); }

  // Forward transform of kBatchLanes real signals into batch, in natural
  // order. The samples are made where the butterflies first need them: the
  // sample at bit-reversed position j (sample reversed(j) of the signal) of
  // lane l is (rows[offset[j] + l] * scale[l]) * weight[j], the integer
  // taken as a double.
  void forwardReal(const int* rows, const std::size_t* offset, const double* scale, const double* weight,
                   double* batch) const;

  // Inverse transform, unscaled, of complex signals stored in bit-reversed
  // order; leaves the result in natural order.
  void inverse(double* batch) const;

private:
  int n_;
  std::vector<int> reversed_;
  // The twiddles of every butterfly stage m = 1, 2, 4, ..., n / 2, stage m
  // starting at index m - 1: table[(n / 2) / m * k] for k = 0 .. m - 1.
  std::vector<double> forwardRe_, forwardIm_, inverseRe_, inverseIm_;
};

}  // namespace lumifold
