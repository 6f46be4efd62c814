#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ipl/formats/frame_rules.h"
#include "ipl/formats/png/png_decoder.h"
#include "ipl/formats/png/png_writer.h"
#include "ipl/formats/sample_pattern.h"
#include "ipl/ipl_exception.h"
#include "scratch_folder.h"
#include "test_util.h"

using namespace velIPL;
using testutil::paletteEntry;
using testutil::sampleAt;

namespace {

struct RawPng {
  const char* name;
  int bits;
  int type;
  bool interlaced = false;
  bool transparency = false;  // a tRNS chunk (palette images gain alpha)
};

int channelsOf(int type) {
  switch (type) {
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 1;
  }
}

constexpr int width = 13;
constexpr int height = 9;

// Written with libpng's own classic interface; an error there aborts the test.
void writeRaw(const std::string& path, const RawPng& p) {
  FILE* out = std::fopen(path.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, out);
  png_set_IHDR(png, info, width, height, p.bits, p.type, p.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> palette;
  std::vector<png_byte> alpha;
  if (p.type == PNG_COLOR_TYPE_PALETTE) {
    for (int i = 0; i < (1 << p.bits); ++i) {
      palette.push_back({paletteEntry(i, 0), paletteEntry(i, 1), paletteEntry(i, 2)});
      alpha.push_back(static_cast<png_byte>(i * 3));
    }
    png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    if (p.transparency) png_set_tRNS(png, info, alpha.data(), static_cast<int>(alpha.size()), nullptr);
  }
  png_write_info(png, info);
  const int channels = channelsOf(p.type);
  const std::size_t rowBytes = (std::size_t{width} * channels * p.bits + 7) / 8;
  std::vector<std::vector<png_byte>> rows(height, std::vector<png_byte>(rowBytes));
  std::vector<png_bytep> pointers;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int s = 0; s < channels; ++s) {
        const std::size_t i = static_cast<std::size_t>(x) * channels + s;
        const std::uint32_t v = sampleAt(x, y, s, p.bits);
        if (p.bits == 16) {
          rows[y][2 * i] = static_cast<png_byte>(v >> 8);
          rows[y][2 * i + 1] = static_cast<png_byte>(v);
        } else if (p.bits == 8) {
          rows[y][i] = static_cast<png_byte>(v);
        } else {
          rows[y][i * p.bits / 8] |= static_cast<png_byte>(v << (8 - p.bits - i * p.bits % 8));
        }
      }
    }
    pointers.push_back(rows[y].data());
  }
  png_write_image(png, pointers.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(out);
}

std::uint32_t expectedGrey(const RawPng& p, int x, int y) {
  if (p.type == PNG_COLOR_TYPE_PALETTE) {
    const int i = static_cast<int>(sampleAt(x, y, 0, p.bits));
    return greyOf(paletteEntry(i, 0), paletteEntry(i, 1), paletteEntry(i, 2));
  }
  if (p.type & PNG_COLOR_MASK_COLOR) return greyOf(sampleAt(x, y, 0, p.bits), sampleAt(x, y, 1, p.bits), sampleAt(x, y, 2, p.bits));
  const std::uint32_t v = sampleAt(x, y, 0, p.bits);
  return p.bits < 8 ? v * 255 / ((1u << p.bits) - 1) : v;
}

class PngDecoderKinds : public testing::TestWithParam<RawPng> {};

template <typename Image>
void expectFrame(ImageFile& file, const RawPng& p) {
  Image image;
  file.readFrame(0, image);
  ASSERT_EQ(image.width(), width);
  ASSERT_EQ(image.height(), height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) ASSERT_EQ(image.at(x, y), expectedGrey(p, x, y)) << x << "," << y;
  }
}

