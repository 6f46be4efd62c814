// Naming the file a failed merge is about when files changed after their
// check: the headers are looked at again, the reference first.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "ipl/bmp_file_builder.h"
#include "ipl/images.h"
#include "scratch_folder.h"
#include "shell/merge_failure.h"

namespace {

const std::string kOtherSize = "Image has not same dimensions as reference image";

class MergeFailureTest : public ::testing::Test {
protected:
  std::string picture(const std::string& name, int width, int height) const {
    return testutil::saveGrey(velIPL::GImage(width, height, 90), folder_.file(name));
  }

  testutil::ScratchFolder folder_;
};

}  // namespace

TEST_F(MergeFailureTest, SizeChangedComparesWidthAndRowsOnly) {
  EXPECT_FALSE(lumifold::sizeChanged(picture("same.bmp", 8, 6), 8, 6));
  EXPECT_TRUE(lumifold::sizeChanged(picture("narrow.bmp", 5, 6), 8, 6));
  EXPECT_TRUE(lumifold::sizeChanged(picture("short.bmp", 8, 5), 8, 6));

  // A top-down file of six rows has the checked size.
  bmptest::BmpFile topDown;
  topDown.width = 8;
  topDown.height = -6;
  topDown.palette = bmptest::greyRamp(256);
  topDown.pixels = bmptest::paddedRows(std::vector<std::vector<std::uint8_t>>(6, std::vector<std::uint8_t>(8, 3)));
  std::ofstream(folder_.file("top_down.bmp"), std::ios::binary) << topDown.bytes();
  EXPECT_FALSE(lumifold::sizeChanged(folder_.file("top_down.bmp"), 8, 6));

  // What no longer passes the probe is left to the reader's message.
  std::ofstream(folder_.file("text.bmp")) << "not a bitmap";
  EXPECT_FALSE(lumifold::sizeChanged(folder_.file("text.bmp"), 8, 6));
  EXPECT_FALSE(lumifold::sizeChanged(folder_.file("missing.bmp"), 8, 6));
}

TEST_F(MergeFailureTest, NamesTheFileThatChanged) {
  const std::string a = picture("a.bmp", 8, 6), b = picture("b.bmp", 8, 6), c = picture("c.bmp", 8, 6);
  const auto explain = [&](int failed, const std::string& message) {
    return lumifold::explainMergeFailure({a, b, c}, failed, message, 8, 6);
  };

  // Nothing changed: the engine's message for the file it failed at.
  lumifold::MergeFailure f = explain(2, "Premature end of stream");
  EXPECT_EQ(f.file, 2);
  EXPECT_EQ(f.reason, "Premature end of stream");
  f = explain(-1, "No image to merge");
  EXPECT_EQ(f.file, 0);
  EXPECT_EQ(f.reason, "No image to merge");

  // A later frame of a new width, as the anterior-edge merge meets it.
  picture("c.bmp", 5, 6);
  f = explain(2, "Incompatible vector size");
  EXPECT_EQ(f.file, 2);
  EXPECT_EQ(f.reason, kOtherSize);

  // A reference of a new size is named even when the engine failed later.
  picture("a.bmp", 8, 9);
  f = explain(1, kOtherSize);
  EXPECT_EQ(f.file, 0);
  EXPECT_EQ(f.reason, lumifold::kChangedSizeReason);

  EXPECT_EQ(lumifold::explainMergeFailure({}, -1, "No image to merge", 8, 6).reason, "No image to merge");
}
