#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "ipl/formats/frame_rules.h"
#include "ipl/formats/tiff/tiff_decoder.h"
#include "ipl/formats/tiff/tiff_writer.h"
#include "ipl/ipl_exception.h"
#include "ipl/formats/sample_pattern.h"
#include "scratch_folder.h"
#include "test_util.h"

using namespace velIPL;

namespace {

using testutil::sampleAt;

std::uint16_t mapEntry(int i, int c) { return static_cast<std::uint16_t>(testutil::paletteEntry(i, c) * 257); }

// A page written by libtiff itself, with everything the decoder must cope with.
struct RawPage {
  std::uint32_t width = 13, height = 7;
  std::uint16_t bits = 8, samples = 1, photometric = PHOTOMETRIC_MINISBLACK;
  std::uint16_t planar = PLANARCONFIG_CONTIG, format = SAMPLEFORMAT_UINT, extras = 0;
  std::uint16_t compression = COMPRESSION_NONE;
  std::uint32_t tile = 0;     // tile side; 0 strips of 3 rows
};

void writeRaw(const std::string& path, const std::vector<RawPage>& pages, bool bigEndian = false) {
  TIFF* tif = TIFFOpen(path.c_str(), bigEndian ? "wb" : "wl");
  ASSERT_NE(tif, nullptr);
  for (const RawPage& p : pages) {
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, p.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, p.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, p.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, p.samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, p.photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, p.planar);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, p.format);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, p.compression);
    if (p.extras) {
      std::vector<std::uint16_t> kinds(p.extras, EXTRASAMPLE_UNASSALPHA);
      TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, p.extras, kinds.data());
    }
    std::vector<std::uint16_t> map[3];
    if (p.photometric == PHOTOMETRIC_PALETTE) {
      for (int c = 0; c < 3; ++c) {
        for (int i = 0; i < (1 << p.bits); ++i) map[c].push_back(mapEntry(i, c));
      }
      TIFFSetField(tif, TIFFTAG_COLORMAP, map[0].data(), map[1].data(), map[2].data());
    }
    const int planes = p.planar == PLANARCONFIG_SEPARATE ? p.samples : 1;
    const int perPlane = p.samples / planes;
    // Every plane as whole packed rows.
    const std::size_t rowBytes = (std::size_t{p.width} * perPlane * p.bits + 7) / 8;
    std::vector<std::vector<unsigned char>> data(planes, std::vector<unsigned char>(rowBytes * p.height));
    for (int plane = 0; plane < planes; ++plane) {
      for (std::uint32_t y = 0; y < p.height; ++y) {
        unsigned char* row = data[plane].data() + y * rowBytes;
        for (std::uint32_t x = 0; x < p.width; ++x) {
          for (int k = 0; k < perPlane; ++k) {
            const std::size_t i = x * perPlane + k;
            const std::uint32_t v = sampleAt(static_cast<int>(x), static_cast<int>(y), plane + k, p.bits == 32 ? 16 : p.bits);
            if (p.bits == 32) {
              const float f = static_cast<float>(v);
              std::memcpy(row + 4 * i, &f, 4);
            } else if (p.bits == 16) {
              const auto s = static_cast<std::uint16_t>(v);
              std::memcpy(row + 2 * i, &s, 2);
            } else if (p.bits == 8) {
              row[i] = static_cast<unsigned char>(v);
            } else {
              row[i * p.bits / 8] |= static_cast<unsigned char>(v << (8 - p.bits - i * p.bits % 8));
            }
          }
        }
      }
    }
    if (p.tile) {
      TIFFSetField(tif, TIFFTAG_TILEWIDTH, p.tile);
      TIFFSetField(tif, TIFFTAG_TILELENGTH, p.tile);
      const std::size_t tileRow = (std::size_t{p.tile} * perPlane * p.bits + 7) / 8;
      std::vector<unsigned char> tile(tileRow * p.tile);
      for (int plane = 0; plane < planes; ++plane) {
        for (std::uint32_t ty = 0; ty < p.height; ty += p.tile) {
          for (std::uint32_t tx = 0; tx < p.width; tx += p.tile) {
            std::fill(tile.begin(), tile.end(), 0);
            const std::size_t offset = tx * perPlane * p.bits / 8;
            for (std::uint32_t r = 0; r < p.tile && ty + r < p.height; ++r) {
              std::memcpy(tile.data() + r * tileRow, data[plane].data() + (ty + r) * rowBytes + offset,
                          std::min(tileRow, rowBytes - offset));
            }
            ASSERT_GE(TIFFWriteTile(tif, tile.data(), tx, ty, 0, static_cast<std::uint16_t>(plane)), 0);
          }
        }
      }
    } else {
      TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 3u);
      for (int plane = 0; plane < planes; ++plane) {
        for (std::uint32_t y = 0; y < p.height; ++y) {
          ASSERT_GE(TIFFWriteScanline(tif, data[plane].data() + y * rowBytes, y, static_cast<std::uint16_t>(plane)), 0);
        }
      }
    }
    TIFFWriteDirectory(tif);
  }
  TIFFClose(tif);
}

