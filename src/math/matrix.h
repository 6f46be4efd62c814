// Matrix: a dense matrix of doubles with value semantics, the spline's
// coefficient table. Element access m(r, c) is 0-based and unchecked.
#pragma once

#include <vector>

namespace mathORN {

class Matrix {
public:
  Matrix() = default;
  // rows x cols elements, all 0.0.
  Matrix(int rows, int cols);

  int rows() const { return rows_; }
  int cols() const { return cols_; }
  double& operator()(int r, int c) { return data_[static_cast<std::size_t>(r) * cols_ + c]; }
  double operator()(int r, int c) const { return data_[static_cast<std::size_t>(r) * cols_ + c]; }

private:
  int rows_ = 0;
  int cols_ = 0;
  std::vector<double> data_;
};

}  // namespace mathORN
