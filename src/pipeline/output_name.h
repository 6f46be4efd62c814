// Names of the files the command line writes.
//
// bmpTargetName gives every picture the ".bmp" extension the way the
// viewer's save command does, so that "-o result.png" cannot produce a BMP
// file that other programs take for a PNG. outputProblem looks at a target
// before a long merge starts, so that a typo in the folder is reported at
// once rather than after the work is done. Neither throws.
#pragma once

#include <string>

namespace lumifold {

// name with its extension replaced by ".bmp": the extension is the part from
// the last dot after the last '/'; with no such dot ".bmp" is appended.
// "result.png" -> "result.bmp", "result" -> "result.bmp", "scan.old" ->
// "scan.bmp", "my.dir/result" -> "my.dir/result.bmp".
std::string bmpTargetName(const std::string& name);

// Why path cannot be written as a new or replaced file, or "" when it looks
// writable: "No such folder", "Not a folder", "Is a folder",
// "Permission denied", "Missing file name". The writer may still fail later
// (a full disk); this only catches what can be seen beforehand.
std::string outputProblem(const std::string& path);

}  // namespace lumifold
