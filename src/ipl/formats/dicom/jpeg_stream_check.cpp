#include "ipl/formats/dicom/jpeg_stream_check.h"

#include <array>

namespace velIPL {

namespace {

constexpr unsigned SOI = 0xD8, EOI = 0xD9, SOS = 0xDA, DQT = 0xDB, DNL = 0xDC, DRI = 0xDD, DHT = 0xC4, COM = 0xFE;
constexpr unsigned SOF55 = 0xF7, LSE = 0xF8;  // JPEG-LS frame header and its parameters

bool isRestart(unsigned m) { return m >= 0xD0 && m <= 0xD7; }
bool isApplication(unsigned m) { return m >= 0xE0 && m <= 0xEF; }

class Check {
public:
  Check(const unsigned char* p, std::size_t n, const JpegFrameExpectation& frame) : p_(p), n_(n), frame_(frame) {}

  bool run(std::string& why) {
    if (n_ < 4 || p_[0] != 0xFF || p_[1] != SOI) return fail(why, "no JPEG start of image");
    std::size_t at = 2;
    for (;;) {
      if (at >= n_) return ended(why);
      if (p_[at] != 0xFF) return fail(why, "bytes where a JPEG marker belongs");
      while (at < n_ && p_[at] == 0xFF) ++at;  // fill bytes
      if (at >= n_) return ended(why);
      const unsigned marker = p_[at++];
      if (marker == EOI) return ended(why);
      if (isRestart(marker) || marker == 0x01) continue;
      if (at + 2 > n_) return fail(why, "JPEG marker segment cut short");
      const std::size_t length = (std::size_t{p_[at]} << 8) | p_[at + 1];
      if (length < 2 || at + length > n_) return fail(why, "JPEG marker segment cut short");
      const unsigned char* body = p_ + at + 2;
      const std::size_t size = length - 2;
      at += length;
      bool fine = true;
      if (isFrameHeader(marker)) {
        fine = frameHeader(marker, body, size, why);
      } else if (marker == SOS) {
        fine = scanHeader(body, size, why);
        at = afterEntropyData(at);
      } else if (frame_.jpegLs) {
        fine = marker == LSE || marker == DRI || marker == COM || isApplication(marker) ||
               fail(why, "marker not in JPEG-LS");
      } else if (marker == DHT) {
        fine = huffmanTables(body, size, why);
      } else if (marker == DQT) {
        fine = quantisationTables(body, size, why);
      } else if (marker == DRI) {
        fine = size == 2 || fail(why, "bad JPEG restart interval");
      } else if (!(marker == COM || marker == DNL || isApplication(marker))) {
        fine = fail(why, "JPEG marker the decoder does not know");
      }
      if (!fine) return false;
    }
  }

private:
  static bool fail(std::string& why, const char* what) {
    why = what;
    return false;
  }

  bool ended(std::string& why) const { return scans_ > 0 || fail(why, "JPEG stream without a scan"); }

  // Any process's frame header, so that one of the wrong process is
  // refused by name rather than as an unknown marker.
  static bool isFrameHeader(unsigned m) { return (m >= 0xC0 && m <= 0xCF && m != DHT && m != 0xC8 && m != 0xCC) || m == SOF55; }

  bool frameHeader(unsigned marker, const unsigned char* f, std::size_t size, std::string& why) {
    // Baseline, extended sequential and lossless are what DICOM's JPEG
    // syntaxes carry and GDCM's libjpeg decodes.
    const bool known = frame_.jpegLs ? marker == SOF55 : marker == 0xC0 || marker == 0xC1 || marker == 0xC3;
    if (!known) return fail(why, "frame header of another JPEG process");
    if (frameSeen_) return fail(why, "two JPEG frame headers");
    frameSeen_ = true;
    lossless_ = marker == 0xC3;
    if (size < 6) return fail(why, "JPEG frame header cut short");
    const int precision = f[0];
    const int rows = (f[1] << 8) | f[2];
    const int columns = (f[3] << 8) | f[4];
    components_ = f[5];
    if (rows != frame_.height || columns != frame_.width || components_ != frame_.components || precision < 2) {
      return fail(why, "JPEG frame header does not match the data set");
    }
    // GDCM sizes the decoded frame by the precision and asserts when the
    // data set's samples differ: 8 bits or less in bytes, more in 16 bits.
    if ((precision > 8) != (frame_.bits > 8)) return fail(why, "JPEG precision does not fit the bits allocated");
    if (size != 6 + 3 * static_cast<std::size_t>(components_)) return fail(why, "JPEG frame header of the wrong length");
    for (int c = 0; c < components_; ++c) {
      const unsigned char* component = f + 6 + 3 * c;
      ids_[c] = component[0];
      const int h = component[1] >> 4, v = component[1] & 15;
      if (h < 1 || h > 4 || v < 1 || v > 4) return fail(why, "bad JPEG sampling factors");
      quantiser_[c] = component[2];
      if (!frame_.jpegLs && quantiser_[c] > 3) return fail(why, "bad JPEG quantisation table number");
    }
    return true;
  }

