#include "math/cplx_vector.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "math/math_exception.h"

namespace mathORN {

namespace {

bool isZero(Complex c) { return c.real() == 0.0 && c.imag() == 0.0; }

void requireSameSize(const CplxVector& a, const CplxVector& b) {
  if (a.size() != b.size()) throw MathException("Incompatible vector size");
}

}  // namespace

CplxVector::CplxVector(int n) : size_(n), data_(n > 0 ? new Complex[n]() : nullptr) {}

CplxVector::CplxVector(const CplxVector& other) : CplxVector(other.size_) {
  if (size_ > 0) std::copy(other.data_.get(), other.data_.get() + size_, data_.get());
}

CplxVector::CplxVector(CplxVector&& other) noexcept
    : size_(std::exchange(other.size_, 0)), data_(std::move(other.data_)) {}

CplxVector& CplxVector::operator=(const CplxVector& other) {
  if (this != &other) *this = CplxVector(other);
  return *this;
}

CplxVector& CplxVector::operator=(CplxVector&& other) noexcept {
  if (this != &other) {
    size_ = std::exchange(other.size_, 0);
    data_ = std::move(other.data_);
  }
  return *this;
}

CplxVector& CplxVector::operator*=(const CplxVector& w) {
  requireSameSize(*this, w);
  for (int i = 0; i < size_; ++i) data_[i] *= w[i];
  return *this;
}

CplxVector& CplxVector::operator/=(const CplxVector& w) {
  requireSameSize(*this, w);
  for (int i = 0; i < size_; ++i) {
    if (isZero(w[i])) throw MathException("Division by zero");
    data_[i] /= w[i];
  }
  return *this;
}

CplxVector& CplxVector::operator/=(Complex c) {
  if (isZero(c)) throw MathException("Zero division");
  for (int i = 0; i < size_; ++i) data_[i] /= c;
  return *this;
}

CplxVector operator+(const CplxVector& v, Complex c) {
  CplxVector result(v.size());
  for (int i = 0; i < v.size(); ++i) result[i] = v[i] + c;
  return result;
}

CplxVector operator*(const CplxVector& v, const CplxVector& w) {
  requireSameSize(v, w);
  CplxVector result(v.size());
  for (int i = 0; i < v.size(); ++i) result[i] = v[i] * w[i];
  return result;
}

CplxVector abs(const CplxVector& v) {
  CplxVector result(v.size());
  for (int i = 0; i < v.size(); ++i) result[i] = Complex(std::hypot(v[i].real(), v[i].imag()), 0.0);
  return result;
}

CplxVector conj(const CplxVector& v) {
  CplxVector result(v.size());
  for (int i = 0; i < v.size(); ++i) result[i] = Complex(v[i].real(), -v[i].imag());
  return result;
}

ColVector real(const CplxVector& v) {
  ColVector result(v.size());
  for (int i = 0; i < v.size(); ++i) result[i] = v[i].real();
  return result;
}

}  // namespace mathORN
