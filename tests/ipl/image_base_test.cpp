#include <gtest/gtest.h>

#include <complex>
#include <cstdint>

#include "ipl/images.h"

using velIPL::CImage;
using velIPL::DImage;
using velIPL::GImage;
using velIPL::RGBImage;

namespace {

template <typename Image>
void expectAlignedRows(const Image& image) {
  for (int c = 0; c < Image::channels; ++c) {
    for (int y = 0; y < image.height(); ++y) {
      const auto address = reinterpret_cast<std::uintptr_t>(image.row(y, c));
      EXPECT_EQ(address % 32, 0u) << "row " << y << " channel " << c;
      if (y > 0) {
        const auto previous = reinterpret_cast<std::uintptr_t>(image.row(y - 1, c));
        EXPECT_EQ(address - previous, image.rowStride());
      }
    }
  }
}

}  // namespace

TEST(ImageBase, StrideRuleAndAlignmentForEveryKind) {
  EXPECT_EQ(GImage(1, 3, 0).rowStride(), 32u);
  EXPECT_EQ(DImage(1, 3, 0.0).rowStride(), 32u);
  EXPECT_EQ(RGBImage(1, 3, 0).rowStride(), 32u);
  EXPECT_EQ(CImage(1, 3, {}).rowStride(), 32u);
  EXPECT_EQ(GImage(32, 2, 0).rowStride(), 32u);
  EXPECT_EQ(GImage(33, 2, 0).rowStride(), 64u);
  EXPECT_EQ(DImage(5, 2, 0.0).rowStride(), 64u);
  EXPECT_EQ(CImage(3, 2, {}).rowStride(), 64u);

  expectAlignedRows(GImage(33, 7, 1));
  expectAlignedRows(DImage(5, 9, 1.0));
  expectAlignedRows(RGBImage(17, 5, 1));
  expectAlignedRows(CImage(3, 4, {1, 2}));
}

TEST(ImageBase, FillAndAccess) {
  RGBImage rgb(4, 2, 7);
  for (int c = 0; c < 3; ++c)
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 4; ++x) EXPECT_EQ(rgb.at(x, y, c), 7);
  rgb.at(1, 1, 2) = 9;
  EXPECT_EQ(rgb.at(1, 1, 0), 7);
  EXPECT_EQ(rgb.at(1, 1, 1), 7);

  GImage g(4, 2, 0);
  EXPECT_EQ(&g.at(2, 1), &g.at(2, 1, 0));
  g.at(3, 0) = 200;
  for (int x = 0; x < 4; ++x) EXPECT_EQ(g.at(x, 1), 0);
  EXPECT_EQ(g.at(3, 0), 200);

  CImage spectra(2, 2, {1.5, -0.5});
  EXPECT_EQ(spectra.at(1, 1), std::complex<double>(1.5, -0.5));

  GImage none;
  EXPECT_EQ(none.width(), 0);
  EXPECT_EQ(none.height(), 0);
  EXPECT_TRUE(none.empty());
}

TEST(ImageBase, CopiesAreDeepAndSelfAssignmentIsHarmless) {
  DImage source(3, 2, 1.0);
  source.at(2, 1) = 5.0;
  DImage copy(source);
  copy.at(2, 1) = -1.0;
  EXPECT_EQ(source.at(2, 1), 5.0);
  EXPECT_NE(copy.row(0), source.row(0));

  DImage assigned(1, 1, 0.0);
  assigned = source;
  EXPECT_EQ(assigned.width(), 3);
  EXPECT_EQ(assigned.height(), 2);
  EXPECT_EQ(assigned.at(2, 1), 5.0);
  assigned.at(0, 0) = 8.0;
  EXPECT_EQ(source.at(0, 0), 1.0);

  const double* storage = source.row(0);
  DImage& self = source;
  source = self;
  EXPECT_EQ(source.row(0), storage);
  EXPECT_EQ(source.at(2, 1), 5.0);

  RGBImage rgb(2, 2, 3);
  rgb.at(1, 0, 1) = 4;
  RGBImage rgbCopy = rgb;
  rgbCopy.at(1, 0, 1) = 0;
  EXPECT_EQ(rgb.at(1, 0, 1), 4);

  GImage empty;
  GImage emptyCopy(empty);
  EXPECT_EQ(emptyCopy.width(), 0);
}

TEST(ImageBase, ImpossibleSizesFailAsAllocations) {
  EXPECT_THROW(GImage(-1, 2, 0), std::bad_alloc);
  EXPECT_THROW(DImage(2000000000, 2000000000, 0.0), std::bad_alloc);
}
