// writeFileSafely: replaces a file's contents so that a failed write never
// leaves it truncated or half written.
//
// The bytes go through the image library's OutputFile: a regular (or new)
// file is written to a temporary file in the same folder, flushed, and
// renamed over the target only once every byte is on disk; on failure the
// temporary file is removed and the old file is untouched. A target that
// exists but is not a regular file (a device such as /dev/null, a pipe) is
// written in place, since renaming over it would replace the device. Throws
// CliError(path, reason) with the system's reason ("Is a folder" for a
// folder).
#pragma once

#include <string>

namespace lumifold {

void writeFileSafely(const std::string& path, const std::string& contents);

}  // namespace lumifold
