#include "merge/frame_reader.h"

#include <cstdint>
#include <cstring>

#include "ipl/ipl_exception.h"

namespace lumifold {

namespace {

// The borrowed pixels copied into image, row by row where a row's samples
// are adjacent.
template <typename Image>
void copyBorrowed(const MergeFrame::Borrowed& b, Image& image) {
  using T = typename Image::value_type;
  image = Image(b.width, b.height, T{});
  for (int y = 0; y < b.height; ++y) {
    const unsigned char* row = b.pixels + static_cast<std::ptrdiff_t>(y) * b.rowStride;
    T* out = image.row(y);
    if (b.sampleStride == static_cast<std::ptrdiff_t>(sizeof(T))) {
      std::memcpy(out, row, static_cast<std::size_t>(b.width) * sizeof(T));
    } else {
      for (int x = 0; x < b.width; ++x) std::memcpy(out + x, row + static_cast<std::ptrdiff_t>(x) * b.sampleStride, sizeof(T));
    }
  }
}

}  // namespace

FrameReader::FrameReader(const std::vector<MergeFrame>& frames) : frames_(frames) {}

FrameReader::~FrameReader() = default;

void FrameReader::read(int index, FramePixels& out) {
  const MergeFrame& frame = frames_[index];
  out.full = velIPL::G16Image();
  out.grey = velIPL::GImage();
  if (frame.image8()) {
    out.bitsPerSample = 8;
    out.grey = *frame.image8();
    return;
  }
  if (const MergeFrame::Borrowed* borrowed = frame.borrowed(); borrowed && borrowed->bitsPerSample == 8) {
    out.bitsPerSample = 8;
    copyBorrowed(*borrowed, out.grey);
    return;
  }
  if (frame.image16()) {
    out.bitsPerSample = 16;
    out.full = *frame.image16();
  } else if (const MergeFrame::Borrowed* borrowed = frame.borrowed()) {
    out.bitsPerSample = 16;
    copyBorrowed(*borrowed, out.full);
  } else {
    // A file is read on from where the last frame was; a path that comes
    // again from an earlier frame (the same file twice in a list) is opened
    // afresh, as a file of its own.
    if (!open_ || openName_ != frame.fileName() || frame.frameIndex() <= openFrame_) {
      // Closed first, so that two files are never open at once.
      open_.reset();
      open_ = velIPL::decoderFor(frame.fileName()).open(frame.fileName());
      openName_ = frame.fileName();
    }
    openFrame_ = frame.frameIndex();
    const velIPL::ImageFileInfo& info = open_->info();
    if (frame.frameIndex() < 0 || frame.frameIndex() >= info.frames) {
      throw velIPL::IPLException("Frame index out of range");
    }
    out.bitsPerSample = info.bitsPerSample;
    if (info.bitsPerSample == 8) {
      open_->readFrame(frame.frameIndex(), out.grey);
      return;
    }
    open_->readFrame(frame.frameIndex(), out.full);
  }
  if (view_) out.grey = view_->view(out.full);
}

}  // namespace lumifold
