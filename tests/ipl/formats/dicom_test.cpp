#include <gtest/gtest.h>

#include <gdcmImageChangeTransferSyntax.h>
#include <gdcmImageWriter.h>
#include <gdcmLookupTable.h>
#include <gdcmReader.h>
#include <gdcmSequenceOfItems.h>
#include <gdcmWriter.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "ipl/formats/dicom/dicom_decoder.h"
#include "ipl/formats/dicom/dicom_writer.h"
#include "ipl/formats/frame_rules.h"
#include "ipl/formats/sample_pattern.h"
#include "ipl/ipl_exception.h"
#include "scratch_folder.h"
#include "test_util.h"

using namespace velIPL;
using testutil::paletteEntry;
using testutil::sampleAt;

namespace {

constexpr int width = 37;
constexpr int height = 23;
constexpr int frameCount = 3;

// A file GDCM writes itself, for the kinds our own writer does not make.
struct RawDicom {
  const char* name;
  gdcm::PhotometricInterpretation::PIType photometric;
  int samples = 1;
  int bits = 8;       // allocated; 12 stored when 16
  int planar = 0;
  gdcm::TransferSyntax::TSType syntax = gdcm::TransferSyntax::ExplicitVRLittleEndian;
  bool isSigned = false;
};

int storedBits(const RawDicom& d) { return d.bits == 16 ? 12 : 8; }

std::uint32_t stored(const RawDicom& d, int frame, int x, int y, int s) {
  return sampleAt(x + frame * 5, y, s, d.photometric == gdcm::PhotometricInterpretation::PALETTE_COLOR ? 8 : storedBits(d));
}

std::string writeRaw(const RawDicom& d) {
  gdcm::ImageWriter writer;
  gdcm::Image& image = writer.GetImage();
  image.SetNumberOfDimensions(3);
  image.SetDimension(0, width);
  image.SetDimension(1, height);
  image.SetDimension(2, frameCount);
  gdcm::PixelFormat format(static_cast<unsigned short>(d.samples), static_cast<unsigned short>(d.bits),
                           static_cast<unsigned short>(storedBits(d)), static_cast<unsigned short>(storedBits(d) - 1),
                           d.isSigned ? 1 : 0);
  image.SetPixelFormat(format);
  image.SetPhotometricInterpretation(d.photometric);
  image.SetPlanarConfiguration(static_cast<unsigned>(d.planar));
  image.SetTransferSyntax(gdcm::TransferSyntax::ExplicitVRLittleEndian);
  const std::size_t pixels = std::size_t{width} * height;
  std::vector<char> data(pixels * d.samples * (d.bits / 8) * frameCount);
  for (int f = 0; f < frameCount; ++f) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        for (int s = 0; s < d.samples; ++s) {
          const std::size_t pixel = static_cast<std::size_t>(y) * width + x;
          const std::size_t i = f * pixels * d.samples + (d.planar ? s * pixels + pixel : pixel * d.samples + s);
          const std::uint32_t v = stored(d, f, x, y, s);
          if (d.bits == 8) {
            data[i] = static_cast<char>(v);
          } else {
            data[2 * i] = static_cast<char>(v);
            data[2 * i + 1] = static_cast<char>(v >> 8);
          }
        }
      }
    }
  }
  gdcm::DataElement pixelData(gdcm::Tag(0x7fe0, 0x0010));
  pixelData.SetByteValue(data.data(), static_cast<std::uint32_t>(data.size()));
  image.SetDataElement(pixelData);
  if (d.photometric == gdcm::PhotometricInterpretation::PALETTE_COLOR) {
    gdcm::SmartPointer<gdcm::LookupTable> lut = new gdcm::LookupTable;
    lut->Allocate(8);
    for (int c = 0; c < 3; ++c) {
      std::vector<unsigned char> entries(256);
      for (int i = 0; i < 256; ++i) entries[i] = paletteEntry(i, c);
      const auto kind = static_cast<gdcm::LookupTable::LookupTableType>(gdcm::LookupTable::RED + c);
      lut->InitializeLUT(kind, 256, 0, 8);
      lut->SetLUT(kind, entries.data(), 256);
    }
    image.SetLUT(*lut);
  }
  std::ostringstream out;
  if (d.syntax != gdcm::TransferSyntax::ExplicitVRLittleEndian) {
    gdcm::ImageChangeTransferSyntax change;
    change.SetTransferSyntax(d.syntax);
    change.SetInput(image);
    EXPECT_TRUE(change.Change());
    writer.SetImage(change.GetOutput());
  }
  // A multi-frame class that takes colour and palettes.
  const std::string ultrasound = "1.2.840.10008.5.1.4.1.1.3.1";
  gdcm::DataElement sopClass(gdcm::Tag(0x0008, 0x0016));
  sopClass.SetVR(gdcm::VR::UI);
  sopClass.SetByteValue(ultrasound.data(), static_cast<std::uint32_t>(ultrasound.size()));
  writer.GetFile().GetDataSet().Replace(sopClass);
  writer.SetStream(out);
  EXPECT_TRUE(writer.Write());
  return out.str();
}