// The grey value the decoder must give for pixel (x, y) of the page.
std::uint32_t expectedGrey(const RawPage& p, int x, int y) {
  const std::uint32_t max = (1u << p.bits) - 1;
  if (p.photometric == PHOTOMETRIC_PALETTE) {
    const int i = static_cast<int>(sampleAt(x, y, 0, p.bits));
    return greyOf(mapEntry(i, 0) >> 8, mapEntry(i, 1) >> 8, mapEntry(i, 2) >> 8);
  }
  if (p.photometric == PHOTOMETRIC_RGB) {
    return greyOf(sampleAt(x, y, 0, p.bits), sampleAt(x, y, 1, p.bits), sampleAt(x, y, 2, p.bits));
  }
  std::uint32_t v = sampleAt(x, y, 0, p.bits);
  if (p.photometric == PHOTOMETRIC_MINISWHITE) v = max - v;
  return p.bits < 8 ? v * 255 / max : v;
}

template <typename Image>
void expectPage(ImageFile& file, int index, const RawPage& p) {
  Image image;
  file.readFrame(index, image);
  ASSERT_EQ(image.width(), static_cast<int>(p.width));
  ASSERT_EQ(image.height(), static_cast<int>(p.height));
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) ASSERT_EQ(image.at(x, y), expectedGrey(p, x, y)) << x << "," << y;
  }
}

struct DecodeCase {
  const char* name;
  RawPage page;
  bool bigEndian;
};

class TiffDecoderLayouts : public testing::TestWithParam<DecodeCase> {};

TEST_P(TiffDecoderLayouts, DecodeToTheDocumentedGrey) {
  testutil::ScratchFolder folder;
  const DecodeCase& c = GetParam();
  const std::string path = folder.file("page.tif");
  writeRaw(path, {c.page, c.page}, c.bigEndian);
  const auto file = tiffDecoder().open(path);
  const ImageFileInfo& info = file->info();
  EXPECT_EQ(info.format, "TIFF");
  EXPECT_EQ(info.frames, 2);
  EXPECT_EQ(info.samplesPerPixel, c.page.photometric == PHOTOMETRIC_RGB ? 3 : 1);
  const bool sixteen = c.page.bits == 16 && c.page.photometric != PHOTOMETRIC_PALETTE;
  EXPECT_EQ(info.bitsPerSample, sixteen ? 16 : 8);
  if (sixteen) {
    expectPage<G16Image>(*file, 1, c.page);
    expectPage<G16Image>(*file, 0, c.page);
    expectPage<G16Image>(*file, 1, c.page);
    GImage wrongDepth;
    EXPECT_EQ(testutil::messageOf<IPLException>([&] { file->readFrame(0, wrongDepth); }), "Not an 8-bit image");
  } else {
    expectPage<GImage>(*file, 1, c.page);
    expectPage<GImage>(*file, 0, c.page);
    expectPage<GImage>(*file, 1, c.page);
  }
}

RawPage page(std::uint16_t bits, std::uint16_t samples, std::uint16_t photometric) {
  RawPage p;
  p.bits = bits;
  p.samples = samples;
  p.photometric = photometric;
  return p;
}

