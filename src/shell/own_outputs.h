// This program's own pictures, told apart from frames. Every PNG and TIFF
// picture the command line and the Python module write carries the mark
// (PNG "Software" text, TIFF Software tag: "Lumifold 1.0.0"), and a folder
// given as input leaves marked files out, so that an earlier run's picture
// in the series folder is not merged as a frame. BMP holds no such field;
// its pictures are left out by name (--exclude).
#pragma once

#include <string>

#include "ipl/image_decoder.h"

namespace lumifold {

// "1.0.0": the release, as --version and the Python module say it.
const char* lumifoldVersion();

// What the pictures' Software field says: "Lumifold 1.0.0".
std::string outputMark();

// Whether a file of this description was written by this program (any
// release).
bool isOwnOutput(const velIPL::ImageFileInfo& info);

}  // namespace lumifold
