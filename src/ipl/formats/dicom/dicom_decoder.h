// The DICOM entry of the decoder table, through GDCM.
//
// Takes MONOCHROME1 (inverted on reading), MONOCHROME2, RGB and PALETTE
// COLOR images of 8 or 16 bits allocated, unsigned, in the little-endian
// transfer syntaxes: uncompressed (explicit or implicit VR) and every
// encapsulated one GDCM decodes (JPEG baseline and lossless, JPEG-LS, JPEG
// 2000, RLE). The frames of a multi-frame file are the frames, in order.
// 8 bits allocated are read as 8-bit grey, 16 bits as 16-bit grey (bits
// stored, say 12, are significantBits; bits above them are cleared); colour
// becomes grey by greyOf at the sample depth; palette entries are taken as
// 8-bit (a 16-bit table's high bytes). Modality and pixel spacing (from the
// data set or its shared functional groups) are in the info.
//
// Memory stays flat in the frame count: open() walks the data set up to the
// pixel data with our own checked parse (dicom_structure.h), keeping the
// few values it needs, then indexes the frames (offsets of uncompressed
// frames, or the fragments of each encapsulated frame, through the basic
// offset table or one fragment per frame); every frame read fetches just
// that frame's bytes from the file, and GDCM's codecs decode a compressed
// one (JPEG 2000 goes to OpenJPEG directly, jpeg2000_frame.h, since GDCM's
// codec prints OpenJPEG's messages).
//
// Refused with IPLException: "Not a DICOM file" (no "DICM" at 128),
// "Corrupt DICOM file: ...", "Unsupported DICOM: ..." (signed samples,
// other bit depths, colour models, samples per pixel that are not colour,
// the big-endian and deflated transfer syntaxes, frames that share
// fragments without an offset table), and the limits of frame_rules.h; a
// frame count whose frames cannot fit in the pixel data is "Too many frames
// for the file", and a compressed frame that would expand beyond
// plausibleExpansion() is corrupt, both found at open.
// GDCM's own traces are silenced (gdcm_quiet.h).
#pragma once

#include <istream>
#include <memory>

#include "ipl/formats/frame_rules.h"
#include "ipl/image_decoder.h"

namespace velIPL {

class DicomDecoder : public StreamDecoder {
public:
  std::string_view key() const override { return "dicom"; }
  std::string_view name() const override { return "DICOM"; }
  std::vector<std::string_view> extensions() const override { return {".dcm", ".dicom"}; }

  // "DICM" at offset 128, after the preamble.
  bool recognises(std::span<const unsigned char> head) const override;

  std::unique_ptr<ImageFile> openStream(std::unique_ptr<std::istream> stream) const override;
};

// The one shared instance, for the decoder table.
const ImageDecoder& dicomDecoder();

}  // namespace velIPL
