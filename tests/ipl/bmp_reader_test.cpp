#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <optional>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "ipl/bmp_file_builder.h"
#include "test_util.h"

using bmptest::BmpFile;
using bmptest::decode;
using bmptest::greyRamp;
using bmptest::paddedRows;
using bmptest::raw;
using bmptest::readerMessage;
using bmptest::rowOf;
using velIPL::GImage;
using velIPL::IPLException;

namespace {

// Grey of one 24-bit pixel given as red, green, blue.
int greyOf(int red, int green, int blue) {
  BmpFile f;
  f.bitCount = 24;
  f.pixels = paddedRows({{static_cast<std::uint8_t>(blue), static_cast<std::uint8_t>(green), static_cast<std::uint8_t>(red)}});
  return decode(f.bytes()).at(0, 0);
}

BmpFile rle8(int width, int height, std::vector<std::uint8_t> stream) {
  BmpFile f;
  f.width = width;
  f.height = height;
  f.compression = 1;
  f.palette = greyRamp(256);
  f.pixels = raw(stream);
  return f;
}

BmpFile rle4(int width, int height, std::vector<std::uint8_t> stream) {
  BmpFile f = rle8(width, height, std::move(stream));
  f.bitCount = 4;
  f.compression = 2;
  f.palette = greyRamp(16);
  return f;
}

}  // namespace

struct PaddedRow {
  std::uint32_t bitCount;
  int width;
  std::size_t rowBytes;
};

class BmpReaderRowLength : public ::testing::TestWithParam<PaddedRow> {};

// Two rows of exactly the padded length decode; one byte less is refused.
// The length is the one stride that the writer and the bitmap bridge use.
TEST_P(BmpReaderRowLength, ReadsWholePaddedRows) {
  const PaddedRow p = GetParam();
  EXPECT_EQ(velIPL::BmpHeader::rowStride(static_cast<std::uint64_t>(p.width), p.bitCount), p.rowBytes);
  BmpFile f;
  f.headerSize = p.bitCount == 2 ? 12 : 40;
  f.bitCount = p.bitCount;
  f.width = p.width;
  f.height = 2;
  if (p.bitCount <= 8) f.palette = greyRamp(1 << p.bitCount);
  f.pixels.assign(2 * p.rowBytes, '\0');
  const GImage image = decode(f.bytes());
  EXPECT_EQ(image.width(), p.width);
  EXPECT_EQ(image.height(), 2);
  f.pixels.pop_back();
  EXPECT_EQ(readerMessage(f.bytes()), "Premature end of stream");
}

INSTANTIATE_TEST_SUITE_P(EveryDepth, BmpReaderRowLength,
                         ::testing::Values(PaddedRow{1, 5, 4}, PaddedRow{1, 33, 8}, PaddedRow{2, 7, 4}, PaddedRow{4, 10, 8},
                                           PaddedRow{8, 3, 4}, PaddedRow{16, 3, 8}, PaddedRow{24, 3, 12},
                                           PaddedRow{32, 3, 12}));

// Widths a header can claim overflow no 32-bit product.
TEST(BmpReader, RowStrideOfTheWidestHeaderIsExact) {
  EXPECT_EQ(velIPL::BmpHeader::rowStride(0xFFFFFFFFu, 32), 0x3FFFFFFFCull);
}

TEST(BmpReader, GreyConversionWeights) {
  EXPECT_EQ(greyOf(255, 0, 0), 76);
  EXPECT_EQ(greyOf(0, 255, 0), 150);
  EXPECT_EQ(greyOf(0, 0, 255), 27);
  EXPECT_EQ(greyOf(255, 255, 255), 255);
  EXPECT_EQ(greyOf(30, 20, 10), 21);
  EXPECT_EQ(greyOf(100, 150, 200), 140);
  for (int v : {0, 1, 77, 128, 254}) EXPECT_EQ(greyOf(v, v, v), v);
}

TEST(BmpReader, RowOrderFollowsSignOfHeight) {
  BmpFile f;
  f.width = 2;
  f.height = 3;
  f.palette = greyRamp(256);
  f.pixels = paddedRows({{1, 2}, {3, 4}, {5, 6}});
  const GImage bottomUp = decode(f.bytes());
  EXPECT_EQ(rowOf(bottomUp, 2), (std::vector<int>{1, 2}));
  EXPECT_EQ(rowOf(bottomUp, 0), (std::vector<int>{5, 6}));

  f.height = -3;
  const GImage topDown = decode(f.bytes());
  ASSERT_EQ(topDown.height(), 3);
  EXPECT_EQ(rowOf(topDown, 0), (std::vector<int>{1, 2}));
  EXPECT_EQ(rowOf(topDown, 2), (std::vector<int>{5, 6}));

  f.height = 0;
  f.pixels.clear();
  EXPECT_EQ(decode(f.bytes()).height(), 0);
}

