// Checks a DICOM frame's JPEG or JPEG-LS stream before GDCM's codecs see
// it. The codecs size their work by the stream's own frame header, not by
// the data set, so a forged header would have them decode an image of any
// size; and the JPEG codec GDCM carries prints every fatal libjpeg error to
// stderr before reporting it. So the frame header must declare exactly the
// data set's frame, and a JPEG stream must keep to what libjpeg decodes
// without a fatal error: known markers only, one baseline, extended or
// lossless frame header, well-formed tables, and scans that name the
// frame's components and tables already defined. The entropy-coded data
// is not decoded here; libjpeg reports damage there only as warnings,
// which GDCM keeps quiet.
#pragma once

#include <cstddef>
#include <string>

namespace velIPL {

struct JpegFrameExpectation {
  int width = 0;
  int height = 0;
  int components = 1;
  int bits = 8;         // bits allocated; the stream's precision may be lower
  bool jpegLs = false;  // JPEG-LS (CharLS, which throws quietly) or JPEG
};

// Whether the stream fits; why says what does not when it does not.
bool jpegStreamFits(const unsigned char* p, std::size_t n, const JpegFrameExpectation& frame, std::string& why);

}  // namespace velIPL
