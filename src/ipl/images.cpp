#include "ipl/images.h"

#include "ipl/bmp_reader.h"
#include "ipl/bmp_writer.h"

namespace velIPL {

GImage::GImage(const std::string& fileName) {
  BmpReader reader;
  reader.readImage(fileName, *this);
}

void RGBImage::save(const std::string& fileName) const {
  BmpWriter writer;
  writer.writeFile(fileName, *this);
}

}  // namespace velIPL
