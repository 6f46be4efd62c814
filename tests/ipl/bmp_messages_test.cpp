// Every refusal of the header parse, with the reader's and the probe's
// message for the same minimal file, and the pixel-level refusals that the
// probe (which reads no pixels) lets through.
#include <gtest/gtest.h>

#include <string>

#include "ipl/bmp_file_builder.h"

using bmptest::BmpFile;
using bmptest::greyRamp;
using bmptest::paddedRows;
using bmptest::patchLE32;
using bmptest::probeMessage;
using bmptest::raw;
using bmptest::readerMessage;

namespace {

struct Refusal {
  const char* name;
  std::string bytes;
  const char* reader;
  const char* probe;  // "" when the probe accepts the file
};

BmpFile grey8(int width = 2, int height = 1) {
  BmpFile f;
  f.width = width;
  f.height = height;
  f.palette = greyRamp(256);
  f.pixels.assign(static_cast<std::size_t>((width + 3) / 4 * 4 * (height < 0 ? -height : height)), '\0');
  return f;
}

BmpFile with(BmpFile f, void (*change)(BmpFile&)) {
  change(f);
  return f;
}

std::string cut(const std::string& bytes, std::size_t length) { return bytes.substr(0, length); }

std::vector<Refusal> refusals() {
  const std::string good = grey8().bytes();
  const char* const shortR = "Premature end of stream";
  const char* const shortP = "Bitmap file not complete";
  return {
      {"TenBytes", cut(good, 10), shortR, shortP},
      {"EndsInHeaderSize", cut(good, 16), shortR, shortP},
      {"NotBM", "BA" + good.substr(2), "Not a bmp image", "File is not a bitmap image"},
      {"HeaderSize20", patchLE32(good, 14, 20), "Invalid bmp header size", "Bitmap file is not complete"},
      {"HeaderSize39", patchLE32(good, 14, 39), "Invalid bmp header size", "Bitmap file is not complete"},
      {"EndsInInfoHeader", cut(good, 40), shortR, shortP},
      {"EndsInCoreHeader", cut(with(grey8(), [](BmpFile& f) { f.headerSize = 12; }).bytes(), 20), shortR, shortP},
      {"HugeHeaderSize", patchLE32(good, 14, 0xFFFFFFFF), shortR, shortP},
      {"TwentyFourBitRle", with(grey8(), [](BmpFile& f) { f.bitCount = 24; f.compression = 1; f.palette.clear(); }).bytes(),
       "Unsupported compression", "Unsupported compression"},
      {"EightBitRle4", with(grey8(), [](BmpFile& f) { f.compression = 2; }).bytes(), "Unsupported compression",
       "Unsupported compression"},
      {"FourBitRle8", with(grey8(), [](BmpFile& f) { f.bitCount = 4; f.compression = 1; f.palette = greyRamp(16); }).bytes(),
       "Unsupported compression", "Unsupported compression"},
      {"OneBitRle", with(grey8(), [](BmpFile& f) { f.bitCount = 1; f.compression = 1; f.palette = greyRamp(2); }).bytes(),
       "Unsupported compression", "Unsupported compression"},
      {"TwentyFourBitFields", with(grey8(), [](BmpFile& f) { f.bitCount = 24; f.compression = 3; f.palette.clear(); }).bytes(),
       "Unsupported compression", "Unsupported compression"},
      {"TwoBitInfoHeader", with(grey8(), [](BmpFile& f) { f.bitCount = 2; f.palette = greyRamp(4); }).bytes(),
       "Unsupported compression", "Unsupported compression"},
      {"ZeroBits", with(grey8(), [](BmpFile& f) { f.bitCount = 0; f.palette.clear(); }).bytes(), "Unsupported compression",
       "Unsupported compression"},
      {"JpegCompression", with(grey8(), [](BmpFile& f) { f.compression = 4; }).bytes(), "Unsupported compression",
       "Unsupported compression"},
      {"CoreThreeBits", with(grey8(), [](BmpFile& f) { f.headerSize = 12; f.bitCount = 3; f.palette = greyRamp(8); }).bytes(),
       "Unsupported compression", "Unsupported compression"},
      {"NegativeWidth", with(grey8(), [](BmpFile& f) { f.width = -2; }).bytes(), "Negative width not allowed",
       "Bitmap width is negative"},
      {"OffsetInsideHeader", with(grey8(), [](BmpFile& f) { f.palette.clear(); f.coloursUsed = 1; f.pixelOffset = 40; }).bytes(),
       "File corrupt", "Bitmap file is corrupt"},
      {"OffsetInsideTable", patchLE32(good, 10, 14 + 40 + 1023), "File corrupt", "Bitmap file is corrupt"},
      {"HugeColoursUsed", patchLE32(with(grey8(), [](BmpFile& f) { f.coloursUsed = 0x40000001; }).bytes(), 10, 0xFFFFFFFF),
       "File corrupt", "Bitmap file is corrupt"},
      {"CoreTwentyFourBits", with(grey8(), [](BmpFile& f) { f.headerSize = 12; f.bitCount = 24; f.palette.clear(); }).bytes(),
       "File corrupt", "Bitmap file is corrupt"},
      {"BitFieldMasksMissing", with(grey8(), [](BmpFile& f) { f.bitCount = 16; f.compression = 3; f.palette.clear(); }).bytes(),
       "File corrupt", "Bitmap file is corrupt"},
      {"EndsInColourTable", cut(good, 14 + 40 + 500), shortR, shortP},
      {"OffsetPastEnd", patchLE32(good, 10, 5000), shortR, shortP},
      {"TooWide", with(grey8(), [](BmpFile& f) { f.width = (1 << 20) + 1; f.pixels.clear(); }).bytes(), "Image too large",
       "Bitmap image is too large"},
      {"TooTall", with(grey8(), [](BmpFile& f) { f.height = -(1 << 20) - 1; f.pixels.clear(); }).bytes(), "Image too large",
       "Bitmap image is too large"},
      // Faults in the pixel data pass the probe; the reader refuses them.
      {"PixelsCutShort", cut(good, good.size() - 1), shortR, ""},
      {"OverlappingMasks",
       with(grey8(), [](BmpFile& f) { f.bitCount = 16; f.compression = 3; f.palette.clear(); f.masks = {0xFF00, 0x0180, 0x1F}; }).bytes(),
       "Overlapping component mask", ""},
      {"RleTopDown", with(grey8(2, -1), [](BmpFile& f) { f.compression = 1; f.pixels = raw({0, 1}); }).bytes(),
       "Negative height not allowed in an RLE image", ""},
      {"RleWithoutEnd", with(grey8(), [](BmpFile& f) { f.compression = 1; f.pixels = raw({2, 1}); }).bytes(), "Corrupt data", ""},
  };
}

}  // namespace

class BmpMessages : public ::testing::TestWithParam<Refusal> {};

TEST_P(BmpMessages, ReaderAndProbeRefuseWithTheirOwnMessage) {
  EXPECT_EQ(readerMessage(GetParam().bytes), GetParam().reader);
  EXPECT_EQ(probeMessage(GetParam().bytes), GetParam().probe);
}

INSTANTIATE_TEST_SUITE_P(EveryRefusal, BmpMessages, ::testing::ValuesIn(refusals()),
                         [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

TEST(BmpMessages, ValidFileIsAcceptedByBoth) {
  const std::string good = grey8(3, 2).bytes();
  EXPECT_EQ(readerMessage(good), "");
  EXPECT_EQ(probeMessage(good), "");
}
