// Putting a simulated series on disk, as a user or a test would receive it
// from an instrument: the frames in one of the input formats (by default
// one 24-bit grey BMP per frame), the noise-free section for judging a
// merge, and the true shifts.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/bscan_simulator.h"

namespace lumifold {

// How the frames are written: one file per frame as 24-bit BMP, 8-bit grey
// PNG or 8-bit grey TIFF, or all frames in one file, a multi-page TIFF or a
// multi-frame DICOM.
enum class SeriesFormat { bmp, png, tiff, tiffStack, dicom };

// The command line's names, in that order: "bmp", "png", "tif",
// "tif-stack", "dcm".
const std::vector<std::string_view>& seriesFormatNames();
std::optional<SeriesFormat> seriesFormatFromName(std::string_view name);

// "frame_000.bmp" ... with at least three digits, more when the series has
// 1000 frames or more, so that the names sort in frame order; extension
// with its dot.
std::string frameFileName(int index, int frameCount, std::string_view extension = ".bmp");

// The files a series of frameCount frames is written to, in frame order:
// one per frame, or the single "series.tif" or "series.dcm".
std::vector<std::string> seriesFileNames(SeriesFormat format, int frameCount);

// The subfolder of a written series that holds what a merge is judged by.
inline constexpr const char* kTruthFolder = "truth";
// Beside truth.csv, when the series has them: the bad frames ("frame,kind",
// kinds by badFrameName) and every frame's sideways slip ("frame,lateral",
// in the merge engine's convention).
inline constexpr const char* kBadFramesFile = "bad_frames.csv";
inline constexpr const char* kLateralFile = "lateral.csv";

// Writes into directory (created when missing) the frames under
// seriesFileNames, so the folder holds the series and nothing else; and into
// its subfolder kTruthFolder the noise-free section rounded to grey as
// "noise_free.bmp" and "truth.csv" with the header "frame,column,shift" and
// one line per column of every frame (shifts in the merge engine's
// convention, frame 0 included). beforeFile, when given, receives each path
// just before it is written (each folder before its files), so a caller can
// name the file an exception came from. Throws velIPL::IPLException when
// something cannot be written: the writers' own messages, "Can't create
// folder" or "Can't write file".
void writeSeries(const BScanSimulator& simulator, const std::string& directory,
                 const std::function<void(const std::string& path)>& beforeFile = {},
                 SeriesFormat format = SeriesFormat::bmp);

}  // namespace lumifold
