// Small helpers the core tests share.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "ipl/images.h"

namespace testutil {

// The message of the E that f throws, or "<nothing thrown>".
template <typename E, typename F>
std::string messageOf(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "<nothing thrown>";
}

// Success when a and b have the same size and every pixel alike; else
// where they first differ.
inline ::testing::AssertionResult samePixels(const velIPL::GImage& a, const velIPL::GImage& b) {
  if (a.width() != b.width() || a.height() != b.height()) {
    return ::testing::AssertionFailure() << a.width() << " x " << a.height() << " against " << b.width() << " x "
                                         << b.height();
  }
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      if (a.at(x, y) != b.at(x, y)) {
        return ::testing::AssertionFailure() << "at " << x << "," << y << ": " << int{a.at(x, y)} << " against "
                                             << int{b.at(x, y)};
      }
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace testutil
