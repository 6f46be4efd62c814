#include "ipl/bmp_header.h"

#include <algorithm>
#include <cstddef>

#include "ipl/byte_io.h"

namespace velIPL {

namespace {

// Bytes of an info header that hold a field we take (the alpha mask ends at 56).
constexpr std::uint32_t headerBytesKept = 64;
// The three masks end here, counted from the start of the info header.
constexpr std::uint32_t masksEnd = 52;

bool accepted(std::uint32_t bitCount, std::uint32_t compression) {
  switch (bitCount) {
    case 1: return compression == 0;
    case 4: return compression == 0 || compression == 2;
    case 8: return compression == 0 || compression == 1;
    case 16: return compression == 0 || compression == 3;
    case 24: return compression == 0;
    case 32: return compression == 0 || compression == 3;
    default: return false;
  }
}

// Depths a core header can be decoded at: it carries no compression, so the
// bit count alone picks the decoder.
bool decodableCore(std::uint32_t bitCount) {
  switch (bitCount) {
    case 1: case 2: case 4: case 8: case 16: case 24: return true;
    default: return false;
  }
}

std::uint32_t maskOr(std::uint32_t word, std::uint32_t fallback) { return word != 0 ? word : fallback; }

}  // namespace

const char* readerMessageFor(BmpFault fault) {
  switch (fault) {
    case BmpFault::truncated: return "Premature end of stream";
    case BmpFault::notBmp: return "Not a bmp image";
    case BmpFault::badHeaderSize: return "Invalid bmp header size";
    case BmpFault::unsupported: return "Unsupported compression";
    case BmpFault::negativeWidth: return "Negative width not allowed";
    case BmpFault::corrupt: return "File corrupt";
    case BmpFault::tooLarge: return "Image too large";
    case BmpFault::none: break;
  }
  return "";
}

const char* probeMessageFor(BmpFault fault) {
  switch (fault) {
    case BmpFault::truncated: return "Bitmap file not complete";
    case BmpFault::notBmp: return "File is not a bitmap image";
    case BmpFault::badHeaderSize: return "Bitmap file is not complete";
    case BmpFault::unsupported: return "Unsupported compression";
    case BmpFault::negativeWidth: return "Bitmap width is negative";
    case BmpFault::corrupt: return "Bitmap file is corrupt";
    case BmpFault::tooLarge: return "Bitmap image is too large";
    case BmpFault::none: break;
  }
  return "";
}

BmpFault BmpHeader::read(std::istream& stream) {
  std::uint8_t fileHeader[fileHeaderSize];
  if (!readBytes(stream, fileHeader, fileHeaderSize)) return BmpFault::truncated;
  if (fileHeader[0] != 'B' || fileHeader[1] != 'M') return BmpFault::notBmp;
  pixelOffset = loadLE32(fileHeader + 10);

  // Zero-filled, so a field beyond a short header reads as 0.
  std::uint8_t info[headerBytesKept] = {};
  if (!readBytes(stream, info, 4)) return BmpFault::truncated;
  headerSize = loadLE32(info);
  if (headerSize != coreHeaderSize && headerSize < infoHeaderSize) return BmpFault::badHeaderSize;
  const std::uint32_t kept = std::min(headerSize, headerBytesKept);
  if (!readBytes(stream, info + 4, kept - 4)) return BmpFault::truncated;
  if (!skipBytes(stream, headerSize - kept)) return BmpFault::truncated;

  const bool core = headerSize == coreHeaderSize;
  std::uint64_t tableEntries = 0;
  std::uint64_t entrySize = 0;
  std::uint32_t maskBytes = 0;
  if (core) {
    width = loadLE16(info + 4);
    height = loadLE16(info + 6);
    bitCount = loadLE16(info + 10);
    compression = 0;
    // Every core header announces 2^bitCount entries; past 2^40 the table
    // is beyond any pixel data offset, so the exact count no longer matters.
    tableEntries = std::uint64_t{1} << std::min<std::uint32_t>(bitCount, 40);
    colourCount = static_cast<std::uint32_t>(std::min<std::uint64_t>(tableEntries, UINT32_MAX));
    entrySize = 3;
  } else {
    width = static_cast<std::int32_t>(loadLE32(info + 4));
    height = static_cast<std::int32_t>(loadLE32(info + 8));
    bitCount = loadLE16(info + 14);
    compression = loadLE32(info + 16);
    const std::uint32_t coloursUsed = loadLE32(info + 32);
    colourCount = coloursUsed != 0 ? coloursUsed : (bitCount < 16 ? std::uint32_t{1} << bitCount : 0);
    tableEntries = colourCount;
    entrySize = 4;
    if (!accepted(bitCount, compression)) return BmpFault::unsupported;
    if (width < 0) return BmpFault::negativeWidth;
    // A bit-field header shorter than 52 bytes is followed by its three
    // masks, where a colour table would otherwise begin.
    if (compression == 3 && headerSize < masksEnd) maskBytes = masksEnd - headerSize;
  }

  // Decide from the sizes alone, before reading an entry: a table the
  // pixel data offset leaves no room for is refused whatever its length.
  std::uint64_t consumed = std::uint64_t{fileHeaderSize} + headerSize + maskBytes + tableEntries * entrySize;
  if (consumed > pixelOffset && bitCount == 32 && maskBytes > 0) {
    // A 32-bit file reads with the fixed masks when it has none of its own,
    // so masks the pixel data leaves no room for count as absent.
    consumed -= maskBytes;
    maskBytes = 0;
  }
  if (consumed > pixelOffset) return BmpFault::corrupt;

  // Only a header shorter than 52 bytes has masks after it, so they land
  // inside the buffer.
  if (maskBytes > 0 && !readBytes(stream, info + headerSize, maskBytes)) return BmpFault::truncated;

  const std::uint64_t keptEntries = std::min<std::uint64_t>(tableEntries, paletteCapacity);
  std::uint8_t table[paletteCapacity * 4];
  if (!readBytes(stream, table, static_cast<std::size_t>(keptEntries * entrySize))) return BmpFault::truncated;
  palette = {};
  for (std::uint64_t i = 0; i < keptEntries; ++i) {
    const std::uint8_t* entry = table + i * entrySize;
    palette[i] = BmpColour{entry[0], entry[1], entry[2], 0};
  }
  if (!skipBytes(stream, (tableEntries - keptEntries) * entrySize)) return BmpFault::truncated;
  if (!skipBytes(stream, pixelOffset - consumed)) return BmpFault::truncated;

  if (core && !decodableCore(bitCount)) return BmpFault::unsupported;
  if (width > maxSide || height > maxSide || -std::int64_t{height} > maxSide) return BmpFault::tooLarge;

  if (bitCount == 16) {
    redMask = maskOr(loadLE32(info + 40), 0x00007C00);
    greenMask = maskOr(loadLE32(info + 44), 0x000003E0);
    blueMask = maskOr(loadLE32(info + 48), 0x0000001F);
    alphaMask = headerSize >= 108 ? loadLE32(info + 52) : 0;
  } else if (bitCount == 32) {
    // A bit-field file says where its components are, and honouring its
    // masks keeps unusual ones from decoding to the wrong colours; but only
    // three usable colour masks are taken, all or none, and otherwise the
    // fixed masks read the file as they always did. Alpha plays no part in
    // grey, so it can never refuse a file.
    const std::uint32_t red = loadLE32(info + 40);
    const std::uint32_t green = loadLE32(info + 44);
    const std::uint32_t blue = loadLE32(info + 48);
    const bool present = compression == 3 && (headerSize >= masksEnd || maskBytes > 0);
    const bool usable = present && red != 0 && green != 0 && blue != 0 && (red & green) == 0 && (red & blue) == 0 &&
                        (green & blue) == 0;
    redMask = usable ? red : 0x00FF0000;
    greenMask = usable ? green : 0x0000FF00;
    blueMask = usable ? blue : 0x000000FF;
    alphaMask = 0;
  }
  return BmpFault::none;
}

}  // namespace velIPL
