// Fuzz target for the merge engine: a fuzzed BMP file merged with a valid
// reference, by every registration method of the table, each with both
// implementations.
//
// The first input byte steers the run, the rest is the file:
//   bit 0  clear: the way files reach the engine in use - a reference of
//          the fuzzed file's own size, and the merge runs only when the
//          command line's series check passes both files;
//          set: a file that changed after the check - a reference of a
//          size taken from bits 4 to 7, merged without any check;
//   bit 1  the fuzzed file is the reference (first) rather than the frame;
//   bit 2  also merge the fuzzed file with itself;
//   bit 3  the reference is the fuzzed image moved down by bits 4 to 5 rows
//          (when it decodes) rather than a made-up texture.
// Rules checked on every input:
//   - only IPLException and MathException leave the engine, with the
//     message the files call for (the reader's for a file that does not
//     decode, "Image must have at least 2 rows" for a correlation
//     reference of one row, the size messages for a frame of another size),
//     and currentImage() names the file that failed;
//   - a merge of decodable files of one size succeeds at that size;
//   - the fast and the straightforward implementation give the same image
//     byte for byte, or the same failure;
//   - a file merged with itself comes back unchanged.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "pipeline/path_error.h"
#include "pipeline/input_list.h"
#include "fuzz_support.h"
#include "ipl/bmp_info.h"
#include "ipl/bmp_reader.h"
#include "ipl/formats/bmp/bmp_decoder.h"
#include "ipl/image_decoder.h"
#include "ipl/images.h"
#include "ipl/ipl_exception.h"
#include "math/math_exception.h"
#include "merge/denoise/speckle_filter.h"
#include "merge/merger.h"
#include "merge/registration_methods.h"

namespace {

constexpr const char* kTarget = "merge_fuzzer";

// Larger images only slow the fuzzer down: the engine's loops do not
// change with the size beyond this.
constexpr long long kMaxPixels = 1 << 13;
constexpr long long kMaxSide = 128;

[[noreturn]] void broken(const char* rule, const std::string& detail) { fuzzsupport::broken(kTarget, rule, detail); }

struct Decoded {
  std::string message;  // empty when the bytes decode
  velIPL::GImage image;
};

Decoded decode(const std::string& bytes) {
  Decoded d;
  std::istringstream in(bytes);
  try {
    velIPL::BmpReader().readImage(in, d.image);
  } catch (const velIPL::IPLException& e) {
    d.message = e.what();
  }
  return d;
}

void putLE(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// An 8-bit BMP with a grey ramp for its colour table, which reads back as
// the image itself. Unlike the writer's 24-bit files it may have no pixels
// at all, which the reader accepts.
std::string bmpOf(const velIPL::GImage& grey) {
  const std::uint32_t stride = (static_cast<std::uint32_t>(grey.width()) + 3) / 4 * 4;
  const std::uint32_t offset = 14 + 40 + 256 * 4;
  std::string out = "BM";
  putLE(out, offset + stride * static_cast<std::uint32_t>(grey.height()), 4);
  putLE(out, 0, 4);
  putLE(out, offset, 4);
  putLE(out, 40, 4);
  putLE(out, static_cast<std::uint32_t>(grey.width()), 4);
  putLE(out, static_cast<std::uint32_t>(grey.height()), 4);
  putLE(out, 1, 2);
  putLE(out, 8, 2);
  for (int i = 0; i < 6; ++i) putLE(out, 0, 4);
  for (std::uint32_t i = 0; i < 256; ++i) putLE(out, i * 0x010101u, 4);
  for (int y = grey.height() - 1; y >= 0; --y) {
    std::string row(stride, '\0');
    for (int x = 0; x < grey.width(); ++x) row[static_cast<std::size_t>(x)] = static_cast<char>(grey.at(x, y));
    out += row;
  }
  return out;
}

// A B-scan-like texture: a bright layer whose depth wanders across the
// columns (so the anterior edge has something to find) over a dim ramp.
velIPL::GImage texture(int width, int height, std::uint32_t seed) {
  velIPL::GImage image(width, height, 0);
  std::uint32_t state = seed * 2654435761u + 1;
  for (int x = 0; x < width; ++x) {
    state = state * 1664525u + 1013904223u;
    const int layer = height > 0 ? static_cast<int>((state >> 16) % static_cast<std::uint32_t>(height)) : 0;
    for (int y = 0; y < height; ++y) {
      const int d = y - layer;
      image.at(x, y) = static_cast<unsigned char>(d >= 0 && d < 3 ? 230 : (y * 97 + x * 31) % 180);
    }
  }
  return image;
}

// The image moved down by rows, wrapping round.
velIPL::GImage movedDown(const velIPL::GImage& image, int rows) {
  velIPL::GImage moved(image.width(), image.height(), 0);
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) moved.at(x, (y + rows) % image.height()) = image.at(x, y);
  }
  return moved;
}

