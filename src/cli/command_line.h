// The whole command line of lumifold-cli: the subcommands merge, batch,
// simulate, probe and scales, their options and help, and how every failure is
// reported: "lumifold-cli: PATH: REASON" on stderr with status 1, status 2
// for a malformed or impossible command line.
#pragma once

#include "cli/cli_environment.h"

namespace lumifold {

// Parses argv, runs the subcommand it names with env, and returns the exit
// status. Nothing escapes: every exception becomes a message on env.err().
int runCommandLine(int argc, const char* const* argv, CliEnvironment& env);

}  // namespace lumifold