TEST(BmpReader, IndexedDecoderAtEveryDepth) {
  BmpFile f;
  f.bitCount = 8;
  f.width = 4;
  f.palette = greyRamp(256);
  f.pixels = paddedRows({{0, 7, 200, 255}});
  EXPECT_EQ(rowOf(decode(f.bytes()), 0), (std::vector<int>{0, 7, 200, 255}));

  // Leftmost pixel in the most significant bits.
  f.bitCount = 1;
  f.width = 8;
  f.palette = {0x000000, 0xFFFFFF};
  f.pixels = paddedRows({{0x80}});
  EXPECT_EQ(rowOf(decode(f.bytes()), 0), (std::vector<int>{255, 0, 0, 0, 0, 0, 0, 0}));

  f.bitCount = 4;
  f.width = 3;
  f.palette = greyRamp(16);
  f.pixels = paddedRows({{0x1F, 0x70}});
  EXPECT_EQ(rowOf(decode(f.bytes()), 0), (std::vector<int>{1, 15, 7}));

  // 2-bit images come with core headers; the table has 2^2 entries of 3 bytes.
  f.headerSize = 12;
  f.bitCount = 2;
  f.width = 5;
  f.palette = {0x000000, 0x0A0A0A, 0x141414, 0x1E1E1E};
  f.pixels = paddedRows({{0x1B, 0xC0}});  // 00 01 10 11 | 11
  EXPECT_EQ(rowOf(decode(f.bytes()), 0), (std::vector<int>{0, 10, 20, 30, 30}));
}

TEST(BmpReader, ColourTableLookUp) {
  BmpFile f;
  f.width = 3;
  f.coloursUsed = 2;
  f.palette = {0x1E140A, 0x6496C8};  // (30, 20, 10) and (100, 150, 200)
  f.pixels = paddedRows({{0, 1, 0}});
  EXPECT_EQ(rowOf(decode(f.bytes()), 0), (std::vector<int>{21, 140, 21}));

  // Colours used 0 below 16 bits means a full table of 2^bitCount entries.
  f.coloursUsed = 0;
  f.palette = greyRamp(256);
  f.pixels = paddedRows({{9, 99, 199}});
  EXPECT_EQ(rowOf(decode(f.bytes()), 0), (std::vector<int>{9, 99, 199}));
}

TEST(BmpReader, IndexPastColourTableIsBlack) {
  BmpFile f;
  f.width = 4;
  f.coloursUsed = 2;
  f.palette = {0xFFFFFF, 0x808080};
  f.pixels = paddedRows({{0, 1, 2, 255}});
  EXPECT_EQ(rowOf(decode(f.bytes()), 0), (std::vector<int>{255, 128, 0, 0}));

  // Entries past the 256 an index can reach are skipped, not misread.
  f.coloursUsed = 300;
  f.palette = greyRamp(256);
  for (int i = 256; i < 300; ++i) f.palette.push_back(0xFFFFFF);
  f.pixels = paddedRows({{0, 1, 2, 255}});
  EXPECT_EQ(rowOf(decode(f.bytes()), 0), (std::vector<int>{0, 1, 2, 255}));
}

TEST(BmpReader, TwentyFourAndThirtyTwoBitChannelOrder) {
  BmpFile f;
  f.bitCount = 32;
  f.pixels = paddedRows({{10, 20, 30, 40}});
  EXPECT_EQ(decode(f.bytes()).at(0, 0), 21);  // blue 10, green 20, red 30; byte 3 ignored

  // Without bit fields, whatever masks a long header holds are ignored.
  f.headerSize = 108;
  f.masks = {0x000000FF, 0x0000FF00, 0x00FF0000, 0};
  EXPECT_EQ(decode(f.bytes()).at(0, 0), 21);
}