struct MergeOutcome {
  std::string message;  // empty on success
  int failed = -1;      // currentImage() after a failure
  velIPL::GImage image;
};

MergeOutcome merge(const std::vector<std::string>& paths, const lumifold::RegistrationMethod& method,
                   lumifold::Merger::Implementation how, bool filtered = false) {
  lumifold::Merger merger(paths);
  merger.setImplementation(how);
  if (filtered) merger.setSpeckleFilter(&lumifold::kSpeckleFilters[0], lumifold::kSpeckleFilters[0].defaultStrength);
  MergeOutcome outcome;
  try {
    outcome.image = method.run(merger);
    return outcome;
  } catch (const velIPL::IPLException& e) {
    outcome.message = e.what();
  } catch (const mathORN::MathException& e) {
    outcome.message = e.what();
  } catch (const std::exception& e) {
    broken("the engine threw something other than IPLException or MathException", e.what());
  }
  if (outcome.message.empty()) broken("the engine failed with an empty message", "");
  outcome.failed = merger.currentImage();
  return outcome;
}

bool isCorrelation(const lumifold::RegistrationMethod& method) { return std::string(method.key) == "correlation"; }

// What a merge of two files must give, from what each decodes to. Each
// method's own limits are spelled out here; a new method needs its own.
MergeOutcome expectedOutcome(const Decoded& first, const Decoded& second, const lumifold::RegistrationMethod& method) {
  const bool correlation = isCorrelation(method);
  MergeOutcome expected;
  if (!first.message.empty()) return {first.message, 0, {}};
  if (correlation && first.image.height() < 2) return {"Image must have at least 2 rows", 0, {}};
  if (!second.message.empty()) return {second.message, 1, {}};
  const bool sameWidth = second.image.width() == first.image.width();
  if (!correlation && !sameWidth) return {"Incompatible vector size", 1, {}};
  if (!sameWidth || second.image.height() != first.image.height()) {
    return {"Image has not same dimensions as reference image", 1, {}};
  }
  return expected;
}

// Merges the two files by every registration method with both
// implementations and checks each result against what the files call for.
void mergeAndCheck(const fuzzsupport::ScratchFile& a, const Decoded& first, const fuzzsupport::ScratchFile& b,
                   const Decoded& second) {
  for (const lumifold::RegistrationMethod& method : lumifold::kRegistrationMethods) {
    const char* algorithm = method.key;
    const MergeOutcome fast = merge({a.path(), b.path()}, method, lumifold::Merger::Implementation::Fast);
    const MergeOutcome plain = merge({a.path(), b.path()}, method, lumifold::Merger::Implementation::Straightforward);
    const MergeOutcome expected = expectedOutcome(first, second, method);
    for (const MergeOutcome* got : {&fast, &plain}) {
      if (got->message != expected.message) {
        broken("the merge did not end as the files call for",
               std::string(algorithm) + ": expected '" + expected.message + "', got '" + got->message + "'");
      }
      if (!got->message.empty() && got->failed != expected.failed) {
        broken("the failure names the wrong file",
               std::string(algorithm) + ": image " + std::to_string(got->failed) + ", not " +
                   std::to_string(expected.failed));
      }
      if (got->message.empty() &&
          (got->image.width() != first.image.width() || got->image.height() != first.image.height())) {
        broken("the merged image is not of the reference's size", algorithm);
      }
    }
    if (fast.message.empty() && !fuzzsupport::samePixels(fast.image, plain.image)) {
      broken("the fast and the straightforward merge differ", algorithm);
    }
    // The speckle filter changes the picture, never whether the merge
    // succeeds, and gives the same picture after either implementation.
    if (!fast.message.empty()) continue;
    const std::vector<std::string> pair{a.path(), b.path()};
    const MergeOutcome fastFiltered = merge(pair, method, lumifold::Merger::Implementation::Fast, true);
    const MergeOutcome plainFiltered = merge(pair, method, lumifold::Merger::Implementation::Straightforward, true);
    if (!fastFiltered.message.empty() || !plainFiltered.message.empty()) {
      broken("the speckle filter made a merge fail", std::string(algorithm) + ": " + fastFiltered.message);
    }
    if (fastFiltered.image.width() != fast.image.width() || fastFiltered.image.height() != fast.image.height() ||
        !fuzzsupport::samePixels(fastFiltered.image, plainFiltered.image)) {
      broken("the filtered fast and straightforward merges differ", algorithm);
    }
  }
}

