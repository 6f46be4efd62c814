// What the subcommands share: exit statuses, the usage error, the clock, the
// wording of reasons, and reading and writing pictures with failures turned
// into CliError naming the file.
#pragma once

#include <stdexcept>
#include <string>

#include "ipl/images.h"

namespace lumifold {

constexpr const char* kProgram = "lumifold-cli";

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// A command line that parses but asks for something impossible; reported
// like a malformed one, with status 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Seconds on the steady clock since any fixed point.
double seconds();

// "1.23 s".
std::string formatSeconds(double s);

// The library's message without a trailing copy of the path, which the
// report names already ("Cannot write image file out.bmp").
std::string reasonFor(const std::string& message, const std::string& path);

// The file a picture named name is written to: name with the extension
// ".bmp", except that an existing device or pipe (/dev/stdout) is written as
// named.
std::string pictureName(const std::string& name);

// Saves picture to path; throws CliError(path, reason) with the library's
// message, followed by the system's reason when there is one: "Cannot write
// image file: No space left on device".
void writePicture(const velIPL::RGBImage& picture, const std::string& path);

// Reads a grey image; throws CliError(path, the reader's reason).
velIPL::GImage readGrey(const std::string& path);

}  // namespace lumifold