RawPage with(RawPage p, std::uint16_t compression, std::uint32_t tile = 0, std::uint16_t planar = PLANARCONFIG_CONTIG,
             std::uint16_t extras = 0) {
  p.compression = compression;
  p.tile = tile;
  p.planar = planar;
  p.extras = extras;
  return p;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TiffDecoderLayouts,
    testing::Values(DecodeCase{"grey8", page(8, 1, PHOTOMETRIC_MINISBLACK), false},
                    DecodeCase{"grey16_tiles_deflate_big", with(page(16, 1, PHOTOMETRIC_MINISBLACK), COMPRESSION_ADOBE_DEFLATE, 16), true},
                    DecodeCase{"grey16_lzw", with(page(16, 1, PHOTOMETRIC_MINISBLACK), COMPRESSION_LZW), false},
                    DecodeCase{"white4", page(4, 1, PHOTOMETRIC_MINISWHITE), false},
                    DecodeCase{"grey1_packbits", with(page(1, 1, PHOTOMETRIC_MINISBLACK), COMPRESSION_PACKBITS), true},
                    DecodeCase{"grey2_tiles", with(page(2, 1, PHOTOMETRIC_MINISBLACK), COMPRESSION_NONE, 16), false},
                    DecodeCase{"palette8_lzw", with(page(8, 1, PHOTOMETRIC_PALETTE), COMPRESSION_LZW), false},
                    DecodeCase{"palette4", page(4, 1, PHOTOMETRIC_PALETTE), true},
                    DecodeCase{"rgb8_packbits", with(page(8, 3, PHOTOMETRIC_RGB), COMPRESSION_PACKBITS), false},
                    DecodeCase{"rgb16_planar_big", with(page(16, 3, PHOTOMETRIC_RGB), COMPRESSION_NONE, 0, PLANARCONFIG_SEPARATE), true},
                    DecodeCase{"rgba8_planar_tiles", with(page(8, 4, PHOTOMETRIC_RGB), COMPRESSION_ADOBE_DEFLATE, 16, PLANARCONFIG_SEPARATE, 1), false},
                    DecodeCase{"grey_alpha16_tiles", with(page(16, 2, PHOTOMETRIC_MINISBLACK), COMPRESSION_NONE, 16, PLANARCONFIG_CONTIG, 1), false}),
    [](const testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.name); });

std::string openMessage(const std::string& path) {
  return testutil::messageOf<IPLException>([&] {
    const auto file = tiffDecoder().open(path);
    GImage frame;
    for (int i = 0; i < file->info().frames; ++i) file->readFrame(i, frame);
  });
}

// Offset of the first page's directory and of its next-page field.
std::pair<std::uint32_t, std::uint32_t> firstDirectory(const std::string& bytes) {
  std::uint32_t first;
  std::memcpy(&first, bytes.data() + 4, 4);
  std::uint16_t entries;
  std::memcpy(&entries, bytes.data() + first, 2);
  return {first, first + 2 + 12u * entries};
}

TEST(TiffDecoder, RefusesWhatItCannotRepresent) {
  testutil::ScratchFolder folder;
  RawPage floating = page(16, 1, PHOTOMETRIC_MINISBLACK);  // half floats
  floating.format = SAMPLEFORMAT_IEEEFP;
  RawPage signedInts = page(16, 1, PHOTOMETRIC_MINISBLACK);
  signedInts.format = SAMPLEFORMAT_INT;
  RawPage wider = page(8, 1, PHOTOMETRIC_MINISBLACK);
  wider.width = 14;
  const struct {
    std::vector<RawPage> pages;
    const char* message;
  } cases[] = {
      {{floating}, "Unsupported TIFF: floating-point samples"},
      {{signedInts}, "Unsupported TIFF: signed samples"},
      {{page(8, 3, PHOTOMETRIC_MINISBLACK)}, "Unsupported TIFF: 3 samples per pixel that are not colour"},
      {{page(8, 1, PHOTOMETRIC_MINISBLACK), wider}, "Unsupported TIFF: pages of different sizes"},
      {{page(8, 1, PHOTOMETRIC_MINISBLACK), page(16, 1, PHOTOMETRIC_MINISBLACK)}, "Unsupported TIFF: pages of different depths"},
      {{page(8, 4, PHOTOMETRIC_SEPARATED)}, "Unsupported TIFF: colour model 5"},
  };
  for (const auto& c : cases) {
    const std::string path = folder.file("refused.tif");
    writeRaw(path, c.pages);
    EXPECT_EQ(openMessage(path), c.message);
  }

  // A second page whose next-page field points back at the first.
  const std::string two = folder.file("two.tif");
  writeRaw(two, {page(8, 1, PHOTOMETRIC_MINISBLACK), page(8, 1, PHOTOMETRIC_MINISBLACK)});
  std::string bytes = testutil::readAll(two);
  const auto [first, next] = firstDirectory(bytes);
  std::uint32_t second;
  std::memcpy(&second, bytes.data() + next, 4);
  std::uint16_t entries;
  std::memcpy(&entries, bytes.data() + second, 2);
  std::memcpy(bytes.data() + second + 2 + 12 * entries, &first, 4);
  EXPECT_EQ(openMessage(testutil::writeText(folder.file("loop.tif"), bytes)), "TIFF page chain loops");
  // A page pointing at itself.
  bytes = testutil::readAll(two);
  std::memcpy(bytes.data() + next, &first, 4);
  EXPECT_EQ(openMessage(testutil::writeText(folder.file("self.tif"), bytes)), "TIFF page chain loops");

  // Cut anywhere: refused with libtiff's reason, never a crash or a made-up pixel.
  bytes = testutil::readAll(two);
  for (std::size_t cut : {std::size_t{3}, std::size_t{20}, std::size_t{100}, bytes.size() - 10}) {
    const std::string message = openMessage(testutil::writeText(folder.file("cut.tif"), bytes.substr(0, cut)));
    EXPECT_TRUE(message.rfind("Corrupt TIFF file", 0) == 0 || message == "Not a TIFF file") << cut << ": " << message;
  }
  GImage frame;
  EXPECT_EQ(testutil::messageOf<IPLException>([&] { tiffDecoder().open(two)->readFrame(2, frame); }), "No such frame");
}

