// The pictures `merge` writes, each in the format its name's extension
// asks for: ".bmp" a 24-bit BMP as ever, ".png" a PNG, ".tif" or ".tiff" a
// TIFF (any case); a picture named anything else gets the extension ".bmp"
// as pictureName gives it, and a device or pipe is written as named, as BMP. The
// unrounded average is always a 32-bit floating-point TIFF. Where the
// series carries a pixel spacing, PNG and TIFF pictures keep it. PNG and
// TIFF pictures carry this program's mark (own_outputs.h) unless mark is
// false (Python's write of frames).
//
// Every picture replaces its file only once complete. Each write throws
// PathError(path, the writer's reason, followed by the system's reason when
// there is one).
#pragma once

#include <string>

#include "ipl/image_decoder.h"
#include "ipl/images.h"

namespace lumifold {

enum class PictureFormat { bmp, png, tiff };

// The file a picture named name is written to: name itself when it ends in
// ".png", ".tif" or ".tiff", otherwise pictureName(name).
std::string outputPictureName(const std::string& name);

// The format of a picture written at path (as outputPictureName or
// averageName made it).
PictureFormat pictureFormat(const std::string& path);

// The file the unrounded average named name is written to: name itself
// when it ends in ".tif" or ".tiff" (any case) or names a device or pipe,
// otherwise name with its extension replaced by ".tif".
std::string averageName(const std::string& name);

// Millimetres per column and per row; 0 when unknown.
struct PixelSpacing {
  double x = 0.0;
  double y = 0.0;
};

// The coloured picture: 24-bit BMP, 8-bit RGB PNG or TIFF.
void writeColourPicture(const velIPL::RGBImage& picture, const std::string& path, const PixelSpacing& spacing,
                        bool mark = true);

// The grey average: a BMP holds it as 24-bit grey; PNG and TIFF as 8-bit
// grey, or, when sixteen is given (a 16-bit series), as 16-bit grey.
void writeGreyPicture(const velIPL::GImage& grey, const velIPL::G16Image* sixteen, const std::string& path,
                      const PixelSpacing& spacing, bool mark = true);

// The unrounded average as a 32-bit floating-point grey TIFF.
void writeAveragePicture(const velIPL::DImage& average, const std::string& path, const PixelSpacing& spacing,
                         bool mark = true);

}  // namespace lumifold
