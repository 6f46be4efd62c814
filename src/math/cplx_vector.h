// CplxVector: a heap-backed vector of std::complex<double>, the column
// signals and spectra of the correlation registration.
//
// Arithmetic is the standard library's complex arithmetic, element by
// element. Operations that combine two vectors compare sizes first and throw
// MathException("Incompatible vector size") without touching either operand.
// Element access is 0-based and unchecked.
#pragma once

#include <complex>
#include <memory>

#include "math/col_vector.h"

namespace mathORN {

using Complex = std::complex<double>;

class CplxVector {
public:
  CplxVector() = default;
  explicit CplxVector(int n);
  CplxVector(const CplxVector& other);
  CplxVector(CplxVector&& other) noexcept;
  CplxVector& operator=(const CplxVector& other);
  CplxVector& operator=(CplxVector&& other) noexcept;

  int size() const { return size_; }
  Complex& operator[](int i) { return data_[i]; }
  Complex operator[](int i) const { return data_[i]; }
  Complex* data() { return data_.get(); }
  const Complex* data() const { return data_.get(); }

  // v[i] *= w[i]. Throws "Incompatible vector size" (v unchanged).
  CplxVector& operator*=(const CplxVector& w);
  // v[i] /= w[i] in increasing i. Throws "Incompatible vector size" (v
  // unchanged), or "Division by zero" at the first zero divisor, with the
  // elements before it already divided and the rest unchanged.
  CplxVector& operator/=(const CplxVector& w);
  // v[i] /= c. Throws "Zero division" when c is 0, before touching v.
  CplxVector& operator/=(Complex c);

private:
  int size_ = 0;
  std::unique_ptr<Complex[]> data_;
};

// v[i] + c.
CplxVector operator+(const CplxVector& v, Complex c);
// v[i] * w[i]. Throws "Incompatible vector size".
CplxVector operator*(const CplxVector& v, const CplxVector& w);
// (hypot(re, im), 0) for every element.
CplxVector abs(const CplxVector& v);
// (re, -im) for every element.
CplxVector conj(const CplxVector& v);
// The real parts.
ColVector real(const CplxVector& v);

}  // namespace mathORN