TEST(TiffDecoder, SpacingOnlyWhereStatedWritersMarkAndCutStripsNamed) {
  testutil::ScratchFolder folder;
  const std::string path = folder.file("page.tif");
  // Resolution as libtiff writes it: 72 or 96 dpi both ways is a placeholder.
  const struct {
    std::uint16_t unit;
    float x, y;
    double spacingX;
  } resolutions[] = {{RESUNIT_INCH, 72, 72, 0.0},           {RESUNIT_INCH, 96, 96, 0.0},
                     {RESUNIT_INCH, 72, 96, 25.4 / 72},     {RESUNIT_INCH, 2540, 2540, 0.01},
                     {RESUNIT_CENTIMETER, 72, 72, 10.0 / 72}, {RESUNIT_NONE, 300, 300, 0.0}};
  for (const auto& r : resolutions) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 4u);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 2u);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, r.unit);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, r.x);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, r.y);
    const unsigned char row[4] = {1, 2, 3, 4};
    for (std::uint32_t y = 0; y < 2; ++y) TIFFWriteScanline(tif, const_cast<unsigned char*>(row), y, 0);
    TIFFClose(tif);
    EXPECT_NEAR(tiffDecoder().probe(path).pixelSpacingX, r.spacingX, 1e-9) << r.unit << " " << r.x << " " << r.y;
  }

  TiffWriteOptions marked;
  marked.software = "Lumifold 9.9";
  TiffWriter writer(marked);
  writer.addPage(testutil::patterned<GImage>(19, 11));
  writer.writeFile(path);
  EXPECT_EQ(tiffDecoder().probe(path).software, "Lumifold 9.9");

  // The one strip's offset moved to 10 bytes before the end: libtiff's
  // "Read error at scanline 4294967295" becomes the strip and page.
  std::string bytes = testutil::readAll(path);
  const std::uint32_t first = firstDirectory(bytes).first;
  std::uint16_t entries;
  std::memcpy(&entries, bytes.data() + first, 2);
  for (std::uint16_t e = 0; e < entries; ++e) {
    const std::size_t at = first + 2 + 12u * e;
    std::uint16_t tag;
    std::memcpy(&tag, bytes.data() + at, 2);
    if (tag != TIFFTAG_STRIPOFFSETS) continue;
    const std::uint32_t offset = static_cast<std::uint32_t>(bytes.size() - 10);
    std::memcpy(bytes.data() + at + 8, &offset, 4);
  }
  EXPECT_EQ(openMessage(testutil::writeText(folder.file("cut_strip.tif"), bytes)),
            "Corrupt TIFF file: strip 0 of page 1 cannot be read: the file holds 10 of its 209 bytes");
}

// Reads every strip of a 32-bit float page with libtiff itself.
std::vector<float> floatsOf(const std::string& path) {
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  std::uint32_t w = 0, h = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
  std::vector<float> values(std::size_t{w} * h);
  for (std::uint32_t y = 0; y < h; ++y) TIFFReadScanline(tif, values.data() + y * w, y, 0);
  TIFFClose(tif);
  return values;
}

