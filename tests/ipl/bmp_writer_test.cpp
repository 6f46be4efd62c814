#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ipl/bmp_file_builder.h"
#include "ipl/bmp_writer.h"
#include "test_util.h"

using velIPL::BmpWriter;
using velIPL::GImage;
using velIPL::IPLException;
using velIPL::RGBImage;

namespace {

std::string bytesOf(const RGBImage& image) {
  std::ostringstream out;
  BmpWriter().writeImage(out, image);
  return out.str();
}

std::uint32_t le32(const std::string& s, std::size_t at) {
  return static_cast<std::uint8_t>(s[at]) | static_cast<std::uint8_t>(s[at + 1]) << 8 |
         static_cast<std::uint8_t>(s[at + 2]) << 16 | static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at + 3])) << 24;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

RGBImage randomImage(int width, int height, std::mt19937& random) {
  RGBImage image(width, height, 0);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) image.at(x, y, c) = static_cast<unsigned char>(random() & 0xFF);
    }
  }
  return image;
}

// A scratch folder that is removed with its content.
class ScratchDir {
public:
  ScratchDir() : path_(::testing::TempDir() + "bmp_writer_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++)) {
    ::mkdir(path_.c_str(), 0755);
  }
  ~ScratchDir() {
    for (const std::string& name : entries()) ::unlink((path_ + "/" + name).c_str());
    ::rmdir(path_.c_str());
  }
  const std::string& path() const { return path_; }
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(path_.c_str())) {
      while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
      }
      ::closedir(d);
    }
    return names;
  }

private:
  static inline int counter_ = 0;
  std::string path_;
};

}  // namespace

TEST(BmpWriter, OneByOneFileBytes) {
  RGBImage image(1, 1, 0);
  image.at(0, 0, 0) = 10;
  image.at(0, 0, 1) = 20;
  image.at(0, 0, 2) = 30;
  const std::string b = bytesOf(image);
  const std::string expected = std::string("BM") + std::string("\x3A\0\0\0" "\0\0\0\0" "\x36\0\0\0", 12) +
                               std::string("\x28\0\0\0" "\x01\0\0\0" "\x01\0\0\0" "\x01\0" "\x18\0" "\0\0\0\0"
                                           "\x04\0\0\0" "\0\0\0\0" "\0\0\0\0" "\0\0\0\0" "\0\0\0\0", 40) +
                               std::string("\x1E\x14\x0A\0", 4);
  EXPECT_EQ(b, expected);
}

TEST(BmpWriter, RowsArePaddedAndStoredBottomUp) {
  RGBImage three(3, 2, 0);
  three.at(0, 0, 0) = 1;  // top-left red: in the last stored row
  three.at(0, 1, 2) = 2;  // bottom-left blue: first byte of the first row
  const std::string b = bytesOf(three);
  ASSERT_EQ(b.size(), 78u);
  EXPECT_EQ(le32(b, 2), 78u);
  EXPECT_EQ(le32(b, 10), 54u);
  EXPECT_EQ(le32(b, 18), 3u);
  EXPECT_EQ(le32(b, 22), 2u);
  EXPECT_EQ(le32(b, 34), 24u);
  EXPECT_EQ(b[54], 2);
  EXPECT_EQ(b[54 + 12 + 2], 1);
  EXPECT_EQ(b.substr(54 + 9, 3), std::string(3, '\0'));  // pad of the first row

  const std::string four = bytesOf(RGBImage(4, 2, 9));
  ASSERT_EQ(four.size(), 54u + 24u);
  EXPECT_EQ(le32(four, 34), 24u);
  EXPECT_EQ(four.substr(54), std::string(24, '\x09'));  // no pad at all
}

TEST(BmpWriter, WrittenFilesReadBackThroughTheReader) {
  std::mt19937 random(12345);
  for (int width : {1, 2, 3, 4, 5, 7, 64, 101}) {
    for (int height : {1, 2, 9}) {
      const RGBImage image = randomImage(width, height, random);
      const std::string b = bytesOf(image);
      // The writer's bytes hold the channels in blue, green, red order.
      const std::size_t rowLength = (3 * width + 3) / 4 * 4;
      EXPECT_EQ(static_cast<unsigned char>(b[54 + (height - 1) * rowLength]), image.at(0, 0, 2));
      EXPECT_EQ(static_cast<unsigned char>(b[54 + (height - 1) * rowLength + 2]), image.at(0, 0, 0));
      const GImage grey = bmptest::decode(b);
      ASSERT_EQ(grey.width(), width);
      ASSERT_EQ(grey.height(), height);
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          const int expected = (77 * image.at(x, y, 0) + 151 * image.at(x, y, 1) + 28 * image.at(x, y, 2)) >> 8;
          ASSERT_EQ(grey.at(x, y), expected) << width << "x" << height << " at " << x << "," << y;
        }
      }
    }
  }
}

