// DicomStructure: our own walk over a DICOM file's elements, from the
// preamble to the pixel data, before GDCM sees a byte of it.
//
// GDCM as shipped keeps its internal assertions, so a file that ends inside
// an element would abort the process inside GDCM's parser, and a length it
// misreads makes it allocate whatever the length says. So GDCM never parses
// the data set: the walk checks "DICM" at 128, a meta group in explicit VR
// little endian naming the transfer syntax, and every element up to the
// pixel data (explicit VR with a known VR, or implicit VR, little endian;
// sequences and items of defined or undefined length, nested at most 16
// deep) lying wholly inside the file, and keeps the values the decoder
// needs. GDCM only decodes the compressed frames, from bytes we cut out.
//
// Throws IPLException: "Not a DICOM file", "Corrupt DICOM file: ...",
// "Unsupported DICOM: transfer syntax ..." (big endian, deflated).
#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <string>

namespace velIPL {

struct DicomStructure {
  std::string transferSyntax;       // the UID, padding removed
  bool explicitVr = true;
  std::uint64_t pixelElement = 0;   // offset of the pixel data element's tag
  std::uint64_t pixelValue = 0;     // offset of its value
  std::uint32_t pixelLength = 0;    // 0xFFFFFFFF: encapsulated

  // Values of the top-level elements of groups 0x0008 and 0x0028 and of
  // Spacing Between Slices (0018,0088), keyed by group << 16 | element
  // (values over 1 MiB are left out); under sharedPixelSpacing and
  // sharedSliceSpacing the Pixel Spacing and Spacing Between Slices of the
  // shared functional groups' pixel measures (where a multi-frame OCT file
  // keeps them).
  std::map<std::uint32_t, std::string> values;
  static constexpr std::uint32_t sharedPixelSpacing = 0xFFFF0030;
  static constexpr std::uint32_t sharedSliceSpacing = 0xFFFF0088;

  // The value of the element, or empty.
  std::string value(std::uint16_t group, std::uint16_t element) const;

  // Walks the stream of fileBytes bytes from its start.
  static DicomStructure walk(std::istream& stream, std::int64_t fileBytes);
};

}  // namespace velIPL
