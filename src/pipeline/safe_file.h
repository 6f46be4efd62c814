// writeFileSafely: replaces a file's contents so that a failed write never
// leaves it truncated or half written, wherever the system leaves a way.
//
// The bytes go through the image library's OutputFile, which says how: a
// new or regular file through a temporary file renamed over it once every
// byte is on disk, in place where that cannot be (see OutputFile); a file
// the user may not write is refused. Throws PathError(path, reason) with the
// system's reason ("Is a folder" for a folder).
#pragma once

#include <string>

namespace lumifold {

void writeFileSafely(const std::string& path, const std::string& contents);

}  // namespace lumifold