std::uint32_t expectedGrey(const RawDicom& d, int f, int x, int y) {
  switch (d.photometric) {
    case gdcm::PhotometricInterpretation::MONOCHROME1: return ((1u << storedBits(d)) - 1) - stored(d, f, x, y, 0);
    case gdcm::PhotometricInterpretation::PALETTE_COLOR: {
      const int i = static_cast<int>(stored(d, f, x, y, 0));
      return greyOf(paletteEntry(i, 0), paletteEntry(i, 1), paletteEntry(i, 2));
    }
    case gdcm::PhotometricInterpretation::RGB: return greyOf(stored(d, f, x, y, 0), stored(d, f, x, y, 1), stored(d, f, x, y, 2));
    default: return stored(d, f, x, y, 0);
  }
}

template <typename Image>
void expectFrames(ImageFile& file, const RawDicom& d) {
  for (int f : {2, 0, 1}) {
    Image image;
    file.readFrame(f, image);
    ASSERT_EQ(image.width(), width);
    ASSERT_EQ(image.height(), height);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) ASSERT_EQ(image.at(x, y), expectedGrey(d, f, x, y)) << f << ":" << x << "," << y;
    }
  }
}

std::unique_ptr<ImageFile> openBytes(const std::string& bytes) {
  return static_cast<const DicomDecoder&>(dicomDecoder()).openStream(std::make_unique<std::istringstream>(bytes));
}

class DicomDecoderKinds : public testing::TestWithParam<RawDicom> {};

TEST_P(DicomDecoderKinds, DecodeEveryFrameToTheDocumentedGrey) {
  const RawDicom& d = GetParam();
  const auto file = openBytes(writeRaw(d));
  const ImageFileInfo& info = file->info();
  EXPECT_EQ(info.format, "DICOM");
  EXPECT_EQ(info.frames, frameCount);
  EXPECT_EQ(info.samplesPerPixel, d.samples);
  if (d.bits == 16) {
    EXPECT_EQ(info.bitsPerSample, 16);
    EXPECT_EQ(info.significantBits, 12);
    expectFrames<G16Image>(*file, d);
  } else {
    EXPECT_EQ(info.bitsPerSample, 8);
    expectFrames<GImage>(*file, d);
  }
}

using PI = gdcm::PhotometricInterpretation;
using TS = gdcm::TransferSyntax;

INSTANTIATE_TEST_SUITE_P(
    Cases, DicomDecoderKinds,
    testing::Values(RawDicom{"mono2_8", PI::MONOCHROME2}, RawDicom{"mono1_12in16", PI::MONOCHROME1, 1, 16},
                    RawDicom{"mono1_8_rle", PI::MONOCHROME1, 1, 8, 0, TS::RLELossless},
                    RawDicom{"mono2_12in16_jpeg_lossless", PI::MONOCHROME2, 1, 16, 0, TS::JPEGLosslessProcess14_1},
                    RawDicom{"mono2_8_jpegls", PI::MONOCHROME2, 1, 8, 0, TS::JPEGLSLossless},
                    RawDicom{"mono2_12in16_jpeg2000", PI::MONOCHROME2, 1, 16, 0, TS::JPEG2000Lossless},
                    RawDicom{"rgb8", PI::RGB, 3}, RawDicom{"rgb8_planar", PI::RGB, 3, 8, 1},
                    RawDicom{"rgb16_planar", PI::RGB, 3, 16, 1}, RawDicom{"rgb8_rle", PI::RGB, 3, 8, 0, TS::RLELossless},
                    RawDicom{"palette8", PI::PALETTE_COLOR}),
    [](const testing::TestParamInfo<RawDicom>& info) { return std::string(info.param.name); });

