#include "ipl/formats/dicom/dicom_decoder.h"

#include <gdcmFragment.h>
#include <gdcmImage.h>
#include <gdcmSequenceOfFragments.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "ipl/formats/dicom/dicom_structure.h"
#include "ipl/formats/dicom/gdcm_quiet.h"
#include "ipl/formats/dicom/jpeg2000_frame.h"
#include "ipl/formats/dicom/jpeg_stream_check.h"
#include "ipl/formats/dicom/rle_frame.h"
#include "ipl/formats/frame_rules.h"
#include "ipl/ipl_exception.h"

namespace velIPL {

namespace {

[[noreturn]] void unsupported(const std::string& what) { throw IPLException("Unsupported DICOM: " + what); }
[[noreturn]] void corrupt(const std::string& what) { throw IPLException("Corrupt DICOM file: " + what); }

const gdcm::Tag pixelDataTag(0x7fe0, 0x0010);


std::uint32_t le32(const unsigned char* p) {
  return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}

// A value as text, padding removed.
std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  while (!text.empty() && text.front() == ' ') text.erase(0, 1);
  return text;
}

// An unsigned short value (little-endian), or fallback when missing.
int ushortOf(const std::string& value, int fallback = -1) {
  if (value.size() < 2) return fallback;
  return static_cast<unsigned char>(value[0]) | (static_cast<unsigned char>(value[1]) << 8);
}

// "row\column" Pixel Spacing.
bool readSpacing(const std::string& value, double& x, double& y) {
  const std::string text = trimmed(value);
  const std::size_t split = text.find('\\');
  if (split == std::string::npos) return false;
  const double row = std::strtod(text.c_str(), nullptr);
  const double column = std::strtod(text.c_str() + split + 1, nullptr);
  if (!(row > 0) || !(column > 0)) return false;
  x = column;
  y = row;
  return true;
}

// A positive distance in millimetres (a DS value), or false.
bool readDistance(const std::string& value, double& mm) {
  const std::string text = trimmed(value);
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || !(v > 0) || !std::isfinite(v)) return false;
  mm = v;
  return true;
}

struct Fragment {
  std::uint64_t offset = 0;  // of the fragment's bytes in the file
  std::uint32_t length = 0;
};

