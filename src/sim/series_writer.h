// Putting a simulated series on disk, as a user or a test would receive it
// from an instrument: one 24-bit grey BMP per frame, the noise-free section
// for judging a merge, and the true shifts.
#pragma once

#include <functional>
#include <string>

#include "sim/bscan_simulator.h"

namespace lumifold {

// "frame_000.bmp" ... with at least three digits, more when the series has
// 1000 frames or more, so that the names sort in frame order.
std::string frameFileName(int index, int frameCount);

// The subfolder of a written series that holds what a merge is judged by.
inline constexpr const char* kTruthFolder = "truth";

// Writes into directory (created when missing) every frame under
// frameFileName, so the folder holds the series and nothing else; and into
// its subfolder kTruthFolder the noise-free section rounded to grey as
// "noise_free.bmp" and "truth.csv" with the header "frame,column,shift" and
// one line per column of every frame (shifts in the merge engine's
// convention, frame 0 included). beforeFile, when given, receives each path
// just before it is written (each folder before its files), so a caller can
// name the file an exception came from. Throws velIPL::IPLException when something cannot be written:
// the BMP writer's own messages, "Can't create folder" or "Can't write file".
void writeSeries(const BScanSimulator& simulator, const std::string& directory,
                 const std::function<void(const std::string& path)>& beforeFile = {});

}  // namespace lumifold
