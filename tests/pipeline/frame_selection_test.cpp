#include "pipeline/frame_selection.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "test_util.h"

using lumifold::selectFrames;

TEST(FrameSelection, NumbersAndRangesSelectAscendingOnce) {
  EXPECT_EQ(selectFrames("1-4", 10), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(selectFrames("0,2,5-7", 8), (std::vector<int>{0, 2, 5, 6, 7}));
  EXPECT_EQ(selectFrames("7,3-4,0", 8), (std::vector<int>{0, 3, 4, 7}));
  EXPECT_EQ(selectFrames("9", 10), (std::vector<int>{9}));
}

TEST(FrameSelection, RefusesMalformedListsAndFramesBeyondTheLast) {
  const struct {
    const char* list;
    const char* message;
  } cases[] = {
      {"", "--frames : expected a frame number or a range like 5-9"},
      {"1,", "--frames 1,: expected a frame number or a range like 5-9"},
      {"1;2", "--frames 1;2: expected a frame number or a range like 5-9"},
      {"-3", "--frames -3: expected a frame number or a range like 5-9"},
      {"5-2", "--frames 5-2: range 5-2 runs backwards"},
      {"0-10", "--frames 0-10: frame 10 is beyond the last frame of the inputs (10 frames, numbered from 0)"},
      {"99999999999", "--frames 99999999999: number too large"},
      {"7,3-4,3,0", "--frames 7,3-4,3,0: frame 3 is listed twice"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(testutil::messageOf<std::invalid_argument>([&] { selectFrames(c.list, 10); }), c.message) << c.list;
  }
}
