#include "ipl/formats/bmp/bmp_decoder.h"

#include "ipl/bmp_header.h"
#include "ipl/bmp_info.h"
#include "ipl/bmp_reader.h"
#include "ipl/input_file.h"
#include "ipl/ipl_exception.h"

namespace velIPL {

namespace {

ImageFileInfo infoOf(std::uint32_t bitCount, std::int32_t width, std::int32_t height) {
  ImageFileInfo info;
  info.format = "BMP";
  info.width = width;
  info.topDown = height < 0;
  info.height = info.topDown ? -height : height;  // at most BmpHeader::maxSide once accepted
  info.samplesPerPixel = bitCount <= 8 ? 1 : 3;
  return info;
}

class BmpFile : public ImageFile {
public:
  explicit BmpFile(const std::string& fileName) : file_(fileName) {
    if (!file_.isOpen()) throw IPLException("Can't open image file");
    BmpHeader header;
    const BmpFault fault = header.read(file_.stream());
    if (fault != BmpFault::none) throw IPLException(readerMessageFor(fault));
    info_ = infoOf(header.bitCount, header.width, header.height);
  }

  const ImageFileInfo& info() const override { return info_; }

  void readFrame(int index, GImage& target) override {
    if (index != 0) throw IPLException("No such frame");
    // The reader parses the headers again itself, from the first byte.
    file_.stream().clear();
    file_.stream().seekg(0);
    BmpReader().readImage(file_.stream(), target);
  }

  void readFrame(int, G16Image&) override { throw IPLException("Not a 16-bit image"); }

private:
  InputFile file_;
  ImageFileInfo info_;
};

}  // namespace

bool BmpDecoder::recognises(std::span<const unsigned char> head) const {
  return head.size() >= 2 && head[0] == 'B' && head[1] == 'M';
}

ImageFileInfo BmpDecoder::probe(const std::string& fileName) const {
  InputFile file(fileName);
  if (!file.isOpen()) throw IPLException("Can't open image file");
  BmpInfo probe;
  std::string message;
  if (!probe.probeStream(file.stream(), message)) throw IPLException(message);
  return infoOf(probe.bitCount(), probe.width(), probe.height());
}

std::unique_ptr<ImageFile> BmpDecoder::open(const std::string& fileName) const {
  return std::make_unique<BmpFile>(fileName);
}

const ImageDecoder& bmpDecoder() {
  static const BmpDecoder decoder;
  return decoder;
}

}  // namespace velIPL
