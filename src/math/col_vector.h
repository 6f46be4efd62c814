// ColVector and IndexVector: plain heap-backed vectors of doubles and of
// 32-bit indices, with deep copies and unchecked 0-based element access.
// ColVector is what real() of a CplxVector gives; IndexVector holds the
// spline's interval numbers. Neither converts to RowVector.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>

namespace mathORN {

namespace detail {

// The storage both small vectors share: n zero-initialised elements.
template <typename T>
class PlainVector {
public:
  PlainVector() = default;
  explicit PlainVector(int n) : size_(n), data_(n > 0 ? new T[n]() : nullptr) {}
  PlainVector(const PlainVector& other) : PlainVector(other.size_) {
    if (size_ > 0) std::copy(other.data_.get(), other.data_.get() + size_, data_.get());
  }
  PlainVector(PlainVector&&) noexcept = default;
  PlainVector& operator=(const PlainVector& other) {
    if (this != &other) *this = PlainVector(other);
    return *this;
  }
  PlainVector& operator=(PlainVector&&) noexcept = default;

  int size() const { return size_; }
  T& operator[](int i) { return data_[i]; }
  T operator[](int i) const { return data_[i]; }

private:
  int size_ = 0;
  std::unique_ptr<T[]> data_;
};

}  // namespace detail

class ColVector : public detail::PlainVector<double> {
public:
  using PlainVector::PlainVector;
};

class IndexVector : public detail::PlainVector<std::int32_t> {
public:
  using PlainVector::PlainVector;
};

}  // namespace mathORN
