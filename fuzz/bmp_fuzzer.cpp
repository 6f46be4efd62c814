// libFuzzer target for the BMP codec. Feeds arbitrary bytes to the header
// probe and to the reader through in-memory streams, and checks what must
// always hold:
//   - the reader throws nothing but IPLException;
//   - the probe and the reader agree: a file the probe refuses, the reader
//     refuses with the matching message, and a file the reader decodes, the
//     probe accepts;
//   - a decoded image written by the writer reads back unchanged.
// Any broken rule aborts, which libFuzzer records as a finding.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "fuzz_support.h"
#include "ipl/bmp_info.h"
#include "ipl/bmp_reader.h"
#include "ipl/bmp_writer.h"
#include "ipl/images.h"
#include "ipl/ipl_exception.h"

namespace {

[[noreturn]] void broken(const char* rule, const std::string& detail) {
  fuzzsupport::broken("bmp_fuzzer", rule, detail);
}

// Round trips stay cheap so the fuzzer keeps its pace on huge empty images.
constexpr std::int64_t roundTripPixelLimit = std::int64_t{1} << 20;

void roundTrip(const velIPL::GImage& grey) {
  if (grey.width() == 0 || grey.height() == 0) return;
  if (std::int64_t{grey.width()} * grey.height() > roundTripPixelLimit) return;
  velIPL::RGBImage colour(grey.width(), grey.height(), 0);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < grey.height(); ++y) {
      for (int x = 0; x < grey.width(); ++x) colour.at(x, y, c) = grey.at(x, y);
    }
  }
  std::ostringstream out;
  velIPL::BmpWriter().writeImage(out, colour);
  std::istringstream in(out.str());
  velIPL::GImage back;
  velIPL::BmpReader().readImage(in, back);
  if (back.width() != grey.width() || back.height() != grey.height()) broken("round trip changed the size", "");
  for (int y = 0; y < grey.height(); ++y) {
    for (int x = 0; x < grey.width(); ++x) {
      if (back.at(x, y) != grey.at(x, y)) broken("round trip changed a pixel", std::to_string(x) + "," + std::to_string(y));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  std::istringstream probeInput(bytes);
  std::string probeMessage;
  const bool probed = velIPL::BmpInfo().probeStream(probeInput, probeMessage);

  std::istringstream input(bytes);
  velIPL::GImage image;
  std::string readerMessage;
  try {
    velIPL::BmpReader().readImage(input, image);
  } catch (const velIPL::IPLException& e) {
    readerMessage = e.what();
  }

  if (!probed) {
    const auto it = fuzzsupport::readerMessageForProbeMessage().find(probeMessage);
    if (it == fuzzsupport::readerMessageForProbeMessage().end()) broken("unknown probe message", probeMessage);
    if (readerMessage != it->second) broken("probe and reader disagree", probeMessage + " / " + readerMessage);
  }
  if (readerMessage.empty()) roundTrip(image);
  return 0;
}
