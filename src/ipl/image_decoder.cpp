#include "ipl/image_decoder.h"

#include <algorithm>
#include <filesystem>

#include "ipl/formats/bmp/bmp_decoder.h"
#include "ipl/formats/dicom/dicom_decoder.h"
#include "ipl/formats/png/png_decoder.h"
#include "ipl/formats/tiff/tiff_decoder.h"
#include "ipl/input_file.h"
#include "ipl/ipl_exception.h"

namespace velIPL {

namespace {

// The name's extension in lower case ("" for ".profile" or "README"), the
// way std::filesystem splits a file name.
std::string lowerExtension(std::string_view fileName) {
  std::string ext = std::filesystem::path(fileName).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c); });
  return ext;
}

bool claims(const ImageDecoder& decoder, const std::string& ext) {
  const std::vector<std::string_view> extensions = decoder.extensions();
  return std::find(extensions.begin(), extensions.end(), ext) != extensions.end();
}

// Up to signatureLength leading bytes of an opened file.
std::vector<unsigned char> headOf(InputFile& file) {
  std::vector<unsigned char> head(ImageDecoder::signatureLength);
  file.stream().read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(file.stream().gcount()));
  return head;
}

}  // namespace

const std::vector<const ImageDecoder*>& imageDecoders() {
  // BMP stays first: it takes the files nobody recognises.
  static const std::vector<const ImageDecoder*> decoders = {&bmpDecoder(), &tiffDecoder(), &pngDecoder(),
                                                                  &dicomDecoder()};
  return decoders;
}

const ImageDecoder& decoderFor(std::span<const unsigned char> head, std::string_view fileName) {
  const std::vector<const ImageDecoder*>& decoders = imageDecoders();
  for (const ImageDecoder* decoder : decoders) {
    if (decoder->recognises(head)) return *decoder;
  }
  const std::string ext = lowerExtension(fileName);
  for (const ImageDecoder* decoder : decoders) {
    if (decoder != decoders.front() && claims(*decoder, ext)) throw IPLException("Unknown image format");
  }
  return *decoders.front();
}

const ImageDecoder& decoderFor(const std::string& fileName) {
  InputFile file(fileName);
  if (!file.isOpen()) throw IPLException("Can't open image file");
  return decoderFor(headOf(file), fileName);
}

void ImageFile::readFrame(int, DImage&) { throw IPLException("Not a floating-point image"); }

bool inspectImageFile(const std::string& fileName, ImageFileInfo& info, std::string& message) {
  InputFile file(fileName);
  if (!file.isOpen()) return false;
  try {
    info = decoderFor(headOf(file), fileName).probe(fileName);
    return true;
  } catch (const IPLException& e) {
    message = e.what();
    return false;
  }
}

bool probeImageFile(const std::string& fileName, ImageFileInfo& info, std::string& message) {
  ImageFileInfo found;
  if (!inspectImageFile(fileName, found, message)) return false;
  // Its values have no fixed range to register or sum on, and merging an
  // average again would weigh its series as one frame.
  if (found.floatingPoint) {
    message = "Unsupported TIFF: floating-point samples; an average is a result, not a frame to merge";
    return false;
  }
  info = found;
  return true;
}

bool hasImageExtension(std::string_view fileName) {
  const std::string ext = lowerExtension(fileName);
  if (ext.empty()) return false;
  const std::vector<const ImageDecoder*>& decoders = imageDecoders();
  return std::any_of(decoders.begin(), decoders.end(), [&](const ImageDecoder* d) { return claims(*d, ext); });
}

}  // namespace velIPL