TEST(BmpReader, ThirtyTwoBitFieldsFollowTheirMasks) {
  // Red in byte 0 and blue in byte 2: the opposite of the usual order.
  BmpFile f;
  f.bitCount = 32;
  f.compression = 3;
  f.width = 2;
  f.masks = {0x000000FF, 0x0000FF00, 0x00FF0000};
  f.pixels = paddedRows({{30, 20, 10, 0, 255, 0, 0, 0}});
  EXPECT_EQ(rowOf(decode(f.bytes()), 0), (std::vector<int>{21, 76}));

  // Zero masks fall back to the usual ones; a 10-bit field keeps its top 8 bits.
  f.masks = {0, 0, 0};
  EXPECT_EQ(rowOf(decode(f.bytes()), 0), (std::vector<int>{greyOf(10, 20, 30), 27}));
  f.masks = {0x3FF00000, 0x000FFC00, 0x000003FF};
  f.width = 1;
  f.pixels = paddedRows({{0xFF, 0xFF, 0xFF, 0x3F}});
  EXPECT_EQ(decode(f.bytes()).at(0, 0), 255);
}

// A 32-bit file takes its own colour masks only when bit fields bring three
// non-zero ones that do not overlap; otherwise the fixed masks read it, and
// its alpha mask never refuses it. The probe accepts what the reader reads.
TEST(BmpReader, ThirtyTwoBitFilesWithoutUsableMasksReadWithTheFixedOnes) {
  // The pixel's bytes are 10, 20, 30, 40: the fixed masks see blue 10 and
  // red 30, the file's own masks below red 10 and blue 30.
  const int fixed = greyOf(30, 20, 10);
  const int own = greyOf(10, 20, 30);
  struct Case {
    const char* name;
    std::uint32_t headerSize;
    std::vector<std::uint32_t> masks;
    std::optional<std::uint32_t> pixelOffset;
    int grey;
  };
  const Case cases[] = {
      {"no room for masks after a 40-byte header", 40, {}, 14 + 40, fixed},
      {"alpha overlapping a colour", 108, {0xFF, 0xFF00, 0xFF0000, 0xFF00FFFF}, {}, own},
      {"colours overlapping", 40, {0xFF, 0xFFFF, 0xFF0000}, {}, fixed},
      {"a zero colour mask", 56, {0xFF, 0xFF00, 0, 0}, {}, fixed},
      {"three usable masks", 52, {0xFF, 0xFF00, 0xFF0000}, {}, own},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BmpFile f;
    f.bitCount = 32;
    f.compression = 3;
    f.headerSize = c.headerSize;
    f.masks = c.masks;
    f.pixelOffset = c.pixelOffset;
    f.pixels = paddedRows({{10, 20, 30, 40}});
    EXPECT_EQ(bmptest::probeMessage(f.bytes()), "");
    const std::string message = readerMessage(f.bytes());
    EXPECT_EQ(message, "");
    if (message.empty()) {
      EXPECT_EQ(decode(f.bytes()).at(0, 0), c.grey);
    }
  }
}

TEST(BmpReader, SixteenBitFieldsScaleToFullRange) {
  BmpFile f;
  f.bitCount = 16;
  f.width = 4;
  // Default 5-5-5: white, black, pure red, pure blue.
  f.pixels = paddedRows({{0xFF, 0x7F, 0x00, 0x00, 0x00, 0x7C, 0x1F, 0x00}});
  EXPECT_EQ(rowOf(decode(f.bytes()), 0), (std::vector<int>{255, 0, 76, 27}));

  // 5-6-5 with the masks after a 40-byte header: white is 255, green alone 150.
  f.compression = 3;
  f.masks = {0xF800, 0x07E0, 0x001F};
  f.pixels = paddedRows({{0xFF, 0xFF, 0x00, 0x00, 0xE0, 0x07, 0x10, 0x00}});
  EXPECT_EQ(rowOf(decode(f.bytes()), 0), (std::vector<int>{255, 0, 150, 14}));  // blue 16/31 -> 132

  // The same masks inside a 56-byte header, with a zero blue mask taking its default.
  f.headerSize = 56;
  f.masks = {0xF800, 0x07E0, 0, 0};
  f.pixels = paddedRows({{0xFF, 0xFF, 0x00, 0x00, 0xE0, 0x07, 0x10, 0x00}});
  EXPECT_EQ(rowOf(decode(f.bytes()), 0), (std::vector<int>{255, 0, 150, 14}));

  // Fields of 1 bit and of more than 8 bits.
  f.headerSize = 40;
  f.width = 1;
  f.masks = {0x8000, 0x7FE0, 0x001F};
  f.pixels = paddedRows({{0xFF, 0xFF}});
  EXPECT_EQ(decode(f.bytes()).at(0, 0), 255);
  f.pixels = paddedRows({{0x00, 0x80}});
  EXPECT_EQ(decode(f.bytes()).at(0, 0), 76);
}