  bool scanHeader(const unsigned char* s, std::size_t size, std::string& why) {
    if (!frameSeen_) return fail(why, "JPEG scan before the frame header");
    if (size < 1) return fail(why, "JPEG scan header cut short");
    const int count = s[0];
    if (count < 1 || count > 4 || count > components_) return fail(why, "bad JPEG scan component count");
    if (size != 1 + 2 * static_cast<std::size_t>(count) + 3) return fail(why, "JPEG scan header of the wrong length");
    for (int k = 0; k < count; ++k) {
      int c = 0;
      while (c < components_ && ids_[c] != s[1 + 2 * k]) ++c;
      if (c == components_) return fail(why, "JPEG scan names no component of the frame");
      if (frame_.jpegLs) continue;
      const int dc = s[2 + 2 * k] >> 4, ac = s[2 + 2 * k] & 15;
      if (dc > 3 || !huffman_[0][dc] || (!lossless_ && (ac > 3 || !huffman_[1][ac]))) {
        return fail(why, "JPEG scan uses a Huffman table not defined");
      }
      if (!lossless_ && !quantisation_[quantiser_[c]]) return fail(why, "JPEG scan uses a quantisation table not defined");
    }
    ++scans_;
    return true;
  }

  bool huffmanTables(const unsigned char* t, std::size_t size, std::string& why) {
    std::size_t at = 0;
    while (at < size) {
      if (at + 17 > size) return fail(why, "JPEG Huffman table cut short");
      const int kind = t[at] >> 4, index = t[at] & 15;
      if (kind > 1 || index > 3) return fail(why, "bad JPEG Huffman table number");
      std::size_t symbols = 0;
      for (int i = 1; i <= 16; ++i) symbols += t[at + i];
      if (symbols > 256 || at + 17 + symbols > size) return fail(why, "bad JPEG Huffman table");
      huffman_[kind][index] = true;
      at += 17 + symbols;
    }
    return true;
  }

  bool quantisationTables(const unsigned char* t, std::size_t size, std::string& why) {
    std::size_t at = 0;
    while (at < size) {
      const int precision = t[at] >> 4, index = t[at] & 15;
      if (precision > 1 || index > 3) return fail(why, "bad JPEG quantisation table number");
      const std::size_t bytes = 1 + 64 * (precision + 1);
      if (at + bytes > size) return fail(why, "JPEG quantisation table cut short");
      quantisation_[index] = true;
      at += bytes;
    }
    return true;
  }

  // Where the marker after a scan's entropy-coded data starts: the first
  // 0xFF followed by anything but a stuffed zero or a restart marker.
  std::size_t afterEntropyData(std::size_t at) const {
    while (at + 1 < n_) {
      if (p_[at] == 0xFF && p_[at + 1] != 0x00 && !isRestart(p_[at + 1]) &&
          !(frame_.jpegLs && p_[at + 1] < 0x80)) {  // JPEG-LS stuffs a zero bit, not a byte
        return at;
      }
      ++at;
    }
    return n_;
  }

  const unsigned char* p_;
  std::size_t n_;
  JpegFrameExpectation frame_;
  bool frameSeen_ = false;
  bool lossless_ = false;
  int components_ = 0;
  std::array<int, 256> ids_{};
  std::array<int, 256> quantiser_{};
  bool huffman_[2][4] = {};
  bool quantisation_[4] = {};
  int scans_ = 0;
};

}  // namespace

bool jpegStreamFits(const unsigned char* p, std::size_t n, const JpegFrameExpectation& frame, std::string& why) {
  return Check(p, n, frame).run(why);
}

}  // namespace velIPL
