// DicomWriter: writes a series of 8-bit or 16-bit grey frames as one
// multi-frame DICOM file through GDCM: Multi-frame Grayscale Byte (8-bit)
// or Word (16-bit) Secondary Capture, MONOCHROME2, modality "OPT", pixel
// spacing when given; uncompressed (Explicit VR Little Endian) or losslessly
// compressed, one fragment per frame: RLE (our own encoder, rle_frame.h),
// JPEG-LS or JPEG 2000.
//
// Frames are kept in memory as they are added; writeFile() encodes them and
// saves the file through OutputFile, so a failure never leaves a broken
// target behind. Throws IPLException: "Empty image" for a frame without
// pixels or a file without frames, "Frames of different sizes" or "Frames
// of different depths" when a frame does not match the first,
// "Cannot write image" when GDCM fails, and OutputFile's messages.
#pragma once

#include <string>
#include <vector>

#include "ipl/image_decoder.h"
#include "ipl/images.h"

namespace velIPL {

enum class DicomCompression { none, rle, jpegLs, jpeg2000 };

struct DicomWriteOptions {
  double pixelSpacingX = 0.0;  // millimetres per column; 0 writes none
  double pixelSpacingY = 0.0;  // millimetres per row
  DicomCompression compression = DicomCompression::none;
};

class DicomWriter {
public:
  // The smallest side JPEG 2000 compression takes ("Image too small for
  // JPEG 2000" below it).
  static constexpr int minJpeg2000Side = 16;

  explicit DicomWriter(const DicomWriteOptions& options = {}) : options_(options) {}

  void addFrame(const GImage& frame);
  void addFrame(const G16Image& frame);

  int frames() const { return frames_; }

  // The whole file's bytes.
  std::vector<unsigned char> encode() const;

  void writeFile(const std::string& fileName) const;

private:
  template <typename Image>
  void add(const Image& frame, int bits);

  DicomWriteOptions options_;
  std::vector<unsigned char> pixels_;  // every frame's rows, little-endian samples
  int width_ = 0;
  int height_ = 0;
  int bits_ = 0;
  int frames_ = 0;
};

}  // namespace velIPL
