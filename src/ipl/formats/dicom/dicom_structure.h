// DicomStructure: our own walk over a DICOM file's elements, from the
// preamble to the pixel data, before GDCM sees a byte of it.
//
// GDCM as shipped keeps its internal assertions, so a file that ends inside
// an element or nests items wrongly would abort the process inside GDCM.
// The walk checks what GDCM relies on: "DICM" at 128, a meta group in
// explicit VR little endian naming the transfer syntax, and every element
// up to the pixel data (explicit or implicit VR little endian, sequences
// and items of defined or undefined length, nested at most 16 deep) lying
// wholly inside the file. Only that prefix is then given to GDCM, and the
// pixel data is indexed from the offsets found here.
//
// Throws IPLException: "Not a DICOM file", "Corrupt DICOM file: ...",
// "Unsupported DICOM: transfer syntax ..." (big endian, deflated).
#pragma once

#include <cstdint>
#include <istream>
#include <string>

namespace velIPL {

struct DicomStructure {
  std::string transferSyntax;       // the UID, padding removed
  bool explicitVr = true;
  std::uint64_t pixelElement = 0;   // offset of the pixel data element's tag
  std::uint64_t pixelValue = 0;     // offset of its value
  std::uint32_t pixelLength = 0;    // 0xFFFFFFFF: encapsulated

  // Walks the stream of fileBytes bytes from its start.
  static DicomStructure walk(std::istream& stream, std::int64_t fileBytes);
};

}  // namespace velIPL
