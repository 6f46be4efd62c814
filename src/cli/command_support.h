// What the subcommands share: the program's name in messages and the exit
// statuses; the pipeline's helpers (file_support.h, path_error.h) come along.
#pragma once

#include "pipeline/file_support.h"
#include "pipeline/path_error.h"

namespace lumifold {

constexpr const char* kProgram = "lumifold-cli";

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

}  // namespace lumifold
