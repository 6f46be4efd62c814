// libFuzzer target for the DICOM decoder (our element walk, then GDCM and
// its codecs), under the rules of decoder_fuzz.h; round trips go through
// DicomWriter, uncompressed or RLE by the input's length.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "decoder_fuzz.h"
#include "ipl/formats/dicom/dicom_decoder.h"
#include "ipl/formats/dicom/dicom_writer.h"

namespace {

velIPL::DicomCompression compression = velIPL::DicomCompression::none;

template <typename Image>
Image roundTrip(const Image& image) {
  velIPL::DicomWriter writer({0, 0, compression});
  writer.addFrame(image);
  const std::vector<unsigned char> bytes = writer.encode();
  Image back;
  static_cast<const velIPL::DicomDecoder&>(velIPL::dicomDecoder())
      .openStream(std::make_unique<std::istringstream>(std::string(bytes.begin(), bytes.end())))
      ->readFrame(0, back);
  return back;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto& decoder = static_cast<const velIPL::DicomDecoder&>(velIPL::dicomDecoder());
  compression = size % 2 ? velIPL::DicomCompression::rle : velIPL::DicomCompression::none;
  fuzzsupport::fuzzDecoder(
      "dicom_fuzzer", std::string(reinterpret_cast<const char*>(data), size),
      [&](std::unique_ptr<std::istream> in) { return decoder.openStream(std::move(in)); },
      [](const velIPL::GImage& i) { return roundTrip(i); }, [](const velIPL::G16Image& i) { return roundTrip(i); });
  return 0;
}
