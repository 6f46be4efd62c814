// One simulated series written in every input format the decoders read,
// merged by both registrations and both implementations: 8-bit files give
// the BMP merge's image and shifts byte for byte; 16-bit files holding the
// 8-bit values times 257 give the same shifts and a 16-bit grey of 257
// times the unrounded 8-bit mean, rounded.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ipl/formats/dicom/dicom_writer.h"
#include "ipl/formats/png/png_writer.h"
#include "ipl/formats/tiff/tiff_writer.h"
#include "merge/merge_frame.h"
#include "merge/merger.h"
#include "scratch_folder.h"
#include "sim/bscan_simulator.h"

using lumifold::MergeFrame;
using lumifold::Merger;
using Implementation = lumifold::Merger::Implementation;
using velIPL::G16Image;
using velIPL::GImage;

namespace {

struct Merged {
  GImage image;
  std::vector<std::vector<double>> shifts;
  velIPL::DImage average;
  G16Image average16;
  int bits = 0;
};

Merged mergeFrames(const std::vector<MergeFrame>& frames, bool correlation, Implementation implementation) {
  Merger merger(frames);
  merger.setImplementation(implementation);
  Merged m;
  merger.setShiftObserver([&](int, const mathORN::RowVector& s) { m.shifts.emplace_back(s.data(), s.data() + s.size()); });
  m.image = correlation ? merger.mergeByCorrelation() : merger.mergeByAnteriorEdge();
  m.average = merger.average();
  m.average16 = merger.average16();
  m.bits = merger.bitsPerSample();
  return m;
}

G16Image widened(const GImage& image) {
  G16Image wide(image.width(), image.height(), 0);
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) wide.at(x, y) = static_cast<std::uint16_t>(image.at(x, y) * 257);
  }
  return wide;
}

// A way of putting the series on disk: returns the frames to merge.
struct Format {
  const char* name;
  bool sixteen;
  std::function<std::vector<MergeFrame>(const std::vector<GImage>&, const testutil::ScratchFolder&)> write;
};

// One file per frame, written by save(frame, path).
template <typename Save>
std::vector<MergeFrame> fileEach(const std::vector<GImage>& frames, const testutil::ScratchFolder& folder,
                                 const std::string& extension, Save save) {
  std::vector<MergeFrame> list;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const std::string path = folder.file("frame_" + std::to_string(i) + extension);
    save(frames[i], path);
    list.emplace_back(path, 0);
  }
  return list;
}

std::vector<MergeFrame> framesOf(const std::string& path, std::size_t count) {
  std::vector<MergeFrame> list;
  for (std::size_t i = 0; i < count; ++i) list.emplace_back(path, static_cast<int>(i));
  return list;
}

std::vector<MergeFrame> dicom(const std::vector<GImage>& frames, const testutil::ScratchFolder& folder,
                              velIPL::DicomCompression compression, bool sixteen) {
  velIPL::DicomWriteOptions options;
  options.compression = compression;
  velIPL::DicomWriter writer(options);
  for (const GImage& frame : frames) {
    if (sixteen) {
      writer.addFrame(widened(frame));
    } else {
      writer.addFrame(frame);
    }
  }
  const std::string path = folder.file("series.dcm");
  writer.writeFile(path);
  return framesOf(path, frames.size());
}

std::vector<MergeFrame> tiffStack(const std::vector<GImage>& frames, const testutil::ScratchFolder& folder,
                                  const velIPL::TiffWriteOptions& options, bool sixteen) {
  velIPL::TiffWriter writer(options);
  for (const GImage& frame : frames) {
    if (sixteen) {
      writer.addPage(widened(frame));
    } else {
      writer.addPage(frame);
    }
  }
  const std::string path = folder.file("stack.tif");
  writer.writeFile(path);
  return framesOf(path, frames.size());
}

