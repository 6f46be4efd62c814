#include "ipl/ipl_exception.h"

#include <utility>

namespace velIPL {

IPLException::IPLException(std::string message) : message_(std::move(message)) {}

IPLException::IPLException(std::string message, int systemError)
    : message_(std::move(message)), systemError_(systemError) {}

IPLException::~IPLException() = default;

const char* IPLException::what() const noexcept { return message_.c_str(); }

}  // namespace velIPL