std::string readMessage(const std::string& bytes) {
  return testutil::messageOf<IPLException>([&] {
    const auto file = openBytes(bytes);
    GImage frame;
    for (int i = 0; i < file->info().frames; ++i) file->readFrame(i, frame);
  });
}

TEST(DicomWriter, FramesReadBackInEveryTransferSyntax) {
  for (const DicomCompression compression :
       {DicomCompression::none, DicomCompression::rle, DicomCompression::jpegLs, DicomCompression::jpeg2000}) {
    for (const int side : {DicomWriter::minJpeg2000Side + 1, 64}) {
      DicomWriter writer({0.0117, 0.0039, compression});
      DicomWriter deepWriter({0, 0, compression});
      std::vector<GImage> frames;
      std::vector<G16Image> deepFrames;
      for (int f = 0; f < frameCount; ++f) {
        GImage frame(side, side - 1, 0);
        G16Image deep(side, side - 1, 0);
        for (int y = 0; y < side - 1; ++y) {
          for (int x = 0; x < side; ++x) {
            frame.at(x, y) = static_cast<unsigned char>(sampleAt(x + f, y, 0, 8));
            deep.at(x, y) = static_cast<std::uint16_t>(sampleAt(x + f, y, 0, 16));
          }
        }
        writer.addFrame(frame);
        deepWriter.addFrame(deep);
        frames.push_back(frame);
        deepFrames.push_back(deep);
      }
      const std::vector<unsigned char> bytes = writer.encode();
      const auto file = openBytes(std::string(bytes.begin(), bytes.end()));
      const std::vector<unsigned char> deepBytes = deepWriter.encode();
      const auto deepFile = openBytes(std::string(deepBytes.begin(), deepBytes.end()));
      EXPECT_EQ(file->info().modality, "OPT");
      EXPECT_DOUBLE_EQ(file->info().pixelSpacingX, 0.0117);
      EXPECT_DOUBLE_EQ(file->info().pixelSpacingY, 0.0039);
      EXPECT_EQ(deepFile->info().bitsPerSample, 16);
      for (int f : {1, 2, 0}) {
        GImage back;
        file->readFrame(f, back);
        G16Image deepBack;
        deepFile->readFrame(f, deepBack);
        for (int y = 0; y < side - 1; ++y) {
          for (int x = 0; x < side; ++x) {
            ASSERT_EQ(back.at(x, y), frames[f].at(x, y)) << static_cast<int>(compression);
            ASSERT_EQ(deepBack.at(x, y), deepFrames[f].at(x, y)) << static_cast<int>(compression);
          }
        }
      }
    }
  }
  DicomWriter mixed;
  mixed.addFrame(GImage(4, 4, 0));
  EXPECT_EQ(testutil::messageOf<IPLException>([&] { mixed.addFrame(GImage(5, 4, 0)); }), "Frames of different sizes");
  EXPECT_EQ(testutil::messageOf<IPLException>([&] { mixed.addFrame(G16Image(4, 4, 0)); }), "Frames of different depths");
  EXPECT_EQ(testutil::messageOf<IPLException>([] { DicomWriter().encode(); }), "Empty image");
  DicomWriter tiny({0, 0, DicomCompression::jpeg2000});
  tiny.addFrame(GImage(DicomWriter::minJpeg2000Side - 1, 40, 0));
  EXPECT_EQ(testutil::messageOf<IPLException>([&] { tiny.encode(); }), "Image too small for JPEG 2000");
}

