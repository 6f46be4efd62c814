// What the pipeline's steps share: the clock, the wording of reasons, and
// reading and writing pictures with failures turned into PathError naming
// the file.
#pragma once

#include <string>

#include "ipl/images.h"

namespace lumifold {

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

// Saves picture to path; throws PathError(path, reason) with the library's
// message, followed by the system's reason when there is one: "Cannot write
// image file: No space left on device".
void writePicture(const velIPL::RGBImage& picture, const std::string& path);

// Reads a grey image; throws PathError(path, the reader's reason).
velIPL::GImage readGrey(const std::string& path);

}  // namespace lumifold
