// Rules every multi-frame decoder (TIFF, PNG, DICOM) shares, each computed
// in one place: the size limits checked before anything is allocated, the
// colour-to-grey rule, the reduction of one decoded row of samples to grey,
// and a base for opened files that checks the frame index and depth.
//
// Limits. A side may be at most BmpHeader::maxSide pixels, as for BMP, and
// one frame at most maxFramePixels pixels (64 Mpixels, 128 MiB at 16 bits:
// far beyond any B-scan, small enough that a forged header cannot make a
// decoder allocate gigabytes). A file may hold at most maxFrames frames,
// and never more than its bytes can carry. A compressed frame may decode to
// at most maxExpansion times its stored bytes (beyond a floor of
// expansionFloorBytes, 1 MiB): speckled B-scans compress a few times at
// best, so only a forged frame comes near, and it is refused before its
// pixels are allocated or decoded. Frames are decoded one at a time, so
// these bound what one read allocates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "ipl/bmp_header.h"
#include "ipl/image_decoder.h"
#include "ipl/ipl_exception.h"

namespace velIPL {

struct FrameLimits {
  static constexpr std::int64_t maxSide = BmpHeader::maxSide;
  static constexpr std::int64_t maxFramePixels = std::int64_t{1} << 26;
  static constexpr std::int64_t maxFrames = std::int64_t{1} << 20;
  static constexpr std::uint64_t maxExpansion = 1024;
  static constexpr std::uint64_t expansionFloorBytes = std::uint64_t{1} << 20;
};

// Whether a frame of decodedBytes may come from storedBytes of data.
inline bool plausibleExpansion(std::uint64_t decodedBytes, std::uint64_t storedBytes) {
  return decodedBytes <= FrameLimits::expansionFloorBytes || decodedBytes / FrameLimits::maxExpansion <= storedBytes;
}

// Throws "Image has no pixels" for a side of 0 or less, "Image too large"
// for a side or a pixel count beyond FrameLimits.
void checkFrameSize(std::int64_t width, std::int64_t height);

// Throws "Too many frames for the file" when the count exceeds
// FrameLimits::maxFrames or frames x minBytesPerFrame exceeds fileBytes.
void checkFrameCount(std::int64_t frames, std::int64_t minBytesPerFrame, std::int64_t fileBytes);

// Grey from red, green and blue: (77 R + 151 G + 28 B) >> 8, the BMP
// reader's rule. The weights sum to 256, so the same expression serves
// 16-bit samples (result up to 65535) as well as 8-bit ones.
inline std::uint32_t greyOf(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
  return (77 * red + 151 * green + 28 * blue) >> 8;
}

// One decoded row: width pixels of samplesPerPixel samples each. With
// colour the first three samples are red, green and blue and become grey by
// greyOf; otherwise the first sample is the grey value. Further samples
// (alpha) are ignored.
template <typename In, typename Out>
void greyRow(const In* in, int width, int samplesPerPixel, bool colour, Out* out) {
  const std::size_t step = static_cast<std::size_t>(samplesPerPixel);
  if (colour) {
    for (int x = 0; x < width; ++x, in += step) out[x] = static_cast<Out>(greyOf(in[0], in[1], in[2]));
  } else {
    for (int x = 0; x < width; ++x, in += step) out[x] = static_cast<Out>(in[0]);
  }
}

// Opens the regular file for reading as a stream; throws "Can't open image
// file" for a path that is missing, unreadable or not a regular file.
std::unique_ptr<std::istream> openImageStream(const std::string& fileName);

// Bytes from the stream's position to its end (0 when it cannot tell);
// leaves the position where it was.
std::int64_t bytesLeft(std::istream& stream);

// Writes bytes as the whole file through OutputFile (never a broken or
// emptied target); throws OutputFile's messages.
void saveFileBytes(const std::string& fileName, const unsigned char* bytes, std::size_t size);

// A library's own text, for the end of one of our messages: one line, at
// most 160 characters, trailing dots and spaces removed.
std::string libraryDetail(const std::string& text);

// A decoder that reads its format from any stream: open() opens the file
// and hands it to openStream(), and probe() is what open() finds (these
// formats' headers are only known by walking them as a read does). The fuzz
// targets and tests call openStream() on bytes in memory.
class StreamDecoder : public ImageDecoder {
public:
  ImageFileInfo probe(const std::string& fileName) const final { return open(fileName)->info(); }

  std::unique_ptr<ImageFile> open(const std::string& fileName) const final {
    return openStream(openImageStream(fileName));
  }

  // The file held by the stream from its start; the file keeps the stream.
  virtual std::unique_ptr<ImageFile> openStream(std::unique_ptr<std::istream> stream) const = 0;
};

// An opened file whose info is known at open. readFrame checks the index
// ("No such frame") and the depth ("Not an 8-bit image",
// "Not a 16-bit image", as for BMP), then has decode() fill a fresh image, which
// replaces the target only once complete.
class FrameFile : public ImageFile {
public:
  const ImageFileInfo& info() const override { return info_; }
  void readFrame(int index, GImage& target) override;
  void readFrame(int index, G16Image& target) override;
  void readFrame(int index, DImage& target) override;

protected:
  // Exactly one of grey8 and grey16 is given, sized info().width x height.
  virtual void decode(int index, GImage* grey8, G16Image* grey16) = 0;

  // A floating-point frame's values, into values sized info().width x
  // height; only called when info().floatingPoint.
  virtual void decodeValues(int, DImage&) { throw IPLException("Not a floating-point image"); }

  ImageFileInfo info_;

private:
  void check(int index, int bits) const;
};

}  // namespace velIPL
