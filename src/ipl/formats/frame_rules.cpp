#include "ipl/formats/frame_rules.h"

#include "ipl/input_file.h"
#include "ipl/ipl_exception.h"
#include "ipl/output_file.h"

namespace velIPL {

namespace {

// An istream that owns the InputFile it reads.
class InputFileStream : public std::istream {
public:
  explicit InputFileStream(std::unique_ptr<InputFile> file) : std::istream(file->stream().rdbuf()), file_(std::move(file)) {}

private:
  std::unique_ptr<InputFile> file_;
};

}  // namespace

void checkFrameSize(std::int64_t width, std::int64_t height) {
  if (width <= 0 || height <= 0) throw IPLException("Image has no pixels");
  if (width > FrameLimits::maxSide || height > FrameLimits::maxSide || width * height > FrameLimits::maxFramePixels) {
    throw IPLException("Image too large");
  }
}

void checkFrameCount(std::int64_t frames, std::int64_t minBytesPerFrame, std::int64_t fileBytes) {
  if (frames > FrameLimits::maxFrames || (frames > 0 && minBytesPerFrame > fileBytes / frames)) {
    throw IPLException("Too many frames for the file");
  }
}

std::unique_ptr<std::istream> openImageStream(const std::string& fileName) {
  auto file = std::make_unique<InputFile>(fileName);
  if (!file->isOpen()) throw IPLException("Can't open image file");
  return std::make_unique<InputFileStream>(std::move(file));
}

std::int64_t bytesLeft(std::istream& stream) {
  stream.clear();
  const std::istream::pos_type here = stream.tellg();
  if (here == std::istream::pos_type(-1)) return 0;
  stream.seekg(0, std::ios::end);
  const std::istream::pos_type end = stream.tellg();
  stream.clear();
  stream.seekg(here);
  return end == std::istream::pos_type(-1) || end < here ? 0 : static_cast<std::int64_t>(end - here);
}

void saveFileBytes(const std::string& fileName, const unsigned char* bytes, std::size_t size) {
  OutputFile file(fileName);
  file.stream().write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
  file.commit();
}

std::string libraryDetail(const std::string& text) {
  std::string line;
  for (char c : text) {
    if (line.size() >= 160) break;
    line += (c == '\n' || c == '\r' || c == '\t') ? ' ' : c;
  }
  while (!line.empty() && (line.back() == ' ' || line.back() == '.')) line.pop_back();
  return line;
}

void FrameFile::check(int index, int bits) const {
  if (index < 0 || index >= info_.frames) throw IPLException("No such frame");
  if (info_.bitsPerSample != bits) throw IPLException(bits == 8 ? "Not an 8-bit image" : "Not a 16-bit image");
}

void FrameFile::readFrame(int index, GImage& target) {
  check(index, 8);
  GImage image(info_.width, info_.height, 0);
  decode(index, &image, nullptr);
  target.swap(image);
}

void FrameFile::readFrame(int index, DImage& target) {
  if (index < 0 || index >= info_.frames) throw IPLException("No such frame");
  if (!info_.floatingPoint) throw IPLException("Not a floating-point image");
  DImage image(info_.width, info_.height, 0.0);
  decodeValues(index, image);
  target.swap(image);
}

void FrameFile::readFrame(int index, G16Image& target) {
  check(index, 16);
  G16Image image(info_.width, info_.height, 0);
  decode(index, nullptr, &image);
  target.swap(image);
}

}  // namespace velIPL
