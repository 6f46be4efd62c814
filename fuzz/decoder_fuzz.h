// The rules every third-party-backed decoder (TIFF, PNG, DICOM) is fuzzed
// against, shared by their targets. For the input bytes, opened from
// memory:
//   - opening and reading throw nothing but IPLException, with a message;
//   - an opened file's info is within the limits (sides, pixels, frames)
//     and names 8 or 16 bits, or 32-bit floating-point values (TIFF);
//   - every frame read has the info's size, and reading a frame again,
//     after others, gives the same pixels;
//   - a decoded frame written by our own writer for the format reads back
//     unchanged.
// At most a few frames are read (the first two and the last), so a file
// of a million empty pages keeps the pace.
#pragma once

#include <algorithm>
#include <exception>
#include <memory>
#include <sstream>
#include <string>

#include "fuzz_support.h"
#include "ipl/formats/frame_rules.h"
#include "ipl/image_decoder.h"
#include "ipl/ipl_exception.h"

namespace fuzzsupport {

template <typename Image>
bool sameImage(const Image& a, const Image& b) {
  if (a.width() != b.width() || a.height() != b.height()) return false;
  // Values read from a floating-point page may be NaN, which equals itself here.
  const auto same = [](auto x, auto y) { return x == y || (x != x && y != y); };
  for (int y = 0; y < a.height(); ++y) {
    if (!std::equal(a.row(y), a.row(y) + a.width(), b.row(y), same)) return false;
  }
  return true;
}

// Round trips stay cheap so the fuzzer keeps its pace.
constexpr long long roundTripPixelLimit = 1 << 16;

// roundTrip(image) writes one frame with the format's writer and returns
// what reads back.
template <typename Image, typename RoundTrip>
void fuzzFrames(const char* target, velIPL::ImageFile& file, RoundTrip&& roundTrip) {
  const velIPL::ImageFileInfo& info = file.info();
  const int frames = info.frames;
  const int picks[] = {0, 1, frames - 1, 0};
  Image first;
  bool haveFirst = false;
  for (int index : picks) {
    if (index < 0 || index >= frames) continue;
    Image image;
    try {
      file.readFrame(index, image);
    } catch (const velIPL::IPLException& e) {
      if (!*e.what()) broken(target, "a frame read threw an empty message", "");
      continue;
    } catch (const std::exception& e) {
      broken(target, "a frame read threw something other than IPLException", e.what());
    }
    if (image.width() != info.width || image.height() != info.height) broken(target, "a frame differs from the info's size", "");
    if (index == 0 && haveFirst && !sameImage(first, image)) broken(target, "frame 0 read twice differs", "");
    if (index == 0 && !haveFirst) {
      first = image;
      haveFirst = true;
      if (static_cast<long long>(image.width()) * image.height() <= roundTripPixelLimit) {
        try {
          if (!sameImage(roundTrip(image), image)) broken(target, "round trip changed the frame", "");
        } catch (const std::exception& e) {
          broken(target, "round trip failed", e.what());
        }
      }
    }
  }
}

// open(stream) opens the bytes from memory; roundTrip8 and roundTrip16
// serve frames of either depth.
template <typename Open, typename RoundTrip8, typename RoundTrip16>
void fuzzDecoder(const char* target, const std::string& bytes, Open&& open, RoundTrip8&& roundTrip8,
                 RoundTrip16&& roundTrip16) {
  std::unique_ptr<velIPL::ImageFile> file;
  try {
    file = open(std::make_unique<std::istringstream>(bytes));
  } catch (const velIPL::IPLException& e) {
    if (!*e.what()) broken(target, "open threw an empty message", "");
    return;
  } catch (const std::exception& e) {
    broken(target, "open threw something other than IPLException", e.what());
  }
  const velIPL::ImageFileInfo& info = file->info();
  using Limits = velIPL::FrameLimits;
  if (info.width <= 0 || info.height <= 0 || info.width > Limits::maxSide || info.height > Limits::maxSide ||
      static_cast<long long>(info.width) * info.height > Limits::maxFramePixels) {
    broken(target, "an opened file is beyond the limits", std::to_string(info.width) + "x" + std::to_string(info.height));
  }
  if (info.frames < 1 || info.frames > Limits::maxFrames) broken(target, "an opened file has a bad frame count", "");
  if (info.floatingPoint) {
    // Values, as an average is read; no writer of ours takes them back in
    // that form, so the round trip is the identity.
    if (info.bitsPerSample != 32) broken(target, "a floating-point file is not 32 bits", "");
    fuzzFrames<velIPL::DImage>(target, *file, [](const velIPL::DImage& i) { return i; });
  } else if (info.bitsPerSample == 8) {
    fuzzFrames<velIPL::GImage>(target, *file, roundTrip8);
  } else if (info.bitsPerSample == 16) {
    fuzzFrames<velIPL::G16Image>(target, *file, roundTrip16);
  } else {
    broken(target, "an opened file is neither 8 nor 16 bits", std::to_string(info.bitsPerSample));
  }
}

}  // namespace fuzzsupport