class DicomFile : public FrameFile {
public:
  explicit DicomFile(std::unique_ptr<std::istream> stream) : stream_(std::move(stream)) {
    quietGdcm();
    stream_->clear();
    stream_->seekg(0);
    fileBytes_ = bytesLeft(*stream_);
    const DicomStructure structure = DicomStructure::walk(*stream_, fileBytes_);
    valueStart_ = structure.pixelValue;
    pixelLength_ = structure.pixelLength;
    describe(structure);
    indexFrames();
  }

protected:
  void decode(int index, GImage* grey8, G16Image* grey16) override {
    std::vector<unsigned char> frame(frameBytes_);
    bool planar = planar_;
    if (!encapsulated_) {
      fetch(valueStart_ + static_cast<std::uint64_t>(index) * frameBytes_, frame.data(), frameBytes_);
    } else {
      planar = decodeEncapsulated(index, frame);
    }
    const std::uint32_t mask = bitsStored_ >= 16 ? 0xFFFF : (1u << bitsStored_) - 1;
    const std::uint32_t top = mask;
    const std::size_t pixels = static_cast<std::size_t>(info_.width) * info_.height;
    const int samples = colour_ ? 3 : 1;
    std::vector<std::uint16_t> row(static_cast<std::size_t>(info_.width) * samples);
    // Plain grey using every bit is copied as it is (little-endian host).
    if (!invert_ && !palette_ && !colour_ && bitsStored_ == bitsAllocated_) {
      const std::size_t rowBytes = static_cast<std::size_t>(info_.width) * (bitsAllocated_ / 8);
      for (int y = 0; y < info_.height; ++y) {
        void* out = grey8 ? static_cast<void*>(grey8->row(y)) : static_cast<void*>(grey16->row(y));
        std::memcpy(out, frame.data() + static_cast<std::size_t>(y) * rowBytes, rowBytes);
      }
      return;
    }
    for (int y = 0; y < info_.height; ++y) {
      for (int x = 0; x < info_.width; ++x) {
        for (int s = 0; s < samples; ++s) {
          const std::size_t pixel = static_cast<std::size_t>(y) * info_.width + x;
          const std::size_t i = planar ? s * pixels + pixel : pixel * samples + s;
          std::uint32_t v = bitsAllocated_ == 8 ? frame[i] : (frame[2 * i] | (frame[2 * i + 1] << 8));
          v &= mask;
          if (invert_) v = top - v;
          row[static_cast<std::size_t>(x) * samples + s] = static_cast<std::uint16_t>(v);
        }
      }
      if (palette_) {
        for (int x = 0; x < info_.width; ++x) row[x] = paletteGrey(row[x]);
      }
      if (grey8) {
        greyRow(row.data(), info_.width, samples, colour_, grey8->row(y));
      } else {
        greyRow(row.data(), info_.width, samples, colour_, grey16->row(y));
      }
    }
  }

private:
  void describe(const DicomStructure& file) {
    const gdcm::TransferSyntax ts = gdcm::TransferSyntax::GetTSType(file.transferSyntax.c_str());
    if (ts == gdcm::TransferSyntax::TS_END) unsupported("transfer syntax " + file.transferSyntax);
    syntax_ = ts;
    const auto value = [&](std::uint16_t element) { return file.value(0x0028, element); };
    const int rows = ushortOf(value(0x0010));
    const int columns = ushortOf(value(0x0011));
    const int samples = ushortOf(value(0x0002), 1);
    bitsAllocated_ = ushortOf(value(0x0100));
    bitsStored_ = ushortOf(value(0x0101), bitsAllocated_);
    const int representation = ushortOf(value(0x0103), 0);
    planar_ = ushortOf(value(0x0006), 0) == 1;
    photometric_ = trimmed(value(0x0004));
    checkFrameSize(columns, rows);
    if (bitsAllocated_ != 8 && bitsAllocated_ != 16) unsupported(std::to_string(bitsAllocated_) + " bits allocated");
    if (bitsStored_ < 1 || bitsStored_ > bitsAllocated_) corrupt(std::to_string(bitsStored_) + " bits stored");
    if (representation != 0) unsupported("signed samples");
    if (photometric_ == "MONOCHROME1" || photometric_ == "MONOCHROME2") {
      invert_ = photometric_ == "MONOCHROME1";
    } else if (photometric_ == "PALETTE COLOR") {
      palette_ = true;
      if (bitsAllocated_ != 8) unsupported("16-bit palette indices");
      readPalette(file);
    } else if (photometric_ == "RGB") {
      colour_ = true;
    } else {
      unsupported("colour model " + photometric_);
    }
    if (samples != (colour_ ? 3 : 1)) unsupported(std::to_string(samples) + " samples per pixel that are not colour");
    const std::string frames = trimmed(value(0x0008));
    const long long count = frames.empty() ? 1 : std::strtoll(frames.c_str(), nullptr, 10);
    if (count < 1) corrupt("number of frames " + frames);
    if (count > FrameLimits::maxFrames) throw IPLException("Too many frames for the file");
    frameBytes_ = static_cast<std::uint64_t>(rows) * columns * (colour_ ? 3 : 1) * (bitsAllocated_ / 8);

    info_.format = "DICOM";
    info_.width = columns;
    info_.height = rows;
    info_.frames = static_cast<int>(count);
    info_.bitsPerSample = bitsAllocated_ == 16 && !palette_ ? 16 : 8;
    info_.significantBits = info_.bitsPerSample == 16 ? bitsStored_ : 8;
    info_.samplesPerPixel = colour_ ? 3 : 1;
    info_.modality = trimmed(file.value(0x0008, 0x0060));
    if (!readSpacing(value(0x0030), info_.pixelSpacingX, info_.pixelSpacingY)) {
      const auto shared = file.values.find(DicomStructure::sharedPixelSpacing);
      if (shared != file.values.end()) readSpacing(shared->second, info_.pixelSpacingX, info_.pixelSpacingY);
    }
    // The step from one frame's section to the next is Spacing Between
    // Slices. Slice Thickness is not taken for it: an OCT B-scan's
    // thickness is the beam's width, a few micrometres, while the B-scans
    // of a volume lie tens of micrometres or more apart.
    if (!readDistance(file.value(0x0018, 0x0088), info_.sliceSpacing)) {
      const auto shared = file.values.find(DicomStructure::sharedSliceSpacing);
      if (shared != file.values.end()) readDistance(shared->second, info_.sliceSpacing);
    }
  }

