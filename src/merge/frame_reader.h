// FrameReader: reads the frames of a merge list one at a time.
//
// Any order works, list order is cheapest: the file of the last frame read
// stays open, so the consecutive frames of one multi-frame file are read
// without opening it again, and at most one file is open at a time. A file
// whose frames come again from an earlier one is opened again. Memory
// therefore does not grow with the number of frames, however many frames a
// file holds. Files are recognised by their content, through the image
// decoders.
//
// One thread at a time may use a reader. The list must outlive it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ipl/image_decoder.h"
#include "ipl/images.h"
#include "merge/eight_bit_view.h"
#include "merge/merge_frame.h"

namespace lumifold {

// One frame as read.
struct FramePixels {
  int bitsPerSample = 8;
  // The 8-bit frame itself, or the 8-bit view of a 16-bit frame (empty
  // until the reader has a view).
  velIPL::GImage grey;
  // The 16-bit frame; empty for an 8-bit one.
  velIPL::G16Image full;
};

class FrameReader {
public:
  explicit FrameReader(const std::vector<MergeFrame>& frames);
  ~FrameReader();

  FrameReader(const FrameReader&) = delete;
  FrameReader& operator=(const FrameReader&) = delete;

  // From now on every 16-bit frame read also gets its view; view must
  // outlive the reader or be replaced.
  void setView(const EightBitView* view) { view_ = view; }

  // Reads frame index of the list into out. Throws the decoder's
  // velIPL::IPLException for a file that cannot be read, and
  // IPLException("Frame index out of range") for a frame index the
  // file does not hold.
  void read(int index, FramePixels& out);

private:
  const std::vector<MergeFrame>& frames_;
  const EightBitView* view_ = nullptr;
  std::string openName_;
  int openFrame_ = -1;
  std::unique_ptr<velIPL::ImageFile> open_;
};

}  // namespace lumifold
