// IPLException: the one exception type of the image library.
//
// Thrown by value with a fixed English message ("Can't open image file",
// "Corrupt data", ...); what() returns that message.
#pragma once

#include <exception>
#include <string>

namespace velIPL {

class IPLException : public std::exception {
public:
  explicit IPLException(std::string message);
  ~IPLException() override;
  const char* what() const noexcept override;

private:
  std::string message_;
};

}  // namespace velIPL
