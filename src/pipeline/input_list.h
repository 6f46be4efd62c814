// The series a merge works on: the command line's inputs expanded into an
// ordered list of image files and checked the way the desktop program's
// image list checks added files, before any merging starts.
//
// Everything here throws PathError naming the offending path; nothing is
// printed. The first file of the list is the reference image.
#pragma once

#include <string>
#include <vector>

namespace lumifold {

// A file a folder holds that its series leaves out, and why.
struct LeftOutFile {
  std::string path;
  std::string reason;  // "a picture Lumifold 1.0.0 wrote", "matches --exclude GLOB"
};

// Turns each input into files: a file stays as given, whatever its name (it
// is read by its content); a folder gives its files with one of the input
// formats' usual extensions (velIPL::hasImageExtension: .bmp, .png, .tif,
// .dcm, ... in any case), sorted case-insensitively and locale-aware,
// except this program's own pictures (isOwnOutput) and files whose name or
// path matches one of the exclude globs (fnmatch), which go to leftOut when
// given. Inputs keep their command-line order unless sortAll, which sorts
// the whole list that way and drops exact duplicates. Throws PathError for
// an input that does not exist ("No such file or folder"), a folder without
// image files ("No image files in folder", with how many were left out), a
// folder that cannot be listed, or anything that is neither a file nor a
// folder.
std::vector<std::string> expandInputs(const std::vector<std::string>& inputs, bool sortAll,
                                      const std::vector<std::string>& exclude = {},
                                      std::vector<LeftOutFile>* leftOut = nullptr);

// Why a file found in a folder is not a frame: "matches --exclude GLOB" for
// the first glob its name or path matches, "a picture Lumifold 1.0.0 wrote"
// for a picture carrying this program's mark; "" for a frame.
std::string leftOutReason(const std::string& path, const std::vector<std::string>& exclude);

// Why the file cannot be opened for reading ("No such file or folder",
// "Is a folder", "Permission denied", ...), or "" when it can.
std::string unreadableReason(const std::string& path);

struct SeriesSize {
  int width = 0;
  int height = 0;
  // Per file, in list order: how many frames it holds.
  std::vector<int> frames;
  // The reference file's depth (8 or 16) and pixel spacing in millimetres
  // (0 when it carries none).
  int bitsPerSample = 8;
  double pixelSpacingX = 0.0;
  double pixelSpacingY = 0.0;
  // Millimetres between a stack's pages, where the reference file says.
  double sliceSpacing = 0.0;
};

// Checks every file's headers in order through its decoder's probe: the
// reference must be a valid image ("Not a valid image file: " and the
// probe's reason), every later
// one must pass the probe (the probe's own message), match the reference's
// width and height ("Image has not same dimensions as reference image") and
// its depth ("Image has not same bit depth as reference image"). A file
// that cannot be opened at all is reported with the system's reason. A
// top-down file counts by its number of rows, as the reader turns it
// upright. Returns the reference size and every file's frame count; throws
// PathError for the first failing file.
SeriesSize checkSeries(const std::vector<std::string>& paths);

}  // namespace lumifold