// Two copies of one file: every shift is 0 and (v + v) / 2 = v.
void selfMergeAndCheck(const fuzzsupport::ScratchFile& file, const Decoded& decoded) {
  if (!decoded.message.empty()) return;
  for (const lumifold::RegistrationMethod& method : lumifold::kRegistrationMethods) {
    if (isCorrelation(method) && decoded.image.height() < 2) continue;
    const MergeOutcome self = merge({file.path(), file.path()}, method, lumifold::Merger::Implementation::Fast);
    const char* algorithm = method.key;
    if (!self.message.empty()) broken("a file merged with itself failed", std::string(algorithm) + ": " + self.message);
    if (!fuzzsupport::samePixels(self.image, decoded.image)) broken("a file merged with itself changed", algorithm);
  }
}

// The series check's verdict on the pair, as the command line runs it
// before merging: true when the merge would run.
bool seriesPasses(const std::vector<std::string>& paths) {
  try {
    lumifold::checkSeries(paths);
  } catch (const lumifold::PathError&) {
    return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzzsupport::ScratchFile fuzzedFile("merge_input");
  static fuzzsupport::ScratchFile referenceFile("merge_reference");
  if (size < 1) return 0;
  // The expected outcomes below are BMP's; the other formats have targets
  // of their own.
  const std::span<const unsigned char> head(data + 1, std::min<std::size_t>(size - 1, velIPL::ImageDecoder::signatureLength));
  if (&velIPL::decoderFor(head, "") != &velIPL::bmpDecoder()) return 0;
  const std::uint8_t flags = data[0];
  const bool outsideTheCheck = flags & 1;
  const bool fuzzedFirst = flags & 2;
  const bool selfMerge = flags & 4;
  const bool movedCopy = flags & 8;
  const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  // Headers that claim more than the cap are not decoded at all, so a
  // run-length file cannot spend the fuzzer's time on megapixels.
  std::istringstream header(bytes);
  velIPL::BmpInfo info;
  std::string probeMessage;
  const bool probed = info.probeStream(header, probeMessage);
  const long long width = info.width();
  const long long rows = info.height() < 0 ? -static_cast<long long>(info.height()) : info.height();
  if (probed && (width > kMaxSide || rows > kMaxSide || width * rows > kMaxPixels)) return 0;

  fuzzedFile.assign(bytes);
  const Decoded fuzzed = decode(bytes);

  int referenceWidth;
  int referenceRows;
  if (outsideTheCheck) {
    referenceWidth = 1 + ((flags >> 4) & 3) * 5;
    referenceRows = 1 + ((flags >> 6) & 3) * 7;
  } else {
    if (!probed) return 0;
    referenceWidth = static_cast<int>(width);
    referenceRows = static_cast<int>(rows);
  }
  velIPL::GImage referenceImage;
  if (movedCopy && fuzzed.message.empty() && fuzzed.image.width() == referenceWidth &&
      fuzzed.image.height() == referenceRows && referenceRows > 0) {
    referenceImage = movedDown(fuzzed.image, (flags >> 4) & 3);
  } else {
    referenceImage = texture(referenceWidth, referenceRows, static_cast<std::uint32_t>(size));
  }
  referenceFile.assign(bmpOf(referenceImage));
  Decoded reference;
  reference.image = referenceImage;

  const fuzzsupport::ScratchFile& a = fuzzedFirst ? fuzzedFile : referenceFile;
  const fuzzsupport::ScratchFile& b = fuzzedFirst ? referenceFile : fuzzedFile;
  const Decoded& first = fuzzedFirst ? fuzzed : reference;
  const Decoded& second = fuzzedFirst ? reference : fuzzed;
  if (!outsideTheCheck && !seriesPasses({a.path(), b.path()})) return 0;
  mergeAndCheck(a, first, b, second);
  if (selfMerge) selfMergeAndCheck(fuzzedFile, fuzzed);
  return 0;
}
