#include <gtest/gtest.h>

#include <string>

#include "ipl/formats/dicom/dicom_writer.h"
#include "ipl/formats/png/png_writer.h"
#include "ipl/formats/tiff/tiff_writer.h"
#include "ipl/image_decoder.h"
#include "scratch_folder.h"

using namespace velIPL;

// Every format is found by its content, whatever the file is called, and
// reads through GImage(fileName) like a BMP.
TEST(DecoderTable, FindsEachFormatByItsContent) {
  testutil::ScratchFolder folder;
  GImage frame(24, 17, 0);
  for (int y = 0; y < 17; ++y) {
    for (int x = 0; x < 24; ++x) frame.at(x, y) = static_cast<unsigned char>(x * 10 + y);
  }
  G16Image deep(24, 17, 4095);
  TiffWriter stack;
  stack.addPage(frame);
  stack.addPage(frame);
  stack.writeFile(folder.file("tiff.bmp"));
  PngWriter().writeFile(folder.file("png.tif"), deep);
  DicomWriter dicom({0, 0, DicomCompression::jpegLs});
  for (int i = 0; i < 3; ++i) dicom.addFrame(frame);
  dicom.writeFile(folder.file("dicom.png"));

  const struct {
    const char* file;
    const char* format;
    int frames;
    int bits;
  } cases[] = {{"tiff.bmp", "TIFF", 2, 8}, {"png.tif", "PNG", 1, 16}, {"dicom.png", "DICOM", 3, 8}};
  for (const auto& c : cases) {
    ImageFileInfo info;
    std::string message;
    ASSERT_TRUE(probeImageFile(folder.file(c.file), info, message)) << c.file << ": " << message;
    EXPECT_EQ(info.format, c.format);
    EXPECT_EQ(decoderFor(folder.file(c.file)).name(), c.format);
    EXPECT_EQ(info.frames, c.frames);
    EXPECT_EQ(info.bitsPerSample, c.bits);
    EXPECT_EQ(info.width, 24);
    EXPECT_EQ(info.height, 17);
  }
  const GImage fromTiff(folder.file("tiff.bmp"));
  const GImage fromDicom(folder.file("dicom.png"));
  for (int y = 0; y < 17; ++y) {
    for (int x = 0; x < 24; ++x) {
      ASSERT_EQ(fromTiff.at(x, y), frame.at(x, y));
      ASSERT_EQ(fromDicom.at(x, y), frame.at(x, y));
    }
  }
  EXPECT_TRUE(hasImageExtension("B.TIFF"));
  EXPECT_TRUE(hasImageExtension("a.Dcm"));
  EXPECT_TRUE(hasImageExtension("a.png"));
}