TEST(BmpWriter, EmptyImageWritesNothing) {
  std::ostringstream out;
  EXPECT_EQ(testutil::messageOf<IPLException>([&] { BmpWriter().writeImage(out, RGBImage(0, 3, 0)); }), "Empty image");
  EXPECT_EQ(testutil::messageOf<IPLException>([&] { BmpWriter().writeImage(out, RGBImage(3, 0, 0)); }), "Empty image");
  EXPECT_TRUE(out.str().empty());

  // An existing file survives an attempt to save an empty image over it.
  ScratchDir dir;
  const std::string path = dir.path() + "/keep.bmp";
  std::ofstream(path, std::ios::binary) << "precious";
  EXPECT_EQ(testutil::messageOf<IPLException>([&] { RGBImage().save(path); }), "Empty image");
  EXPECT_EQ(slurp(path), "precious");
  EXPECT_EQ(dir.entries().size(), 1u);
}

TEST(BmpWriter, FailedStreamIsReported) {
  std::ostringstream out;
  out.setstate(std::ios::badbit);
  EXPECT_EQ(testutil::messageOf<IPLException>([&] { BmpWriter().writeImage(out, RGBImage(2, 2, 1)); }),
            "Cannot write image");
}

TEST(BmpWriter, SaveReplacesFileSafely) {
  ScratchDir dir;
  const std::string path = dir.path() + "/out.bmp";
  const RGBImage image(3, 2, 200);
  image.save(path);
  EXPECT_EQ(slurp(path), bytesOf(image));

  // Replacing keeps the permission bits, and a link stays a link.
  ::chmod(path.c_str(), 0640);
  const std::string link = dir.path() + "/link.bmp";
  ASSERT_EQ(::symlink("out.bmp", link.c_str()), 0);
  const RGBImage other(5, 1, 7);
  other.save(link);
  EXPECT_EQ(slurp(path), bytesOf(other));
  struct stat info;
  ASSERT_EQ(::lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  EXPECT_EQ(dir.entries().size(), 2u);  // no temporary file left

  // A name near the 255-byte limit still leaves room for the temporary file.
  const std::string longName = dir.path() + "/" + std::string(250, 'n') + ".bmp";
  image.save(longName);
  EXPECT_EQ(slurp(longName), bytesOf(image));
  ::unlink(longName.c_str());

  EXPECT_EQ(testutil::messageOf<IPLException>([&] { image.save(dir.path() + "/missing/out.bmp"); }),
            "Cannot open image file " + dir.path() + "/missing/out.bmp");
  EXPECT_EQ(testutil::messageOf<IPLException>([&] { image.save(dir.path()); }), "Cannot open image file " + dir.path());
}

TEST(BmpWriter, FullDiskIsReportedInPlace) {
  struct stat info;
  if (::stat("/dev/full", &info) != 0) GTEST_SKIP() << "/dev/full is not available";
  EXPECT_EQ(testutil::messageOf<IPLException>([] { RGBImage(64, 64, 1).save("/dev/full"); }),
            "Cannot write image file /dev/full");
  // The device is still there: written in place, never renamed over.
  ASSERT_EQ(::stat("/dev/full", &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));
}

TEST(BmpWriter, FailedWriteLeavesExistingFileAndNoTemporary) {
  ScratchDir dir;
  const std::string path = dir.path() + "/out.bmp";
  std::ofstream(path, std::ios::binary) << "precious";

  // A file size limit makes writes fail with EFBIG, as a full disk would.
  struct rlimit old;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  struct rlimit small = old;
  small.rlim_cur = 1000;
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string message = testutil::messageOf<IPLException>([&] { RGBImage(100, 100, 3).save(path); });
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_EQ(message, "Cannot write image file " + path);
  EXPECT_EQ(slurp(path), "precious");
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.bmp"});
}
