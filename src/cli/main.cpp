// lumifold-cli: the headless command line; everything but the process
// itself lives in the lumifold_cli library.
#include "cli/command_line.h"

int main(int argc, char** argv) {
  lumifold::SystemEnvironment environment;
  return lumifold::runCommandLine(argc, argv, environment);
}
