#include "math/matrix.h"

namespace mathORN {

Matrix::Matrix(int rows, int cols)
    : rows_(rows), cols_(cols),
      data_(rows > 0 && cols > 0 ? static_cast<std::size_t>(rows) * cols : 0, 0.0) {}

}  // namespace mathORN
