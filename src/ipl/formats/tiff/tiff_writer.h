// TiffWriter: writes one or more pages as a TIFF through libtiff: 8-bit
// grey, 16-bit grey, 8-bit RGB (contiguous) or 32-bit floating-point grey
// (for an unrounded average), in strips or square tiles, uncompressed or
// losslessly compressed, in either byte order. A pixel spacing given in the
// options is written as the resolution in pixels per centimetre.
//
// Pages are encoded as they are added, into memory; writeFile() then saves
// the whole file through OutputFile, so a failure never leaves a broken
// target behind, and memory holds the encoded file (as for any series the
// simulator writes). Throws IPLException: "Empty image" for a page without
// pixels or a file without pages, "Cannot write image" when libtiff fails
// (with its reason), and OutputFile's messages.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ipl/image_decoder.h"
#include "ipl/images.h"

namespace velIPL {

class TiffIo;

enum class TiffCompression { none, lzw, deflate, packBits };

struct TiffWriteOptions {
  double pixelSpacingX = 0.0;  // millimetres per column; 0 writes no resolution
  double pixelSpacingY = 0.0;  // millimetres per row
  TiffCompression compression = TiffCompression::none;
  bool bigEndian = false;
  int tileSide = 0;  // 0: strips; otherwise tiles of this side (a multiple of 16)
  std::string software;  // the Software tag of every page when not empty
  // The ImageDescription of the first page when not empty (an ImageJ
  // stack's "ImageJ=...\nunit=mm\nspacing=..." header); with
  // resolutionPerMillimetre the resolution is written as ImageJ writes it
  // for unit=mm: pixels per millimetre, no unit tag of TIFF's own.
  std::string description;
  bool resolutionPerMillimetre = false;
};

class TiffWriter {
public:
  explicit TiffWriter(const TiffWriteOptions& options = {});
  ~TiffWriter();
  TiffWriter(const TiffWriter&) = delete;
  TiffWriter& operator=(const TiffWriter&) = delete;

  void addPage(const GImage& image);
  void addPage(const G16Image& image);
  void addPage(const RGBImage& image);
  void addPage(const DImage& image);  // as 32-bit float

  int pages() const { return pages_; }

  // Ends the file and returns its bytes; no page may be added afterwards.
  const std::vector<unsigned char>& finish();

  // Ends the file and saves it at fileName.
  void writeFile(const std::string& fileName);

private:
  void addRows(int width, int height, int bits, int samples, int format, const std::vector<const void*>& rows);

  TiffWriteOptions options_;
  std::vector<unsigned char> bytes_;
  std::unique_ptr<TiffIo> io_;
  int pages_ = 0;
};

}  // namespace velIPL