  // The palette as 8-bit red, green and blue per index.
  void readPalette(const DicomStructure& file) {
    for (int c = 0; c < 3; ++c) {
      const std::string descriptor = file.value(0x0028, static_cast<std::uint16_t>(0x1101 + c));
      const std::string data = file.value(0x0028, static_cast<std::uint16_t>(0x1201 + c));
      if (descriptor.size() < 6 || data.empty()) corrupt("palette without colour table");
      const auto* d = reinterpret_cast<const unsigned char*>(descriptor.data());
      std::uint32_t entries = d[0] | (d[1] << 8);
      if (entries == 0) entries = 65536;
      firstMapped_[c] = d[2] | (d[3] << 8);
      const int bits = d[4] | (d[5] << 8);
      const auto* values = reinterpret_cast<const unsigned char*>(data.data());
      const std::size_t length = data.size();
      palette_entries_[c].clear();
      for (std::uint32_t i = 0; i < entries && i < 256; ++i) {
        std::uint8_t v;
        if (bits == 8 && length == entries) {
          v = values[i];
        } else if (2 * i + 1 < length) {
          v = bits == 8 ? values[2 * i] : values[2 * i + 1];
        } else {
          corrupt("colour table shorter than its descriptor");
        }
        palette_entries_[c].push_back(v);
      }
      if (palette_entries_[c].empty()) corrupt("empty colour table");
    }
  }

  std::uint16_t paletteGrey(std::uint16_t index) const {
    std::uint32_t rgb[3];
    for (int c = 0; c < 3; ++c) {
      const std::vector<std::uint8_t>& table = palette_entries_[c];
      const long long i = static_cast<long long>(index) - firstMapped_[c];
      rgb[c] = table[static_cast<std::size_t>(std::clamp<long long>(i, 0, static_cast<long long>(table.size()) - 1))];
    }
    return static_cast<std::uint16_t>(greyOf(rgb[0], rgb[1], rgb[2]));
  }

  // Finds every frame's bytes in the pixel data.
  void indexFrames() {
    const std::uint32_t length = pixelLength_;
    const std::uint64_t available = static_cast<std::uint64_t>(fileBytes_) - valueStart_;
    encapsulated_ = length == 0xFFFFFFFF;
    if (!encapsulated_) {
      if (syntax_.IsEncapsulated()) corrupt("uncompressed pixel data in a compressed transfer syntax");
      checkFrameCount(info_.frames, static_cast<std::int64_t>(frameBytes_), std::min<std::int64_t>(length, available));
      return;
    }
    if (!syntax_.IsEncapsulated()) corrupt("compressed pixel data in an uncompressed transfer syntax");
    // Items of at least 8 bytes each: the offset table, then the fragments.
    checkFrameCount(info_.frames, 8, static_cast<std::int64_t>(available));
    std::vector<Fragment> items;
    std::uint64_t at = valueStart_;
    for (;;) {
      unsigned char item[8];
      if (at + 8 > static_cast<std::uint64_t>(fileBytes_)) corrupt("pixel data ends early");
      fetch(at, item, 8);
      at += 8;
      const std::uint32_t itemLength = le32(item + 4);
      if (item[0] == 0xFE && item[1] == 0xFF && item[2] == 0xDD && item[3] == 0xE0) break;
      if (!(item[0] == 0xFE && item[1] == 0xFF && item[2] == 0x00 && item[3] == 0xE0)) corrupt("bad fragment item");
      if (itemLength == 0xFFFFFFFF || at + itemLength > static_cast<std::uint64_t>(fileBytes_)) corrupt("pixel data ends early");
      items.push_back({at, itemLength});
      at += itemLength;
    }
    if (items.size() < 2) corrupt("no fragments");
    const Fragment table = items.front();
    const std::vector<Fragment> fragments(items.begin() + 1, items.end());
    const std::size_t frames = static_cast<std::size_t>(info_.frames);
    frames_.assign(frames, {});
    if (frames == 1) {
      frames_[0] = {0, fragments.size()};
    } else if (table.length / 4 == frames && table.length % 4 == 0) {
      // Offsets from the first fragment's item tag, one per frame.
      std::vector<unsigned char> offsets(table.length);
      fetch(table.offset, offsets.data(), table.length);
      const std::uint64_t base = fragments.front().offset - 8;
      std::size_t next = 0;
      for (std::size_t f = 0; f < frames; ++f) {
        const std::uint64_t start = base + le32(offsets.data() + 4 * f);
        const std::uint64_t end = f + 1 < frames ? base + le32(offsets.data() + 4 * (f + 1)) : UINT64_MAX;
        if (next >= fragments.size() || fragments[next].offset - 8 != start) corrupt("offset table does not match the fragments");
        const std::size_t first = next;
        while (next < fragments.size() && fragments[next].offset - 8 < end) ++next;
        frames_[f] = {first, next - first};
      }
    } else if (fragments.size() == frames) {
      for (std::size_t f = 0; f < frames; ++f) frames_[f] = {f, 1};
    } else if (fragments.size() < frames) {
      throw IPLException("Too many frames for the file");
    } else {
      unsupported("frames that share fragments without an offset table");
    }
    fragments_ = fragments;
    for (std::size_t f = 0; f < frames; ++f) {
      std::uint64_t compressed = 0;
      for (std::size_t i = 0; i < frames_[f].second; ++i) compressed += fragments_[frames_[f].first + i].length;
      if (!plausibleExpansion(frameBytes_, compressed)) {
        corrupt("frame " + std::to_string(f) + " claims more pixels than its data can hold");
      }
    }
  }