// Lossy JPEG: a smooth frame through GDCM's baseline encoder comes back
// close to what went in (and its stream passes the marker check).
TEST(DicomDecoder, ReadsJpegBaselineCloseToTheOriginal) {
  constexpr int w = 64, h = 48;
  std::vector<char> pixels(w * h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) pixels[y * w + x] = static_cast<char>(40 + 2 * x + y);
  }
  gdcm::ImageWriter writer;
  gdcm::Image& image = writer.GetImage();
  image.SetNumberOfDimensions(2);
  image.SetDimension(0, w);
  image.SetDimension(1, h);
  image.SetPixelFormat(gdcm::PixelFormat(gdcm::PixelFormat::UINT8));
  image.SetPhotometricInterpretation(gdcm::PhotometricInterpretation::MONOCHROME2);
  image.SetTransferSyntax(gdcm::TransferSyntax::ExplicitVRLittleEndian);
  gdcm::DataElement pixelData(gdcm::Tag(0x7fe0, 0x0010));
  pixelData.SetByteValue(pixels.data(), static_cast<std::uint32_t>(pixels.size()));
  image.SetDataElement(pixelData);
  gdcm::ImageChangeTransferSyntax change;
  change.SetTransferSyntax(gdcm::TransferSyntax::JPEGBaselineProcess1);
  change.SetInput(image);
  ASSERT_TRUE(change.Change());
  writer.SetImage(change.GetOutput());
  std::ostringstream out;
  writer.SetStream(out);
  ASSERT_TRUE(writer.Write());
  GImage back;
  openBytes(out.str())->readFrame(0, back);
  int worst = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) worst = std::max(worst, std::abs(back.at(x, y) - (40 + 2 * x + y)));
  }
  EXPECT_LE(worst, 6);
}

// The step between frames is Spacing Between Slices, at the top level or in
// the shared functional groups' pixel measures (as a multi-frame OCT file
// keeps it); Slice Thickness says nothing of it, and neither does a value
// that is no positive number. Our own writer states no step, nor a pixel
// spacing it was not given.
TEST(DicomDecoder, ReadsTheSpacingBetweenFrames) {
  const auto encoded = [](double pixelSpacing) {
    DicomWriter writer({pixelSpacing, pixelSpacing, DicomCompression::none});
    writer.addFrame(GImage(8, 6, 0));
    writer.addFrame(GImage(8, 6, 0));
    const std::vector<unsigned char> bytes = writer.encode();
    return std::string(bytes.begin(), bytes.end());
  };
  EXPECT_EQ(openBytes(encoded(0.01))->info().sliceSpacing, 0.0);
  EXPECT_DOUBLE_EQ(openBytes(encoded(0.01))->info().pixelSpacingY, 0.01);
  EXPECT_EQ(openBytes(encoded(0))->info().pixelSpacingX, 0.0);

  const auto spacing = [&](bool shared, std::uint16_t element, const std::string& value) {
    std::istringstream in(encoded(0));
    gdcm::Reader reader;
    reader.SetStream(in);
    EXPECT_TRUE(reader.Read());
    gdcm::DataElement distance(gdcm::Tag(0x0018, element));
    distance.SetVR(gdcm::VR::DS);
    distance.SetByteValue(value.data(), static_cast<std::uint32_t>(value.size()));
    gdcm::DataSet& ds = reader.GetFile().GetDataSet();
    if (shared) {
      // (5200,9229) > item > (0028,9110) > item > the distance.
      const auto sequence = [](std::uint16_t group, std::uint16_t elem, const gdcm::DataElement& inner) {
        gdcm::Item item;
        item.SetVLToUndefined();
        item.GetNestedDataSet().Insert(inner);
        gdcm::SmartPointer<gdcm::SequenceOfItems> items = new gdcm::SequenceOfItems;
        items->AddItem(item);
        gdcm::DataElement outer(gdcm::Tag(group, elem));
        outer.SetVR(gdcm::VR::SQ);
        outer.SetValue(*items);
        outer.SetVLToUndefined();
        return outer;
      };
      ds.Replace(sequence(0x5200, 0x9229, sequence(0x0028, 0x9110, distance)));
    } else {
      ds.Replace(distance);
    }
    std::ostringstream out;
    gdcm::Writer writer;
    writer.SetFile(reader.GetFile());
    writer.SetStream(out);
    EXPECT_TRUE(writer.Write());
    return openBytes(out.str())->info().sliceSpacing;
  };
  EXPECT_DOUBLE_EQ(spacing(false, 0x0088, "0.0469"), 0.0469);
  EXPECT_DOUBLE_EQ(spacing(true, 0x0088, "0.12"), 0.12);
  EXPECT_EQ(spacing(false, 0x0050, "0.005 "), 0.0);  // Slice Thickness
  EXPECT_EQ(spacing(false, 0x0088, "-0.1"), 0.0);
  EXPECT_EQ(spacing(true, 0x0088, "wide"), 0.0);
}

