// RowVector: a heap-backed vector of doubles with value semantics.
//
// Element access is 0-based and unchecked; keeping indices in range is the
// caller's job. Copies are deep. Only the difference checks shapes, and it
// throws MathException("Incompatible vector size") before touching anything.
#pragma once

#include <memory>

namespace mathORN {

class RowVector {
public:
  RowVector() = default;
  explicit RowVector(int n);
  RowVector(const double* values, int n);
  RowVector(const RowVector& other);
  RowVector(RowVector&& other) noexcept;
  RowVector& operator=(const RowVector& other);
  RowVector& operator=(RowVector&& other) noexcept;
  // Sets every element to value; the size is unchanged.
  RowVector& operator=(double value);

  int size() const { return size_; }
  double& operator[](int i) { return data_[i]; }
  double operator[](int i) const { return data_[i]; }
  double* data() { return data_.get(); }
  const double* data() const { return data_.get(); }

  RowVector operator-() const;

private:
  int size_ = 0;
  std::unique_ptr<double[]> data_;
};

// Element-wise a - b. Throws MathException("Incompatible vector size") when
// the sizes differ.
RowVector operator-(const RowVector& a, const RowVector& b);
// Element-wise |v|.
RowVector abs(const RowVector& v);

}  // namespace mathORN