TEST(BmpReader, OverlappingMasksAreRefusedBeforeAnyRow) {
  BmpFile f;
  f.bitCount = 16;
  f.compression = 3;
  f.masks = {0xFF00, 0x01FF, 0x0000};
  f.pixels.clear();  // the mask check comes before any row is read
  EXPECT_EQ(readerMessage(f.bytes()), "Overlapping component mask");
  // A zero blue mask defaults to 0x1F, which overlaps green here.
  f.masks = {0xFF00, 0x00FF, 0};
  EXPECT_EQ(readerMessage(f.bytes()), "Overlapping component mask");
  // The alpha mask of a 108-byte header takes part.
  f.headerSize = 108;
  f.masks = {0x7C00, 0x03E0, 0x001F, 0x8001};
  EXPECT_EQ(readerMessage(f.bytes()), "Overlapping component mask");
  f.masks = {0x7C00, 0x03E0, 0x001F, 0x8000};
  f.pixels = paddedRows({{0, 0}});
  EXPECT_EQ(readerMessage(f.bytes()), "");
}

TEST(BmpReader, HeaderLayoutsAndGapBeforePixels) {
  BmpFile f;
  f.width = 2;
  f.palette = greyRamp(256);
  f.pixels = paddedRows({{3, 4}});
  for (std::uint32_t size : {40u, 52u, 56u, 64u, 108u, 124u, 200u}) {
    f.headerSize = size;
    EXPECT_EQ(rowOf(decode(f.bytes()), 0), (std::vector<int>{3, 4})) << "header size " << size;
  }
  f.headerSize = 40;
  f.pixelOffset = 14 + 40 + 1024 + 37;  // a gap is skipped
  EXPECT_EQ(rowOf(decode(f.bytes()), 0), (std::vector<int>{3, 4}));

  // Core header: 16-bit width and height, 3-byte entries, always bottom-up.
  f = BmpFile();
  f.headerSize = 12;
  f.width = 2;
  f.height = 2;
  f.palette = greyRamp(256);
  f.pixels = paddedRows({{1, 2}, {3, 4}});
  const GImage core = decode(f.bytes());
  EXPECT_EQ(rowOf(core, 0), (std::vector<int>{3, 4}));
  EXPECT_EQ(rowOf(core, 1), (std::vector<int>{1, 2}));
}

TEST(BmpReader, CoreHeadersAboveEightBits) {
  // 16 bits: a table of 2^16 three-byte entries, then 5-5-5 pixels.
  BmpFile f;
  f.headerSize = 12;
  f.bitCount = 16;
  f.palette.assign(1 << 16, 0);
  f.pixels = paddedRows({{0xFF, 0x7F}});
  EXPECT_EQ(decode(f.bytes()).at(0, 0), 255);

  // 24 and 32 bits: tables of 2^24 and 2^32 entries end beyond the pixels.
  f.palette.clear();
  f.bitCount = 24;
  f.pixels = paddedRows({{1, 2, 3}});
  EXPECT_EQ(readerMessage(f.bytes()), "File corrupt");
  f.bitCount = 32;
  EXPECT_EQ(readerMessage(f.bytes()), "File corrupt");
  f.bitCount = 0xFFFF;
  EXPECT_EQ(readerMessage(f.bytes()), "File corrupt");

  // Depths without a decoder are refused rather than read as black.
  f.bitCount = 3;
  f.palette = greyRamp(8);
  EXPECT_EQ(readerMessage(f.bytes()), "Unsupported compression");
}

