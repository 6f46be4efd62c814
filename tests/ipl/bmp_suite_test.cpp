// The public BMP Suite: g/ files are good, q/ questionable, b/ bad. Files
// that hold one picture in different encodings must read as the same grey
// image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "ipl/bmp_info.h"
#include "ipl/images.h"
#include "ipl/ipl_exception.h"

namespace fs = std::filesystem;
using velIPL::GImage;
using velIPL::IPLException;

namespace {

const fs::path suite = fs::path(LUMIFOLD_TESTDATA_DIR) / "bmpsuite";

#define REQUIRE_SUITE()                                                                  \
  if (!fs::is_directory(suite)) GTEST_SKIP() << "BMP Suite not found at " << suite.string()

std::vector<fs::path> filesIn(const char* folder) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(suite / folder)) {
    if (entry.path().extension() == ".bmp") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The reader's message for a file, or "" when it decodes.
std::string outcome(const fs::path& file) {
  try {
    GImage image(file.string());
  } catch (const IPLException& e) {
    return e.what();
  }
  return "";
}

// Largest difference between two images of equal size.
int maxDifference(const GImage& a, const GImage& b) {
  int worst = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) worst = std::max(worst, std::abs(a.at(x, y) - b.at(x, y)));
  }
  return worst;
}

void expectSamePicture(const std::string& reference, const std::vector<std::string>& others, int tolerance = 0) {
  const GImage ref((suite / reference).string());
  for (const std::string& name : others) {
    const GImage image((suite / name).string());
    ASSERT_EQ(image.width(), ref.width()) << name;
    ASSERT_EQ(image.height(), ref.height()) << name;
    EXPECT_LE(maxDifference(ref, image), tolerance) << name << " against " << reference;
  }
}

}  // namespace

TEST(BmpSuite, EveryGoodFileDecodesAndPassesTheProbe) {
  REQUIRE_SUITE();
  const auto files = filesIn("g");
  ASSERT_FALSE(files.empty());
  for (const fs::path& file : files) {
    EXPECT_EQ(outcome(file), "") << file.filename();
    int width = 0, height = 0;
    std::string message;
    EXPECT_TRUE(velIPL::BmpInfo().probeFile(file.string(), width, height, message)) << file.filename() << ": " << message;
  }
}

TEST(BmpSuite, QuestionableFilesDecodeUnlessTheirFormatIsRefused) {
  REQUIRE_SUITE();
  const std::map<std::string, std::string> refused = {
      {"pal1huffmsb.bmp", "Unsupported compression"},   // 1 bit with compression 3
      {"pal2.bmp", "Unsupported compression"},          // 2 bits with an info header
      {"pal2color.bmp", "Unsupported compression"},
      {"rgb24jpeg.bmp", "Unsupported compression"},     // embedded JPEG
      {"rgb24png.bmp", "Unsupported compression"},      // embedded PNG
      {"rgb24rle24.bmp", "Unsupported compression"},    // 24-bit run length
      {"rgba32abf.bmp", "Unsupported compression"},     // compression 6
      {"rgba64.bmp", "Unsupported compression"},        // 64 bits
      {"pal8os2sp.bmp", "File corrupt"},                // core header with fewer than 2^8 entries
      {"pal8os2v2-16.bmp", "Invalid bmp header size"},  // 16-byte header
  };
  for (const fs::path& file : filesIn("q")) {
    const std::string name = file.filename().string();
    const auto it = refused.find(name);
    EXPECT_EQ(outcome(file), it == refused.end() ? "" : it->second) << name;
  }
}

TEST(BmpSuite, BadFilesDecodeOrThrowIplException) {
  REQUIRE_SUITE();
  for (const fs::path& file : filesIn("b")) {
    EXPECT_NO_THROW({
      try {
        GImage image(file.string());
      } catch (const IPLException&) {
      }
    }) << file.filename();
  }
  EXPECT_EQ(outcome(suite / "b" / "badpalettesize.bmp"), "File corrupt");
  EXPECT_EQ(outcome(suite / "b" / "reallybig.bmp"), "Image too large");
  EXPECT_EQ(outcome(suite / "b" / "badwidth.bmp"), "Negative width not allowed");
  EXPECT_EQ(outcome(suite / "b" / "rletopdown.bmp"), "Negative height not allowed in an RLE image");
  EXPECT_EQ(outcome(suite / "b" / "shortfile.bmp"), "Premature end of stream");
  EXPECT_EQ(outcome(suite / "b" / "rgb16-880.bmp"), "Overlapping component mask");
}

TEST(BmpSuite, EncodingsOfOnePictureReadAlike) {
  REQUIRE_SUITE();
  expectSamePicture("g/pal8.bmp", {"g/pal8-0.bmp", "g/pal8rle.bmp", "g/pal8topdown.bmp", "g/pal8os2.bmp", "g/pal8v4.bmp",
                                   "g/pal8v5.bmp", "q/pal8offs.bmp", "q/pal8oversizepal.bmp", "q/pal8os2-hs.bmp",
                                   "q/pal8os2-sz.bmp", "q/pal8os2v2.bmp", "q/pal8os2v2-40sz.bmp", "q/pal8os2v2-sz.bmp"});
  expectSamePicture("g/pal4.bmp", {"g/pal4rle.bmp"});
  expectSamePicture("g/pal1.bmp", {"g/pal1wb.bmp"});
  expectSamePicture("g/rgb24.bmp", {"g/rgb24pal.bmp", "g/rgb32.bmp", "g/rgb32bf.bmp", "g/rgb32bfdef.bmp",
                                    "q/rgb32fakealpha.bmp", "q/rgb32h52.bmp", "q/rgb24lprof.bmp", "q/rgb32-xbgr.bmp"});
  // Fields of 10 or 11 bits, and of 7 and 18, keep their top 8 bits.
  expectSamePicture("g/rgb24.bmp", {"q/rgb32-111110.bmp", "q/rgb32-7187.bmp"}, 1);
  expectSamePicture("g/rgb16.bmp", {"g/rgb16bfdef.bmp", "q/rgb16faketrns.bmp", "q/rgba16-5551.bmp"});
  expectSamePicture("g/rgb16-565.bmp", {"g/rgb16-565pal.bmp"});
  // 5-bit fields scaled to the full range stay within half a step of 8 bits.
  expectSamePicture("g/rgb24.bmp", {"g/rgb16.bmp", "g/rgb16-565.bmp"}, 4);
}
