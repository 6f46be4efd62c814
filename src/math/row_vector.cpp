#include "math/row_vector.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "math/math_exception.h"

namespace mathORN {

RowVector::RowVector(int n) : size_(n), data_(n > 0 ? new double[n]() : nullptr) {}

RowVector::RowVector(const double* values, int n) : RowVector(n) {
  if (n > 0) std::copy(values, values + n, data_.get());
}

RowVector::RowVector(const RowVector& other) : RowVector(other.data_.get(), other.size_) {}

RowVector::RowVector(RowVector&& other) noexcept
    : size_(std::exchange(other.size_, 0)), data_(std::move(other.data_)) {}

RowVector& RowVector::operator=(const RowVector& other) {
  if (this != &other) {
    RowVector copy(other);
    *this = std::move(copy);
  }
  return *this;
}

RowVector& RowVector::operator=(RowVector&& other) noexcept {
  if (this != &other) {
    size_ = std::exchange(other.size_, 0);
    data_ = std::move(other.data_);
  }
  return *this;
}

RowVector& RowVector::operator=(double value) {
  std::fill(data_.get(), data_.get() + size_, value);
  return *this;
}

RowVector RowVector::operator-() const {
  RowVector result(size_);
  for (int i = 0; i < size_; ++i) result[i] = -data_[i];
  return result;
}

RowVector operator-(const RowVector& a, const RowVector& b) {
  if (a.size() != b.size()) throw MathException("Incompatible vector size");
  RowVector result(a.size());
  for (int i = 0; i < a.size(); ++i) result[i] = a[i] - b[i];
  return result;
}

RowVector abs(const RowVector& v) {
  RowVector result(v.size());
  for (int i = 0; i < v.size(); ++i) result[i] = std::fabs(v[i]);
  return result;
}

}  // namespace mathORN
