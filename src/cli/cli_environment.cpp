#include "cli/cli_environment.h"

#include <unistd.h>

#include <iostream>

namespace lumifold {

std::ostream& SystemEnvironment::out() { return std::cout; }

std::ostream& SystemEnvironment::err() { return std::cerr; }

bool SystemEnvironment::errIsTerminal() const { return ::isatty(STDERR_FILENO) != 0; }

}  // namespace lumifold
