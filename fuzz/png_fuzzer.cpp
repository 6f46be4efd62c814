// libFuzzer target for the PNG decoder (libpng behind our limits and
// callbacks), under the rules of decoder_fuzz.h; round trips go through
// PngWriter.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "decoder_fuzz.h"
#include "ipl/formats/png/png_decoder.h"
#include "ipl/formats/png/png_writer.h"

namespace {

template <typename Image>
Image roundTrip(const Image& image) {
  const std::vector<unsigned char> bytes = velIPL::PngWriter().encode(image);
  Image back;
  static_cast<const velIPL::PngDecoder&>(velIPL::pngDecoder())
      .openStream(std::make_unique<std::istringstream>(std::string(bytes.begin(), bytes.end())))
      ->readFrame(0, back);
  return back;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto& decoder = static_cast<const velIPL::PngDecoder&>(velIPL::pngDecoder());
  fuzzsupport::fuzzDecoder(
      "png_fuzzer", std::string(reinterpret_cast<const char*>(data), size),
      [&](std::unique_ptr<std::istream> in) { return decoder.openStream(std::move(in)); },
      [](const velIPL::GImage& i) { return roundTrip(i); }, [](const velIPL::G16Image& i) { return roundTrip(i); });
  return 0;
}
