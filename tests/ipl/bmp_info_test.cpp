#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include "ipl/bmp_file_builder.h"

using bmptest::BmpFile;
using bmptest::greyRamp;
using velIPL::BmpInfo;

namespace {

BmpFile grey640x480() {
  BmpFile f;
  f.width = 640;
  f.height = 480;
  f.palette = greyRamp(256);
  f.pixels.assign(640 * 480, '\x7F');
  return f;
}

std::string writeTemp(const std::string& name, const std::string& bytes) {
  const std::string path = ::testing::TempDir() + name + "_" + std::to_string(::getpid()) + ".bmp";
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

}  // namespace

TEST(BmpInfo, ReportsSizeAndLeavesMessageOnSuccess) {
  BmpFile f = grey640x480();
  const std::string path = writeTemp("probe_bottom_up", f.bytes());
  int width = -1, height = -1;
  std::string message = "caller's text";
  BmpInfo info;
  EXPECT_TRUE(info.probeFile(path, width, height, message));
  EXPECT_EQ(width, 640);
  EXPECT_EQ(height, 480);
  EXPECT_EQ(message, "caller's text");
  EXPECT_EQ(info.bitCount(), 8u);
  EXPECT_EQ(info.compression(), 0u);
  EXPECT_EQ(info.colourCount(), 256u);

  f.height = -480;
  const std::string topDown = writeTemp("probe_top_down", f.bytes());
  EXPECT_TRUE(BmpInfo().probeFile(topDown, width, height, message));
  EXPECT_EQ(height, -480);

  // The probe reads no pixels: a file cut inside them passes.
  const std::string cutShort = writeTemp("probe_cut", f.bytes().substr(0, 14 + 40 + 1024 + 100));
  EXPECT_TRUE(BmpInfo().probeFile(cutShort, width, height, message));
  EXPECT_EQ(message, "caller's text");
  for (const std::string& p : {path, topDown, cutShort}) ::unlink(p.c_str());
}

TEST(BmpInfo, UnopenableFileLeavesEverythingUntouched) {
  int width = 7, height = 8;
  std::string message = "caller's text";
  for (const std::string& path : {std::string("/nonexistent/file.bmp"), ::testing::TempDir(), std::string("/dev/null")}) {
    EXPECT_FALSE(BmpInfo().probeFile(path, width, height, message)) << path;
    EXPECT_EQ(message, "caller's text");
    EXPECT_EQ(width, 7);
    EXPECT_EQ(height, 8);
  }
}

TEST(BmpInfo, FailedProbeReportsWhatTheParseReached) {
  BmpFile f = grey640x480();
  f.compression = 2;  // not accepted at 8 bits
  const std::string path = writeTemp("probe_unsupported", f.bytes());
  int width = 0, height = 0;
  std::string message;
  EXPECT_FALSE(BmpInfo().probeFile(path, width, height, message));
  EXPECT_EQ(message, "Unsupported compression");
  EXPECT_EQ(width, 640);
  EXPECT_EQ(height, 480);

  const std::string tiny = writeTemp("probe_tiny", f.bytes().substr(0, 10));
  width = height = 5;
  EXPECT_FALSE(BmpInfo().probeFile(tiny, width, height, message));
  EXPECT_EQ(message, "Bitmap file not complete");
  EXPECT_EQ(width, 0);
  EXPECT_EQ(height, 0);
  for (const std::string& p : {path, tiny}) ::unlink(p.c_str());
}

TEST(BmpInfo, EachProbeStartsCleared) {
  BmpInfo info;
  std::string message;
  std::istringstream good(grey640x480().bytes());
  ASSERT_TRUE(info.probeStream(good, message));
  std::istringstream bad("BM");
  EXPECT_FALSE(info.probeStream(bad, message));
  EXPECT_EQ(info.width(), 0);
  EXPECT_EQ(info.height(), 0);
  EXPECT_EQ(info.bitCount(), 0u);
  EXPECT_EQ(info.colourCount(), 0u);
}
