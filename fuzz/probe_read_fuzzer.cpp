// Fuzz target for the way both programs take in a file: the header probe
// first (the desktop program's image list, the command line's series check),
// and the full read only for a file the probe let through, both through the
// decoder table. The input is written to a real file and goes through the
// file entry points, so the
// descriptor-backed stream and its length checks are exercised, not only
// in-memory streams. Rules checked on every input:
//   - reading the file gives exactly what reading the same bytes from memory
//     gives: the same pixels or the same message;
//   - the probe and the reader agree: a file the probe refuses, the reader
//     refuses with the matching message; a file the probe accepts, the
//     reader decodes at the probe's size or refuses for a reason in the
//     pixel data, which the probe does not look at;
//   - the command line's series check accepts the file as a reference
//     exactly when the probe does, and as a later frame exactly when the
//     probe does and the size matches the reference, with the message the
//     image list shows;
//   - nothing but IPLException and PathError leaves the library.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "pipeline/path_error.h"
#include "pipeline/input_list.h"
#include "fuzz_support.h"
#include "ipl/bmp_reader.h"
#include "ipl/bmp_writer.h"
#include "ipl/formats/bmp/bmp_decoder.h"
#include "ipl/image_decoder.h"
#include "ipl/images.h"
#include "ipl/ipl_exception.h"

namespace {

constexpr const char* kTarget = "probe_read_fuzzer";

[[noreturn]] void broken(const char* rule, const std::string& detail) { fuzzsupport::broken(kTarget, rule, detail); }

// What the reader may still refuse in a file whose headers passed the probe.
const std::set<std::string>& pixelStageMessages() {
  static const std::set<std::string> messages = {
      "Premature end of stream", "Overlapping component mask", "Negative height not allowed in an RLE image",
      "Corrupt data", "Image too large"};
  return messages;
}

struct Outcome {
  std::string message;  // empty when the image decoded
  velIPL::GImage image;
};

template <typename Read>
Outcome outcomeOf(Read&& read) {
  Outcome outcome;
  try {
    read(outcome.image);
  } catch (const velIPL::IPLException& e) {
    outcome.message = e.what();
    if (outcome.message.empty()) broken("the reader threw an empty message", "");
  } catch (const std::exception& e) {
    broken("the reader threw something other than IPLException", e.what());
  }
  return outcome;
}

// The series check's verdict: "" when it passes, else the message, which
// must name the file it concerns.
std::string seriesVerdict(const std::vector<std::string>& paths, const std::string& blamed) {
  try {
    lumifold::checkSeries(paths);
  } catch (const lumifold::PathError& e) {
    if (e.path() != blamed) broken("the series check blamed the wrong file", e.path() + ": " + e.what());
    return e.what();
  } catch (const std::exception& e) {
    broken("the series check threw something other than PathError", e.what());
  }
  return "";
}

std::string bmpOf(int width, int height) {
  velIPL::RGBImage image(width, height, 128);
  std::ostringstream out;
  velIPL::BmpWriter().writeImage(out, image);
  return out.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzzsupport::ScratchFile file("probe_read_input");
  static fuzzsupport::ScratchFile reference("probe_read_reference");
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  // The rules below are BMP's; the other formats have targets of their own.
  const std::span<const unsigned char> head(data, std::min<std::size_t>(size, velIPL::ImageDecoder::signatureLength));
  if (&velIPL::decoderFor(head, "") != &velIPL::bmpDecoder()) return 0;
  file.assign(bytes);

  velIPL::ImageFileInfo info;
  std::string probeMessage = "Unknown error";
  const bool probed = velIPL::probeImageFile(file.path(), info, probeMessage);
  const int width = info.width;

  const Outcome fromFile = outcomeOf([&](velIPL::GImage& image) { image = velIPL::GImage(file.path()); });
  const Outcome fromMemory = outcomeOf([&](velIPL::GImage& image) {
    std::istringstream in(bytes);
    velIPL::BmpReader().readImage(in, image);
  });
  if (fromFile.message != fromMemory.message) {
    broken("a file and the same bytes in memory read differently", fromFile.message + " / " + fromMemory.message);
  }
  if (fromFile.message.empty() && !fuzzsupport::samePixels(fromFile.image, fromMemory.image)) {
    broken("a file and the same bytes in memory decode to different pixels", "");
  }

  const long long rows = info.height;
  if (probed) {
    if (probeMessage != "Unknown error") broken("a successful probe changed the message", probeMessage);
    if (fromFile.message.empty()) {
      if (fromFile.image.width() != width || fromFile.image.height() != rows) {
        broken("the reader's size differs from the probe's",
               std::to_string(width) + "x" + std::to_string(rows) + " / " + std::to_string(fromFile.image.width()) +
                   "x" + std::to_string(fromFile.image.height()));
      }
    } else if (!pixelStageMessages().count(fromFile.message)) {
      broken("the reader refused headers the probe accepted", fromFile.message);
    }
  } else {
    const auto it = fuzzsupport::readerMessageForProbeMessage().find(probeMessage);
    if (it == fuzzsupport::readerMessageForProbeMessage().end()) broken("unknown probe message", probeMessage);
    if (fromFile.message != it->second) broken("probe and reader disagree", probeMessage + " / " + fromFile.message);
  }

  // As the reference of a series.
  const std::string alone = seriesVerdict({file.path()}, file.path());
  if (probed != alone.empty()) broken("the series check and the probe disagree on a reference", alone);
  if (!probed && alone != "Not a valid image file") broken("a refused reference has the wrong message", alone);

  // As a later frame: half the inputs against a reference of their own
  // size, the other half against a fixed 3 x 2.
  const bool ownSize = probed && width > 0 && rows > 0 && width * rows <= (1 << 16) && (size & 1) == 0;
  const int referenceWidth = ownSize ? width : 3;
  const int referenceRows = ownSize ? static_cast<int>(rows) : 2;
  reference.assign(bmpOf(referenceWidth, referenceRows));
  const std::string later = seriesVerdict({reference.path(), file.path()}, file.path());
  const bool sameSize = width == referenceWidth && rows == referenceRows;
  if (!probed) {
    if (later != probeMessage) broken("a refused frame is reported with another message", probeMessage + " / " + later);
  } else if (sameSize != later.empty()) {
    broken("the series check and the probe disagree on a frame's size", later);
  } else if (!sameSize && later != "Image has not same dimensions as reference image") {
    broken("a frame of another size has the wrong message", later);
  }
  return 0;
}
