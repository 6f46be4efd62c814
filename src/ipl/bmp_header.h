// BmpHeader: the one parse of a BMP file's headers and colour table. The
// reader (BmpReader) and the header probe (BmpInfo) both run it, so they can
// never disagree about what a file is; each turns a BmpFault into its own
// message, both kept here side by side (readerMessageFor, probeMessageFor).
//
// read() consumes the file header, the info header (12-byte core layout or
// 40 bytes and more), bit-field masks stored after a short info header, the
// colour table and the gap up to the pixel data, and leaves the stream at the
// first pixel byte. It throws nothing of its own (only what the stream or
// the allocator throws) and allocates nothing whose size the file chooses:
// the sizes the header claims are checked against the pixel data offset
// before anything is read, and only the 256 colour table entries an index
// can reach are kept.
#pragma once

#include <array>
#include <cstdint>
#include <istream>

namespace velIPL {

// Why a file was refused; the first failed check decides.
enum class BmpFault {
  none,
  truncated,      // the stream ends before the pixel data offset
  notBmp,         // the file type is not "BM"
  badHeaderSize,  // header size neither 12 nor at least 40
  unsupported,    // bit count and compression not accepted
  negativeWidth,  // an info header with a width below 0
  corrupt,        // headers and colour table end beyond the pixel data offset
  tooLarge,       // a side longer than BmpHeader::maxSide
};

// The reader's message for a fault ("Premature end of stream", ...): the
// words BmpReader throws, which anything decoding BMP bytes should use so
// that it fails as a file read from disk does. Empty for BmpFault::none.
const char* readerMessageFor(BmpFault fault);

// The header probe's message for a fault ("Bitmap file not complete", ...),
// as BmpInfo reports it. Empty for BmpFault::none.
const char* probeMessageFor(BmpFault fault);

struct BmpColour {
  std::uint8_t blue = 0;
  std::uint8_t green = 0;
  std::uint8_t red = 0;
  std::uint8_t unused = 0;
};

struct BmpHeader {
  // The format's fixed sizes, in bytes: the file header, the core info
  // header, and the shortest info header (the one the writer writes).
  static constexpr std::uint32_t fileHeaderSize = 14;
  static constexpr std::uint32_t coreHeaderSize = 12;
  static constexpr std::uint32_t infoHeaderSize = 40;

  // Bytes of one stored row of an uncompressed image: width pixels of
  // bitCount bits, padded to a multiple of 4 bytes. Exact for every width
  // and bit count a header can hold.
  static constexpr std::uint64_t rowStride(std::uint64_t width, std::uint32_t bitCount) {
    return (width * bitCount + 31) / 32 * 4;
  }

  // Longest side accepted, in pixels. It keeps a file that claims a width of
  // 0 and a height of two billion rows from costing gigabytes of row tables
  // while holding no pixel at all.
  static constexpr std::int64_t maxSide = 1 << 20;

  // Entries an index of at most 8 bits can reach; later entries are skipped.
  static constexpr std::uint32_t paletteCapacity = 256;

  // Parses from the stream's current position; on BmpFault::none the stream
  // stands at the pixel data offset. Fields hold whatever the parse reached
  // when it stopped, 0 where it did not get to.
  BmpFault read(std::istream& stream);

  std::uint32_t pixelOffset = 0;
  std::uint32_t headerSize = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;  // negative: rows stored top-down
  std::uint32_t bitCount = 0;
  std::uint32_t compression = 0;  // 0 for a core header
  // Entries the header announces (saturated at 2^32 - 1 for the core
  // header's 2^bitCount rule, which such files fail anyway).
  std::uint32_t colourCount = 0;
  // The masks the pixels are decoded with. 16 bits: the file's, each 0 one
  // taking its 5-5-5 default, alpha from a header of 108 bytes or more.
  // 32 bits: the file's three colour masks when bit fields bring three
  // non-zero ones that do not overlap, else the fixed 8-8-8; alpha 0.
  std::uint32_t redMask = 0;
  std::uint32_t greenMask = 0;
  std::uint32_t blueMask = 0;
  std::uint32_t alphaMask = 0;
  // Entries past colourCount stay black, so any index names a colour.
  std::array<BmpColour, paletteCapacity> palette{};
};

}  // namespace velIPL
