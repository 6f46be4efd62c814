#include "ipl/images.h"

#include "ipl/bmp_writer.h"
#include "ipl/image_decoder.h"

namespace velIPL {

GImage::GImage(const std::string& fileName) {
  decoderFor(fileName).open(fileName)->readFrame(0, *this);
}

void RGBImage::save(const std::string& fileName) const {
  BmpWriter writer;
  writer.writeFile(fileName, *this);
}

}  // namespace velIPL
