// Jpeg2000Frame: decodes one JPEG 2000 frame of a DICOM file (a raw
// codestream or a JP2 file) with OpenJPEG directly, not through GDCM,
// whose JPEG 2000 codec prints OpenJPEG's messages to stderr: here every
// OpenJPEG message goes to silent handlers and an error is returned.
//
// The codestream must describe exactly the frame the data set declares:
// its width, height and component count, one sample per pixel per component
// (no subsampling), at most bits bits unsigned; anything else is refused
// before OpenJPEG decodes (and so allocates) a pixel. The samples are
// written interleaved, little-endian for 16 bits.
#pragma once

#include <cstddef>
#include <string>

namespace velIPL {

struct Jpeg2000Frame {
  int width = 0;
  int height = 0;
  int components = 1;  // 1 grey, 3 colour
  int bits = 8;        // 8 or 16 bits allocated per sample

  // Decodes size bytes into out (width x height x components samples);
  // false with why set when the frame is refused or broken.
  bool decode(const unsigned char* data, std::size_t size, unsigned char* out, std::string& why) const;
};

}  // namespace velIPL