TEST(BmpReader, RunLength8Rules) {
  // An encoded run and an absolute run of 3 (plus its pad byte) that ends
  // exactly at the right edge, an end of line, a short run, end of bitmap.
  const GImage a = decode(rle8(5, 2, {2, 9, 0, 3, 5, 6, 7, 0, 0, 0, 1, 4, 0, 1}).bytes());
  EXPECT_EQ(rowOf(a, 1), (std::vector<int>{9, 9, 5, 6, 7}));
  EXPECT_EQ(rowOf(a, 0), (std::vector<int>{4, 0, 0, 0, 0}));

  // An absolute run of 4 has no pad byte.
  EXPECT_EQ(rowOf(decode(rle8(4, 1, {0, 4, 1, 2, 3, 4, 0, 1}).bytes()), 0), (std::vector<int>{1, 2, 3, 4}));

  // One pixel past the right edge, by either kind of run.
  EXPECT_EQ(readerMessage(rle8(5, 1, {2, 9, 0, 4, 5, 6, 7, 8, 0, 1}).bytes()), "Corrupt data");
  EXPECT_EQ(readerMessage(rle8(5, 1, {6, 9, 0, 1}).bytes()), "Corrupt data");
  EXPECT_EQ(readerMessage(rle8(5, 1, {5, 9, 0, 1}).bytes()), "");

  // A delta skips pixels, which stay 0.
  const GImage d = decode(rle8(4, 3, {0, 2, 1, 1, 2, 7, 0, 1}).bytes());
  EXPECT_EQ(rowOf(d, 2), (std::vector<int>{0, 0, 0, 0}));
  EXPECT_EQ(rowOf(d, 1), (std::vector<int>{0, 7, 7, 0}));
  EXPECT_EQ(rowOf(d, 0), (std::vector<int>{0, 0, 0, 0}));

  // Runs above the top row, whether reached by delta or end of line.
  EXPECT_EQ(readerMessage(rle8(4, 3, {0, 2, 0, 5, 1, 1, 0, 1}).bytes()), "Corrupt data");
  EXPECT_EQ(readerMessage(rle8(4, 1, {0, 0, 1, 1, 0, 1}).bytes()), "Corrupt data");
  // A delta far to the right is only refused when a run is drawn there.
  EXPECT_EQ(readerMessage(rle8(4, 1, {0, 2, 200, 0, 0, 1}).bytes()), "");
  EXPECT_EQ(readerMessage(rle8(4, 1, {0, 2, 200, 0, 1, 1, 0, 1}).bytes()), "Corrupt data");

  // The stream must end with end of bitmap; bytes after it are ignored.
  EXPECT_EQ(readerMessage(rle8(4, 1, {2, 9}).bytes()), "Corrupt data");
  EXPECT_EQ(readerMessage(rle8(4, 1, {2, 9, 0}).bytes()), "Corrupt data");
  EXPECT_EQ(readerMessage(rle8(4, 1, {0, 3, 1, 2, 3}).bytes()), "Corrupt data");  // pad byte missing
  EXPECT_EQ(readerMessage(rle8(4, 1, {0, 2, 1}).bytes()), "Corrupt data");        // delta cut short
  EXPECT_EQ(readerMessage(rle8(4, 1, {0, 1, 0xFF, 0xFF, 0xFF}).bytes()), "");
  EXPECT_EQ(readerMessage(rle8(4, 0, {0, 1}).bytes()), "");

  EXPECT_EQ(readerMessage(rle8(4, -1, {0, 1}).bytes()), "Negative height not allowed in an RLE image");
}

