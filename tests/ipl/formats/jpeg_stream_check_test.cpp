#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ipl/formats/dicom/jpeg_stream_check.h"

using velIPL::JpegFrameExpectation;
using velIPL::jpegStreamFits;

namespace {

using Bytes = std::vector<unsigned char>;

Bytes segment(unsigned marker, const Bytes& body) {
  Bytes s{0xFF, static_cast<unsigned char>(marker), static_cast<unsigned char>((body.size() + 2) >> 8),
          static_cast<unsigned char>(body.size() + 2)};
  s.insert(s.end(), body.begin(), body.end());
  return s;
}

Bytes huffman(unsigned char kindAndIndex) {
  Bytes t{kindAndIndex, 1};
  t.resize(17, 0);
  t.push_back(0);
  return t;
}

struct Parts {
  Bytes quantisation = segment(0xDB, [] {
    Bytes t{0x00};
    t.resize(65, 1);
    return t;
  }());
  unsigned frameMarker = 0xC0;
  Bytes frame{8, 0, 23, 0, 37, 1, 1, 0x11, 0};  // precision, rows, columns, one component
  Bytes tables = [] {
    Bytes t = segment(0xC4, huffman(0x00));
    const Bytes ac = segment(0xC4, huffman(0x10));
    t.insert(t.end(), ac.begin(), ac.end());
    return t;
  }();
  Bytes scan{1, 1, 0x00, 0, 63, 0};
  Bytes data{0x12, 0xFF, 0x00, 0x34, 0xFF, 0xD0, 0x56};
  Bytes extra;  // between the tables and the scan

  Bytes stream() const {
    Bytes s{0xFF, 0xD8};
    for (const Bytes& part : {quantisation, segment(frameMarker, frame), tables, extra, segment(0xDA, scan), data}) {
      s.insert(s.end(), part.begin(), part.end());
    }
    s.insert(s.end(), {0xFF, 0xD9});
    return s;
  }
};

std::string verdict(const Bytes& stream, bool jpegLs = false) {
  std::string why;
  return jpegStreamFits(stream.data(), stream.size(), JpegFrameExpectation{37, 23, 1, 8, jpegLs}, why) ? "fits" : why;
}

}  // namespace

TEST(JpegStreamCheck, RefusesWhatLibjpegWouldFailOnAndForgedFrames) {
  EXPECT_EQ(verdict(Parts{}.stream()), "fits");
  const struct {
    const char* name;
    void (*change)(Parts&);
    const char* why;
  } cases[] = {
      {"JPEG-LS frame header", [](Parts& p) { p.frameMarker = 0xF7; }, "frame header of another JPEG process"},
      {"progressive", [](Parts& p) { p.frameMarker = 0xC2; }, "frame header of another JPEG process"},
      {"other width", [](Parts& p) { p.frame[4] = 38; }, "JPEG frame header does not match the data set"},
      {"deeper than allocated", [](Parts& p) { p.frame[0] = 12; }, "JPEG precision does not fit the bits allocated"},
      {"sampling 0", [](Parts& p) { p.frame[7] = 0x01; }, "bad JPEG sampling factors"},
      {"unknown marker", [](Parts& p) { p.extra = segment(0xF0, {1, 2}); }, "JPEG marker the decoder does not know"},
      {"second frame header", [](Parts& p) { p.extra = segment(0xC1, p.frame); }, "two JPEG frame headers"},
      {"Huffman index 5", [](Parts& p) { p.tables = segment(0xC4, huffman(0x05)); }, "bad JPEG Huffman table number"},
      {"AC table missing", [](Parts& p) { p.scan[2] = 0x01; }, "JPEG scan uses a Huffman table not defined"},
      {"quantiser missing", [](Parts& p) { p.quantisation.clear(); }, "JPEG scan uses a quantisation table not defined"},
      {"scan of another component", [](Parts& p) { p.scan[1] = 9; }, "JPEG scan names no component of the frame"},
      {"table cut short", [](Parts& p) { p.tables.resize(p.tables.size() - 3); }, "bad JPEG Huffman table"},
  };
  for (const auto& c : cases) {
    Parts parts;
    c.change(parts);
    EXPECT_EQ(verdict(parts.stream()), c.why) << c.name;
  }
  // JPEG-LS takes its own frame header and no JPEG tables.
  Parts ls;
  ls.frameMarker = 0xF7;
  ls.quantisation.clear();
  ls.tables.clear();
  ls.data = {0x12, 0xFF, 0x7F, 0x34};  // a zero bit stuffed after 0xFF, not a marker
  EXPECT_EQ(verdict(ls.stream(), true), "fits");
  ls.tables = segment(0xC4, huffman(0x00));
  EXPECT_EQ(verdict(ls.stream(), true), "marker not in JPEG-LS");
  ls.tables.clear();
  ls.frameMarker = 0xC3;
  EXPECT_EQ(verdict(ls.stream(), true), "frame header of another JPEG process");
  EXPECT_EQ(verdict({0xFF, 0xD8, 0xFF, 0xD9}), "JPEG stream without a scan");
}