  // Decodes frame index into frame; returns whether the decoded samples are
  // planar (one plane per colour).
  bool decodeEncapsulated(int index, std::vector<unsigned char>& frame) {
    const auto [first, count] = frames_[static_cast<std::size_t>(index)];
    std::uint64_t compressed = 0;
    for (std::size_t i = 0; i < count; ++i) compressed += fragments_[first + i].length;
    if (compressed > static_cast<std::uint64_t>(fileBytes_)) corrupt("fragments beyond the file");
    if (syntax_ == gdcm::TransferSyntax::JPEG2000Lossless || syntax_ == gdcm::TransferSyntax::JPEG2000 ||
        syntax_ == gdcm::TransferSyntax::JPEG2000Part2Lossless || syntax_ == gdcm::TransferSyntax::JPEG2000Part2) {
      const std::vector<unsigned char> bytes = gathered(first, count, compressed);
      const Jpeg2000Frame codec{info_.width, info_.height, colour_ ? 3 : 1, bitsAllocated_};
      std::string why;
      if (!codec.decode(bytes.data(), bytes.size(), frame.data(), why)) {
        corrupt("frame " + std::to_string(index) + " cannot be decoded: " + libraryDetail(why));
      }
      return false;
    }
    if (syntax_ == gdcm::TransferSyntax::RLELossless) {
      const std::vector<unsigned char> bytes = gathered(first, count, compressed);
      const RleFrame codec{info_.width, info_.height, colour_ ? 3 : 1, bitsAllocated_ / 8};
      std::string why;
      if (!codec.decode(bytes.data(), bytes.size(), frame.data(), why)) {
        corrupt("frame " + std::to_string(index) + " cannot be decoded: " + why);
      }
      return true;
    }
    const bool jpeg = syntax_.IsLossy() || syntax_ == gdcm::TransferSyntax::JPEGLosslessProcess14 ||
                      syntax_ == gdcm::TransferSyntax::JPEGLosslessProcess14_1 || syntax_ == gdcm::TransferSyntax::JPEGLSLossless;
    if (jpeg) {
      const std::vector<unsigned char> stream = gathered(first, count, compressed);
      const JpegFrameExpectation expected{info_.width, info_.height, colour_ ? 3 : 1, bitsAllocated_,
                                          syntax_ == gdcm::TransferSyntax::JPEGLSLossless ||
                                              syntax_ == gdcm::TransferSyntax::JPEGLSNearLossless};
      std::string why;
      if (!jpegStreamFits(stream.data(), stream.size(), expected, why)) {
        corrupt("frame " + std::to_string(index) + " does not match the data set: " + why);
      }
    }
    bool planar = planar_;
    bool decoded = false;
    try {
      gdcm::SmartPointer<gdcm::SequenceOfFragments> sequence = new gdcm::SequenceOfFragments;
      std::vector<char> bytes;
      for (std::size_t i = 0; i < count; ++i) {
        const Fragment& f = fragments_[first + i];
        bytes.resize(f.length);
        fetch(f.offset, reinterpret_cast<unsigned char*>(bytes.data()), f.length);
        gdcm::Fragment fragment;
        fragment.SetByteValue(bytes.data(), f.length);
        sequence->AddFragment(fragment);
      }
      gdcm::Image image;
      image.SetNumberOfDimensions(2);
      image.SetDimension(0, static_cast<unsigned>(info_.width));
      image.SetDimension(1, static_cast<unsigned>(info_.height));
      gdcm::PixelFormat format(static_cast<unsigned short>(colour_ ? 3 : 1), static_cast<unsigned short>(bitsAllocated_),
                               static_cast<unsigned short>(bitsStored_), static_cast<unsigned short>(bitsStored_ - 1), 0);
      image.SetPixelFormat(format);
      image.SetPhotometricInterpretation(gdcm::PhotometricInterpretation::GetPIType(photometric_.c_str()));
      image.SetPlanarConfiguration(planar_ ? 1 : 0);
      image.SetTransferSyntax(syntax_);
      gdcm::DataElement pixels(pixelDataTag);
      pixels.SetVR(gdcm::VR::OB);
      pixels.SetValue(*sequence);
      image.SetDataElement(pixels);
      if (image.GetBufferLength() == frameBytes_) {
        decoded = image.GetBuffer(reinterpret_cast<char*>(frame.data()));
        planar = image.GetPlanarConfiguration() == 1;
      }
    } catch (const std::bad_alloc&) {
      throw;
    } catch (...) {
      decoded = false;
    }
    if (!decoded) corrupt("frame " + std::to_string(index) + " cannot be decoded");
    return planar;
  }

