// libFuzzer target for the TIFF decoder (libtiff behind our limits and
// handlers), under the rules of decoder_fuzz.h; round trips go through
// TiffWriter.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "decoder_fuzz.h"
#include "ipl/formats/tiff/tiff_decoder.h"
#include "ipl/formats/tiff/tiff_writer.h"

namespace {

template <typename Image>
Image roundTrip(const Image& image) {
  velIPL::TiffWriter writer;
  writer.addPage(image);
  const std::vector<unsigned char>& bytes = writer.finish();
  Image back;
  static_cast<const velIPL::TiffDecoder&>(velIPL::tiffDecoder())
      .openStream(std::make_unique<std::istringstream>(std::string(bytes.begin(), bytes.end())))
      ->readFrame(0, back);
  return back;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto& decoder = static_cast<const velIPL::TiffDecoder&>(velIPL::tiffDecoder());
  fuzzsupport::fuzzDecoder(
      "tiff_fuzzer", std::string(reinterpret_cast<const char*>(data), size),
      [&](std::unique_ptr<std::istream> in) { return decoder.openStream(std::move(in)); },
      [](const velIPL::GImage& i) { return roundTrip(i); }, [](const velIPL::G16Image& i) { return roundTrip(i); });
  return 0;
}