TEST_P(PngDecoderKinds, DecodeToTheDocumentedGrey) {
  testutil::ScratchFolder folder;
  const RawPng& p = GetParam();
  const std::string path = folder.file("image.png");
  writeRaw(path, p);
  const auto file = pngDecoder().open(path);
  const ImageFileInfo& info = file->info();
  EXPECT_EQ(info.format, "PNG");
  EXPECT_EQ(info.frames, 1);
  EXPECT_EQ(info.samplesPerPixel, (p.type & PNG_COLOR_MASK_COLOR) ? 3 : 1);
  ASSERT_EQ(info.bitsPerSample, p.bits == 16 ? 16 : 8);
  // Read twice: every read starts from the file's beginning.
  for (int pass = 0; pass < 2; ++pass) {
    if (p.bits == 16) {
      expectFrame<G16Image>(*file, p);
    } else {
      expectFrame<GImage>(*file, p);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, PngDecoderKinds,
                         testing::Values(RawPng{"grey1", 1, PNG_COLOR_TYPE_GRAY}, RawPng{"grey2_interlaced", 2, PNG_COLOR_TYPE_GRAY, true},
                                         RawPng{"grey4", 4, PNG_COLOR_TYPE_GRAY}, RawPng{"grey8_interlaced", 8, PNG_COLOR_TYPE_GRAY, true},
                                         RawPng{"grey16", 16, PNG_COLOR_TYPE_GRAY}, RawPng{"grey_alpha8", 8, PNG_COLOR_TYPE_GRAY_ALPHA},
                                         RawPng{"grey_alpha16_interlaced", 16, PNG_COLOR_TYPE_GRAY_ALPHA, true},
                                         RawPng{"palette1", 1, PNG_COLOR_TYPE_PALETTE}, RawPng{"palette4_alpha", 4, PNG_COLOR_TYPE_PALETTE, false, true},
                                         RawPng{"palette8_interlaced_alpha", 8, PNG_COLOR_TYPE_PALETTE, true, true},
                                         RawPng{"rgb8", 8, PNG_COLOR_TYPE_RGB}, RawPng{"rgb16_interlaced", 16, PNG_COLOR_TYPE_RGB, true},
                                         RawPng{"rgba8", 8, PNG_COLOR_TYPE_RGB_ALPHA}, RawPng{"rgba16", 16, PNG_COLOR_TYPE_RGB_ALPHA}),
                         [](const testing::TestParamInfo<RawPng>& info) { return std::string(info.param.name); });

std::string readMessage(const std::string& path) {
  return testutil::messageOf<IPLException>([&] {
    GImage image;
    pngDecoder().open(path)->readFrame(0, image);
  });
}

TEST(PngWriter, ImagesReadBackAsWrittenWithTheirSpacing) {
  testutil::ScratchFolder folder;
  const auto grey = testutil::patterned<GImage>(21, 10);
  const auto deep = testutil::patterned<G16Image>(21, 10);
  const auto colour = testutil::patterned<RGBImage>(21, 10);
  const PngWriter writer({0.0117, 0.0039, "Lumifold 9.9"});
  const std::string path = folder.file("out.png");
  writer.writeFile(path, grey);
  GImage back;
  pngDecoder().open(path)->readFrame(0, back);
  const ImageFileInfo info = pngDecoder().probe(path);
  EXPECT_NEAR(info.pixelSpacingX, 0.0117, 1e-6);
  EXPECT_NEAR(info.pixelSpacingY, 0.0039, 1e-6);
  EXPECT_EQ(info.software, "Lumifold 9.9");
  writer.writeFile(path, colour);
  GImage fromColour;
  pngDecoder().open(path)->readFrame(0, fromColour);
  writer.writeFile(path, deep);
  G16Image deepBack;
  pngDecoder().open(path)->readFrame(0, deepBack);
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 21; ++x) {
      ASSERT_EQ(back.at(x, y), grey.at(x, y));
      ASSERT_EQ(fromColour.at(x, y), greyOf(colour.at(x, y, 0), colour.at(x, y, 1), colour.at(x, y, 2)));
      ASSERT_EQ(deepBack.at(x, y), deep.at(x, y));
    }
  }
  EXPECT_EQ(pngDecoder().probe(path).significantBits, 16);
  EXPECT_EQ(testutil::messageOf<IPLException>([&] { writer.encode(GImage()); }), "Empty image");
  EXPECT_EQ(testutil::messageOf<IPLException>([&] { pngDecoder().open(path)->readFrame(0, back); }), "Not an 8-bit image");

  // Cut anywhere, or with a flipped bit: refused with libpng's reason.
  writer.writeFile(path, grey);
  const std::string bytes = testutil::readAll(path);
  for (std::size_t cut : {std::size_t{8}, std::size_t{20}, std::size_t{40}, bytes.size() / 2, bytes.size() - 13}) {
    const std::string message = readMessage(testutil::writeText(folder.file("cut.png"), bytes.substr(0, cut)));
    EXPECT_EQ(message.rfind("Corrupt PNG file: ", 0), 0u) << cut << ": " << message;
  }
  std::string flipped = bytes;
  flipped[bytes.size() / 2] ^= 0x10;
  EXPECT_EQ(readMessage(testutil::writeText(folder.file("flipped.png"), flipped)).rfind("Corrupt PNG file: ", 0), 0u);
  EXPECT_EQ(readMessage(testutil::writeText(folder.file("short.png"), bytes.substr(0, 5))), "Not a PNG file");
}

TEST(PngDecoder, RefusesSizesBeyondTheLimitsBeforeAllocating) {
  testutil::ScratchFolder folder;
  writeRaw(folder.file("small.png"), RawPng{"grey8", 8, PNG_COLOR_TYPE_GRAY});
  std::string bytes = testutil::readAll(folder.file("small.png"));
  // IHDR's width and height, with its CRC made right again.
  const auto patch = [&](std::uint32_t w, std::uint32_t h) {
    std::string b = bytes;
    for (int i = 0; i < 4; ++i) {
      b[16 + i] = static_cast<char>(w >> (24 - 8 * i));
      b[20 + i] = static_cast<char>(h >> (24 - 8 * i));
    }
    std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(b.data() + 12), 17));
    for (int i = 0; i < 4; ++i) b[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
    return testutil::writeText(folder.file("patched.png"), b);
  };
  EXPECT_EQ(readMessage(patch(FrameLimits::maxSide + 1, 1)), "Image too large");
  EXPECT_EQ(readMessage(patch(1 << 14, 1 << 14)), "Image too large");
  EXPECT_EQ(readMessage(patch(1000, 1000)).rfind("Corrupt PNG file: ", 0), 0u);
}

}  // namespace