TEST(BmpReader, RunLength4Rules) {
  EXPECT_EQ(rowOf(decode(rle4(5, 1, {5, 0x1F, 0, 1}).bytes()), 0), (std::vector<int>{1, 15, 1, 15, 1}));
  // Absolute runs: 3 pixels in 2 bytes, 4 in 2, 5 in 3 plus a pad byte, 6 in 3 plus a pad byte.
  EXPECT_EQ(rowOf(decode(rle4(3, 1, {0, 3, 0x12, 0x30, 0, 1}).bytes()), 0), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(rowOf(decode(rle4(4, 1, {0, 4, 0x12, 0x34, 0, 1}).bytes()), 0), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(rowOf(decode(rle4(5, 1, {0, 5, 0x12, 0x34, 0x50, 0, 0, 1}).bytes()), 0),
            (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(rowOf(decode(rle4(6, 1, {0, 6, 0x12, 0x34, 0x56, 0, 0, 1}).bytes()), 0),
            (std::vector<int>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(readerMessage(rle4(5, 1, {0, 5, 0x12, 0x34, 0x50, 0, 1}).bytes()), "Corrupt data");

  // Early end of line leaves the rest of the row 0; one pixel too many is refused.
  const GImage e = decode(rle4(4, 2, {2, 0x99, 0, 0, 4, 0x12, 0, 1}).bytes());
  EXPECT_EQ(rowOf(e, 1), (std::vector<int>{9, 9, 0, 0}));
  EXPECT_EQ(rowOf(e, 0), (std::vector<int>{1, 2, 1, 2}));
  EXPECT_EQ(readerMessage(rle4(4, 1, {5, 0x12, 0, 1}).bytes()), "Corrupt data");
  EXPECT_EQ(readerMessage(rle4(4, -2, {0, 1}).bytes()), "Negative height not allowed in an RLE image");
}

TEST(BmpReader, SizesClaimedByTheHeaderAreCheckedBeforeAllocating) {
  // A 70-byte file claiming 100000 x 100000 pixels: refused at once.
  BmpFile big;
  big.bitCount = 24;
  big.width = 100000;
  big.height = 100000;
  big.pixels.assign(16, '\0');
  EXPECT_EQ(big.bytes().size(), 70u);
  EXPECT_EQ(readerMessage(big.bytes()), "Premature end of stream");
  big.height = -100000;
  EXPECT_EQ(readerMessage(big.bytes()), "Premature end of stream");

  // Still so when skipping the gap before the pixels ends exactly at the end.
  big.pixels.clear();
  big.pixelOffset = 14 + 40 + 16;
  EXPECT_EQ(readerMessage(big.bytes()), "Premature end of stream");
  big.pixelOffset.reset();

  // The extremes of the signed height, and sides past the documented limit.
  big.height = INT32_MIN;
  EXPECT_EQ(readerMessage(big.bytes()), "Image too large");
  big.width = 0;
  big.height = INT32_MAX;
  EXPECT_EQ(readerMessage(big.bytes()), "Image too large");
  big.height = 1;
  big.width = (1 << 20) + 1;
  EXPECT_EQ(readerMessage(big.bytes()), "Image too large");
  big.width = 0;
  big.height = 1 << 20;  // no pixels at all, but within the limit
  EXPECT_EQ(decode(big.bytes()).height(), 1 << 20);

  // Run-length images: a few bytes cannot stand for billions of pixels.
  EXPECT_EQ(readerMessage(rle8(1 << 20, 1 << 20, {0, 1}).bytes()), "Image too large");
  EXPECT_EQ(readerMessage(rle8(1 << 12, 1 << 12, {0, 1}).bytes()), "");  // 16 megapixels are always allowed
  EXPECT_EQ(readerMessage(rle8(1 << 12, (1 << 12) + 1, {0, 1}).bytes()), "Image too large");

  // A colours-used count far beyond the file is refused from the sizes.
  BmpFile table;
  table.coloursUsed = 0xFFFFFFFF;
  EXPECT_EQ(readerMessage(bmptest::patchLE32(table.bytes(), 10, 0xFFFFFFFF)), "File corrupt");
  table.coloursUsed = 0x3FFFFFF0;  // fits below the offset, but the file ends
  EXPECT_EQ(readerMessage(bmptest::patchLE32(table.bytes(), 10, 0xFFFFFFFF)), "Premature end of stream");
}

TEST(BmpReader, NegativeWidthIsRefused) {
  BmpFile f;
  f.width = -1;
  f.palette = greyRamp(256);
  f.pixels = paddedRows({{1}});
  EXPECT_EQ(readerMessage(f.bytes()), "Negative width not allowed");
}

TEST(BmpReader, FileConstructorAndPaths) {
  const std::string dir = ::testing::TempDir() + "bmp_reader_paths_" + std::to_string(::getpid());
  ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
  BmpFile f;
  f.width = 2;
  f.palette = greyRamp(256);
  f.pixels = paddedRows({{17, 34}});
  const std::string good = dir + "/good.bmp";
  std::ofstream(good, std::ios::binary) << f.bytes();
  const GImage image(good);
  EXPECT_EQ(rowOf(image, 0), (std::vector<int>{17, 34}));

  // A failed read leaves the target as it was.
  const std::string bad = dir + "/bad.bmp";
  std::ofstream(bad, std::ios::binary) << f.bytes().substr(0, 30);
  GImage target = image;
  EXPECT_EQ(testutil::messageOf<IPLException>([&] { velIPL::BmpReader().readImage(bad, target); }),
            "Premature end of stream");
  EXPECT_EQ(rowOf(target, 0), (std::vector<int>{17, 34}));

  // Not a readable regular file: missing, a folder, a pipe.
  const std::string fifo = dir + "/pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  for (const std::string& path : {dir + "/missing.bmp", dir, fifo}) {
    EXPECT_EQ(testutil::messageOf<IPLException>([&] { GImage g(path); }), "Can't open image file") << path;
  }
  EXPECT_EQ(testutil::messageOf<IPLException>([&] { GImage g(std::string("/dev/zero")); }), "Can't open image file");
  for (const std::string& path : {good, bad, fifo}) ::unlink(path.c_str());
  ::rmdir(dir.c_str());
}