  // The bytes of count fragments from first, compressed in all.
  std::vector<unsigned char> gathered(std::size_t first, std::size_t count, std::uint64_t compressed) {
    std::vector<unsigned char> bytes;
    bytes.reserve(static_cast<std::size_t>(compressed));
    for (std::size_t i = 0; i < count; ++i) {
      const Fragment& f = fragments_[first + i];
      const std::size_t at = bytes.size();
      bytes.resize(at + f.length);
      fetch(f.offset, bytes.data() + at, f.length);
    }
    return bytes;
  }

  void fetch(std::uint64_t offset, unsigned char* target, std::uint64_t count) {
    stream_->clear();
    stream_->seekg(static_cast<std::streamoff>(offset));
    stream_->read(reinterpret_cast<char*>(target), static_cast<std::streamsize>(count));
    if (static_cast<std::uint64_t>(stream_->gcount()) != count) {
      stream_->clear();
      corrupt("pixel data ends early");
    }
  }

  std::unique_ptr<std::istream> stream_;
  std::int64_t fileBytes_ = 0;
  std::uint64_t valueStart_ = 0;
  gdcm::TransferSyntax syntax_;
  std::uint32_t pixelLength_ = 0;
  bool encapsulated_ = false;
  int bitsAllocated_ = 0;
  int bitsStored_ = 0;
  bool planar_ = false;
  std::string photometric_;
  bool invert_ = false;
  bool palette_ = false;
  bool colour_ = false;
  std::uint64_t frameBytes_ = 0;
  std::vector<std::uint8_t> palette_entries_[3];
  int firstMapped_[3] = {0, 0, 0};
  std::vector<Fragment> fragments_;
  std::vector<std::pair<std::size_t, std::size_t>> frames_;  // first fragment, count
};

}  // namespace

bool DicomDecoder::recognises(std::span<const unsigned char> head) const {
  return head.size() >= 132 && std::memcmp(head.data() + 128, "DICM", 4) == 0;
}

std::unique_ptr<ImageFile> DicomDecoder::openStream(std::unique_ptr<std::istream> stream) const {
  return std::make_unique<DicomFile>(std::move(stream));
}

const ImageDecoder& dicomDecoder() {
  static const DicomDecoder decoder;
  return decoder;
}

}  // namespace velIPL