TEST(TiffWriter, PagesReadBackAsWritten) {
  testutil::ScratchFolder folder;
  const auto grey = testutil::patterned<GImage>(19, 11);
  const auto deep = testutil::patterned<G16Image>(19, 11);
  const auto colour = testutil::patterned<RGBImage>(19, 11);
  DImage mean(19, 11, 0.0);
  for (int y = 0; y < 11; ++y) {
    for (int x = 0; x < 19; ++x) mean.at(x, y) = deep.at(x, y) / 7.0;
  }
  for (const TiffWriteOptions& options :
       {TiffWriteOptions{}, TiffWriteOptions{0.0117, 0.0039, TiffCompression::lzw, true, 0, "", "", false},
        TiffWriteOptions{0, 0, TiffCompression::deflate, false, 16, "", "", false},
        TiffWriteOptions{0, 0, TiffCompression::packBits, true, 32, "", "", false}}) {
    TiffWriter writer(options);
    writer.addPage(grey);
    writer.addPage(colour);
    writer.addPage(grey);
    const std::string path = folder.file("stack.tif");
    writer.writeFile(path);
    const auto file = tiffDecoder().open(path);
    ASSERT_EQ(file->info().frames, 3);
    EXPECT_NEAR(file->info().pixelSpacingX, options.pixelSpacingX, 1e-7);
    EXPECT_NEAR(file->info().pixelSpacingY, options.pixelSpacingY, 1e-7);
    GImage back;
    for (int page : {2, 1, 0}) {
      file->readFrame(page, back);
      for (int y = 0; y < 11; ++y) {
        for (int x = 0; x < 19; ++x) {
          const unsigned expected = page == 1 ? greyOf(colour.at(x, y, 0), colour.at(x, y, 1), colour.at(x, y, 2)) : grey.at(x, y);
          ASSERT_EQ(back.at(x, y), expected);
        }
      }
    }

    TiffWriter deepWriter(options);
    deepWriter.addPage(deep);
    deepWriter.writeFile(path);
    G16Image deepBack;
    tiffDecoder().open(path)->readFrame(0, deepBack);
    for (int y = 0; y < 11; ++y) {
      for (int x = 0; x < 19; ++x) ASSERT_EQ(deepBack.at(x, y), deep.at(x, y));
    }

    TiffWriteOptions strips = options;  // floatsOf reads strips only
    strips.tileSide = 0;
    TiffWriter meanWriter(strips);
    meanWriter.addPage(mean);
    meanWriter.writeFile(path);
    const std::vector<float> values = floatsOf(path);
    for (int y = 0; y < 11; ++y) {
      for (int x = 0; x < 19; ++x) {
        ASSERT_EQ(values[static_cast<std::size_t>(y) * 19 + x], static_cast<float>(mean.at(x, y)));
      }
    }
    // Read back as values through every layout and byte order; never as
    // grey, and never admitted as a frame.
    TiffWriter tiledMean(options);
    tiledMean.addPage(mean);
    tiledMean.writeFile(path);
    const auto floats = tiffDecoder().open(path);
    ASSERT_TRUE(floats->info().floatingPoint);
    EXPECT_EQ(floats->info().bitsPerSample, 32);
    DImage valuesBack;
    floats->readFrame(0, valuesBack);
    for (int y = 0; y < 11; ++y) {
      for (int x = 0; x < 19; ++x) ASSERT_EQ(valuesBack.at(x, y), static_cast<float>(mean.at(x, y)));
    }
    EXPECT_EQ(testutil::messageOf<IPLException>([&] { floats->readFrame(0, back); }), "Not an 8-bit image");
    EXPECT_EQ(testutil::messageOf<IPLException>([&] { file->readFrame(0, valuesBack); }), "Not a floating-point image");
    ImageFileInfo info;
    std::string reason;
    EXPECT_FALSE(probeImageFile(path, info, reason));
    EXPECT_EQ(reason, "Unsupported TIFF: floating-point samples; an average is a result, not a frame to merge");
    EXPECT_TRUE(inspectImageFile(path, info, reason));
  }
  EXPECT_EQ(testutil::messageOf<IPLException>([] { TiffWriter().addPage(GImage()); }), "Empty image");
  EXPECT_EQ(testutil::messageOf<IPLException>([] { TiffWriter().finish(); }), "Empty image");
}

}  // namespace
