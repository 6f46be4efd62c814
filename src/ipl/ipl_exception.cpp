#include "ipl/ipl_exception.h"

#include <cerrno>
#include <cstring>
#include <utility>

namespace velIPL {

IPLException::IPLException(std::string message) : message_(std::move(message)) {}

IPLException::IPLException(std::string message, int systemError)
    : message_(std::move(message)), systemError_(systemError) {}

IPLException::~IPLException() = default;

const char* IPLException::what() const noexcept { return message_.c_str(); }

std::string systemErrorText(int error) {
  // The C library says "directory"; the programs speak of folders.
  return error == ENOENT ? "No such file or folder" : std::strerror(error);
}

}  // namespace velIPL
