#include "merge/frame_reader.h"

#include "ipl/ipl_exception.h"

namespace lumifold {

namespace {

// A BMP file as one frame of 8 bits, read in full when opened.
class BmpFrameFile : public velIPL::ImageFile {
public:
  explicit BmpFrameFile(const std::string& fileName) : image_(fileName) {
    info_.format = "BMP";
    info_.width = image_.width();
    info_.height = image_.height();
  }
  const velIPL::ImageFileInfo& info() const override { return info_; }
  void readFrame(int, velIPL::GImage& target) override { target = image_; }
  void readFrame(int, velIPL::G16Image&) override { throw velIPL::IPLException("Frame is not 16-bit"); }

private:
  velIPL::GImage image_;
  velIPL::ImageFileInfo info_;
};

std::unique_ptr<velIPL::ImageFile> openImageFile(const std::string& fileName) {
  return std::make_unique<BmpFrameFile>(fileName);
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
  if (frame.image16()) {
    out.bitsPerSample = 16;
    out.full = *frame.image16();
  } else {
    if (!open_ || openName_ != frame.fileName()) {
      // Closed first, so that two files are never open at once.
      open_.reset();
      open_ = openImageFile(frame.fileName());
      openName_ = frame.fileName();
    }
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
