// MergeFrame: one entry of the ordered list a Merger merges. Either a frame
// of an image file (the path and the frame's index in file order, 0 for a
// file of one frame) or an image already held in memory, 8-bit or 16-bit.
//
// A frame of a file is only named here: the merge opens and reads it when
// its turn comes, one frame at a time. An image held in memory is shared,
// never copied, between copies of the MergeFrame; it stays unchanged.
#pragma once

#include <memory>
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

  bool inMemory() const { return image8_ || image16_; }

  // The file's path and the frame's index in it; empty and 0 for a frame
  // held in memory.
  const std::string& fileName() const { return fileName_; }
  int frameIndex() const { return frameIndex_; }

  // The image held in memory; null when the frame is a file's or of the
  // other depth.
  const velIPL::GImage* image8() const { return image8_.get(); }
  const velIPL::G16Image* image16() const { return image16_.get(); }

private:
  std::string fileName_;
  int frameIndex_ = 0;
  std::shared_ptr<const velIPL::GImage> image8_;
  std::shared_ptr<const velIPL::G16Image> image16_;
};

}  // namespace lumifold
