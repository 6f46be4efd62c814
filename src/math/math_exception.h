// MathException: the one exception type of the math library.
//
// Thrown by value with a fixed English message ("Incompatible vector size",
// "Division by zero", ...); what() returns that message. The library never
// catches its own exceptions.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace mathORN {

class MathException : public std::exception {
public:
  explicit MathException(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

private:
  std::string message_;
};

}  // namespace mathORN
