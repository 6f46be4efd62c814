// MergeFrame: one entry of the ordered list a Merger merges. Either a frame
// of an image file (the path and the frame's index in file order, 0 for a
// file of one frame) or an image already held in memory, 8-bit or 16-bit.
//
// A frame of a file is only named here: the merge opens and reads it when
// its turn comes, one frame at a time. An image held in memory is shared,
// never copied, between copies of the MergeFrame; it stays unchanged. A
// borrowed frame is pixels the caller owns (a numpy array in the Python
// module), read like a file's when the merge reaches it, so that they are
// copied once, as the engine copies every frame it works on.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "ipl/image_decoder.h"
#include "ipl/images.h"

namespace lumifold {

class MergeFrame {
public:
  // Frame frameIndex of the file fileName.
  explicit MergeFrame(std::string fileName, int frameIndex = 0);
  explicit MergeFrame(velIPL::GImage image);
  explicit MergeFrame(velIPL::G16Image image);

  // Pixels that stay with the caller: height rows of width samples of
  // bitsPerSample bits (8 or 16, native byte order); sample (x, y) at
  // pixels + y * rowStride + x * sampleStride bytes, any strides. They are
  // only read, and must stay valid and unchanged until the merge ends.
  struct Borrowed {
    const unsigned char* pixels = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t rowStride = 0;
    std::ptrdiff_t sampleStride = 0;
    int bitsPerSample = 8;
  };
  explicit MergeFrame(const Borrowed& borrowed);

  bool inMemory() const { return image8_ || image16_ || borrowed_; }

  // The file's path and the frame's index in it; empty and 0 for a frame
  // held in memory.
  const std::string& fileName() const { return fileName_; }
  int frameIndex() const { return frameIndex_; }

  // The image held in memory; null when the frame is a file's or of the
  // other depth.
  const velIPL::GImage* image8() const { return image8_.get(); }
  const velIPL::G16Image* image16() const { return image16_.get(); }
  // The borrowed pixels; null for any other frame.
  const Borrowed* borrowed() const { return borrowed_ ? &*borrowed_ : nullptr; }

private:
  std::string fileName_;
  int frameIndex_ = 0;
  std::shared_ptr<const velIPL::GImage> image8_;
  std::shared_ptr<const velIPL::G16Image> image16_;
  std::optional<Borrowed> borrowed_;
};

}  // namespace lumifold
