#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "ipl/bmp_file_builder.h"
#include "ipl/formats/bmp/bmp_decoder.h"
#include "ipl/image_decoder.h"
#include "scratch_folder.h"
#include "test_util.h"

using testutil::messageOf;
using velIPL::ImageDecoder;
using velIPL::IPLException;

namespace {

std::span<const unsigned char> bytesOf(const std::string& s) {
  return {reinterpret_cast<const unsigned char*>(s.data()), s.size()};
}

// A 3 x 2 grey BMP, bottom-up or top-down.
std::string smallBmp(bool topDown) {
  bmptest::BmpFile f;
  f.width = 3;
  f.height = topDown ? -2 : 2;
  f.palette = bmptest::greyRamp(256);
  f.pixels = bmptest::paddedRows({{1, 2, 3}, {4, 5, 6}});
  return f.bytes();
}

}  // namespace

TEST(ImageDecoders, TableKeysNamesAndExtensionsAreDistinct) {
  const std::vector<const ImageDecoder*>& decoders = velIPL::imageDecoders();
  ASSERT_FALSE(decoders.empty());
  EXPECT_EQ(decoders.front(), &velIPL::bmpDecoder());
  std::set<std::string_view> keys, names, extensions;
  for (const ImageDecoder* d : decoders) {
    EXPECT_TRUE(keys.insert(d->key()).second) << d->key();
    EXPECT_TRUE(names.insert(d->name()).second) << d->name();
    for (std::string_view ext : d->extensions()) {
      EXPECT_TRUE(extensions.insert(ext).second) << ext;
      EXPECT_EQ(ext.front(), '.') << ext;
      for (char c : ext) EXPECT_FALSE(c >= 'A' && c <= 'Z') << ext;
    }
  }
}

TEST(ImageDecoders, BmpEntryRecognisesBmpBytesOnly) {
  const ImageDecoder& bmp = velIPL::bmpDecoder();
  EXPECT_TRUE(bmp.recognises(bytesOf(smallBmp(false))));
  EXPECT_TRUE(bmp.recognises(bytesOf("BM")));
  for (const std::string& head : {std::string(), std::string("B"), std::string("MB..."), std::string("II*\0", 4),
                                 std::string("\x89PNG\r\n\x1a\n"), std::string("bm")}) {
    EXPECT_FALSE(bmp.recognises(bytesOf(head))) << head;
  }
}

TEST(ImageDecoders, ExtensionsIgnoreCaseAndFolders) {
  for (const char* name : {"a.bmp", "A.BMP", "dir.d/x.Bmp", "/tmp/.hidden.bmp"}) {
    EXPECT_TRUE(velIPL::hasImageExtension(name)) << name;
  }
  for (const char* name : {"a.bmpx", "a.bm", "bmp", ".bmp", "dir.bmp/x", "a.csv", ""}) {
    EXPECT_FALSE(velIPL::hasImageExtension(name)) << name;
  }
}

// The probe's and the reader's own words reach every caller of the seam,
// also for files that are no image at all.
TEST(ImageDecoders, ProbeAndReadThroughTheSeam) {
  testutil::ScratchFolder folder;
  const std::string upright = testutil::writeText(folder.file("upright.bmp"), smallBmp(false));
  const std::string topDown = testutil::writeText(folder.file("top_down.bmp"), smallBmp(true));
  const std::string text = testutil::writeText(folder.file("notes.csv"), "frame,shift\n0,1\n");
  const std::string tiny = testutil::writeText(folder.file("tiny.bmp"), "BM12");

  velIPL::ImageFileInfo info;
  std::string message = "caller's text";
  ASSERT_TRUE(velIPL::probeImageFile(topDown, info, message));
  EXPECT_EQ(message, "caller's text");
  EXPECT_EQ(info.format, "BMP");
  EXPECT_EQ(info.width, 3);
  EXPECT_EQ(info.height, 2);
  EXPECT_TRUE(info.topDown);
  EXPECT_EQ(info.frames, 1);
  EXPECT_EQ(info.samplesPerPixel, 1);
  ASSERT_TRUE(velIPL::probeImageFile(upright, info, message));
  EXPECT_FALSE(info.topDown);

  EXPECT_FALSE(velIPL::probeImageFile(folder.file("missing.bmp"), info, message));
  EXPECT_FALSE(velIPL::probeImageFile(folder.path().string(), info, message));
  EXPECT_EQ(message, "caller's text");
  EXPECT_FALSE(velIPL::probeImageFile(text, info, message));
  EXPECT_EQ(message, "File is not a bitmap image");
  EXPECT_FALSE(velIPL::probeImageFile(tiny, info, message));
  EXPECT_EQ(message, "Bitmap file not complete");

  EXPECT_EQ(messageOf<IPLException>([&] { velIPL::decoderFor(folder.file("missing.bmp")); }), "Can't open image file");
  EXPECT_EQ(messageOf<IPLException>([&] { velIPL::GImage{text}; }), "Not a bmp image");
  EXPECT_EQ(messageOf<IPLException>([&] { velIPL::GImage{tiny}; }), "Premature end of stream");

  // Both row orders read upright, equal to the reader's own result.
  const velIPL::GImage a(upright), b(topDown);
  EXPECT_EQ(bmptest::rowOf(a, 0), (std::vector<int>{4, 5, 6}));
  EXPECT_EQ(bmptest::rowOf(b, 0), (std::vector<int>{1, 2, 3}));

  const std::unique_ptr<velIPL::ImageFile> file = velIPL::decoderFor(upright).open(upright);
  EXPECT_EQ(file->info().height, 2);
  velIPL::GImage frame;
  file->readFrame(0, frame);
  file->readFrame(0, frame);  // a frame may be read again
  EXPECT_EQ(bmptest::rowOf(frame, 1), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(messageOf<IPLException>([&] { file->readFrame(1, frame); }), "No such frame");
  velIPL::G16Image deep;
  EXPECT_EQ(messageOf<IPLException>([&] { file->readFrame(0, deep); }), "Not a 16-bit image");
  EXPECT_EQ(messageOf<IPLException>([&] { velIPL::bmpDecoder().open(text); }), "Not a bmp image");
}