const Format kFormats[] = {
    {"PNG files", false,
     [](const auto& frames, const auto& folder) {
       return fileEach(frames, folder, ".png", [](const GImage& f, const std::string& p) { velIPL::PngWriter().writeFile(p, f); });
     }},
    {"TIFF files", false,
     [](const auto& frames, const auto& folder) {
       return fileEach(frames, folder, ".tif", [](const GImage& f, const std::string& p) {
         velIPL::TiffWriter writer;
         writer.addPage(f);
         writer.writeFile(p);
       });
     }},
    {"multi-page TIFF", false, [](const auto& frames, const auto& folder) { return tiffStack(frames, folder, {}, false); }},
    {"multi-page TIFF, tiled, LZW, big-endian", false,
     [](const auto& frames, const auto& folder) {
       velIPL::TiffWriteOptions options;
       options.tileSide = 16;
       options.compression = velIPL::TiffCompression::lzw;
       options.bigEndian = true;
       return tiffStack(frames, folder, options, false);
     }},
    {"multi-frame DICOM", false,
     [](const auto& frames, const auto& folder) { return dicom(frames, folder, velIPL::DicomCompression::none, false); }},
    {"DICOM, JPEG-LS", false,
     [](const auto& frames, const auto& folder) { return dicom(frames, folder, velIPL::DicomCompression::jpegLs, false); }},
    {"DICOM, JPEG 2000", false,
     [](const auto& frames, const auto& folder) {
       return dicom(frames, folder, velIPL::DicomCompression::jpeg2000, false);
     }},
    {"16-bit PNG files", true,
     [](const auto& frames, const auto& folder) {
       return fileEach(frames, folder, ".png",
                       [](const GImage& f, const std::string& p) { velIPL::PngWriter().writeFile(p, widened(f)); });
     }},
    {"16-bit multi-page TIFF", true,
     [](const auto& frames, const auto& folder) { return tiffStack(frames, folder, {}, true); }},
    {"16-bit DICOM, JPEG-LS", true,
     [](const auto& frames, const auto& folder) { return dicom(frames, folder, velIPL::DicomCompression::jpegLs, true); }},
};

}  // namespace

TEST(MergerFormats, EveryFormatMergesAsTheBmpFiles) {
  lumifold::SimulationParameters p;
  p.width = 96;
  p.height = 80;
  p.frames = 6;
  p.maxShift = 6;
  p.seed = 1515;
  const lumifold::BScanSimulator sim(p);
  std::vector<GImage> frames;
  for (int i = 0; i < p.frames; ++i) frames.push_back(sim.frame(i));
  testutil::ScratchFolder bmpFolder;
  const std::vector<MergeFrame> bmp = fileEach(frames, bmpFolder, ".bmp", [](const GImage& f, const std::string& path) {
    testutil::saveGrey(f, path);
  });

  for (const Format& format : kFormats) {
    testutil::ScratchFolder folder;
    const std::vector<MergeFrame> list = format.write(frames, folder);
    for (bool correlation : {true, false}) {
      for (Implementation implementation : {Implementation::Straightforward, Implementation::Fast}) {
        const std::string what = std::string(format.name) + (correlation ? ", correlation" : ", anterior edge") +
                                 (implementation == Implementation::Fast ? ", fast" : ", straightforward");
        const Merged expected = mergeFrames(bmp, correlation, implementation);
        const Merged actual = mergeFrames(list, correlation, implementation);
        ASSERT_EQ(actual.bits, format.sixteen ? 16 : 8) << what;
        ASSERT_EQ(actual.shifts.size(), expected.shifts.size()) << what;
        for (std::size_t j = 0; j < expected.shifts.size(); ++j) {
          ASSERT_EQ(std::memcmp(actual.shifts[j].data(), expected.shifts[j].data(),
                                expected.shifts[j].size() * sizeof(double)),
                    0)
              << what << ", frame " << j + 1;
        }
        ASSERT_EQ(actual.image.width(), expected.image.width()) << what;
        ASSERT_EQ(actual.image.height(), expected.image.height()) << what;
        for (int y = 0; y < expected.image.height(); ++y) {
          ASSERT_EQ(std::memcmp(actual.image.row(y), expected.image.row(y), static_cast<std::size_t>(p.width)), 0)
              << what << ", row " << y;
        }
        if (!format.sixteen) continue;
        for (int y = 0; y < p.height; ++y) {
          for (int x = 0; x < p.width; ++x) {
            // round(257 x sum / n) with halves up, from the exact 8-bit sum.
            const long long sum8 = std::llround(expected.average.at(x, y) * p.frames);
            ASSERT_EQ(actual.average16.at(x, y), (2 * 257 * sum8 + p.frames) / (2 * p.frames))
                << what << ", pixel " << x << ", " << y;
          }
        }
      }
    }
  }
}