TEST(DicomDecoder, RefusesWhatItCannotRepresentAndBrokenFiles) {
  EXPECT_EQ(readMessage(std::string(200, 'x')), "Not a DICOM file");

  DicomWriter writer;
  for (int f = 0; f < frameCount; ++f) writer.addFrame(GImage(width, height, static_cast<unsigned char>(f)));
  const std::vector<unsigned char> encoded = writer.encode();
  const std::string bytes(encoded.begin(), encoded.end());
  // Pixel Representation 1: signed samples.
  std::string signedSamples = bytes;
  const std::size_t representation = signedSamples.find(std::string("\x28\x00\x03\x01US\x02\x00\x00\x00", 10));
  ASSERT_NE(representation, std::string::npos);
  signedSamples[representation + 8] = 1;
  EXPECT_EQ(readMessage(signedSamples), "Unsupported DICOM: signed samples");
  // More frames than the pixel data holds.
  std::string more = bytes;
  const std::size_t count = more.find(std::string("3 ", 2), more.find("\x28\x00\x08\x00", 0, 4));
  ASSERT_NE(count, std::string::npos);
  more[count] = '9';
  EXPECT_EQ(readMessage(more), "Too many frames for the file");
  // Cut anywhere: refused, never a crash or a made-up pixel.
  for (std::size_t cut : {std::size_t{140}, std::size_t{400}, bytes.size() - width * height * 2, bytes.size() - 2}) {
    const std::string message = readMessage(bytes.substr(0, cut));
    EXPECT_TRUE(message.rfind("Corrupt DICOM file: ", 0) == 0 || message == "Too many frames for the file") << cut << ": " << message;
  }
  DicomWriter compressed({0, 0, DicomCompression::jpegLs});
  compressed.addFrame(GImage(width, height, 7));
  const std::vector<unsigned char> packed = compressed.encode();
  std::string damaged(packed.begin(), packed.end());
  for (std::size_t i = damaged.size() - 40; i < damaged.size() - 12; ++i) damaged[i] = static_cast<char>(0xFF);
  EXPECT_EQ(readMessage(damaged).rfind("Corrupt DICOM file: ", 0), 0u) << readMessage(damaged);

  // A forged RLE header: its offsets are checked before any segment is read.
  DicomWriter rle({0, 0, DicomCompression::rle});
  rle.addFrame(GImage(width, height, 7));
  const std::vector<unsigned char> rleBytes = rle.encode();
  const std::string runs(rleBytes.begin(), rleBytes.end());
  const std::size_t header = runs.find(std::string("\x01\x00\x00\x00\x40\x00\x00\x00", 8));
  ASSERT_NE(header, std::string::npos);
  const struct {
    std::size_t at;
    char value;
    const char* message;
  } forgeries[] = {
      {0, 2, "RLE header holds 2 segments, not 1"},
      {6, 0x7F, "RLE segment 1 lies outside the fragment"},
      {4, 0x20, "RLE segment 1 lies outside the fragment"},
      {64, 0x7F, "RLE segment 1 ends early"},
  };
  for (const auto& forged : forgeries) {
    std::string bad = runs;
    bad[header + forged.at] = forged.value;
    const std::size_t fragment = static_cast<unsigned char>(runs[header - 4]) | (static_cast<unsigned char>(runs[header - 3]) << 8);
    if (forged.at == 64) bad.replace(header + 65, fragment - 65, fragment - 65, '\x7F');
    EXPECT_EQ(readMessage(bad), std::string("Corrupt DICOM file: frame 0 cannot be decoded: ") + forged.message);
  }
}

}  // namespace
