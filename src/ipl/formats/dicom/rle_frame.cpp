#include "ipl/formats/dicom/rle_frame.h"

#include <cstdint>

namespace velIPL {

namespace {

std::uint32_t le32(const unsigned char* p) {
  return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}

// PackBits from [from, to) into every stride-th byte of out, count bytes in
// all; false when the segment runs out first.
bool unpack(const unsigned char* from, const unsigned char* to, unsigned char* out, std::size_t count, std::size_t stride) {
  std::size_t done = 0;
  while (done < count && from < to) {
    const int n = static_cast<signed char>(*from++);
    if (n >= 0) {
      std::size_t literal = static_cast<std::size_t>(n) + 1;
      if (static_cast<std::size_t>(to - from) < literal) return false;
      for (; literal > 0 && done < count; --literal) out[stride * done++] = *from++;
      from += literal;
    } else if (n != -128) {
      if (from == to) return false;
      const unsigned char value = *from++;
      for (int run = 1 - n; run > 0 && done < count; --run) out[stride * done++] = value;
    }
  }
  return done == count;
}

// PackBits of every stride-th byte of in, count bytes, appended to out:
// runs of two or more equal bytes replicated, the rest as literals.
void pack(const unsigned char* in, std::size_t count, std::size_t stride, std::vector<unsigned char>& out) {
  std::size_t i = 0;
  while (i < count) {
    std::size_t run = 1;
    while (i + run < count && run < 128 && in[stride * (i + run)] == in[stride * i]) ++run;
    if (run >= 2) {
      out.push_back(static_cast<unsigned char>(257 - run));
      out.push_back(in[stride * i]);
      i += run;
      continue;
    }
    std::size_t literal = 1;
    while (i + literal < count && literal < 128 &&
           !(i + literal + 1 < count && in[stride * (i + literal)] == in[stride * (i + literal + 1)])) {
      ++literal;
    }
    out.push_back(static_cast<unsigned char>(literal - 1));
    for (std::size_t k = 0; k < literal; ++k) out.push_back(in[stride * (i + k)]);
    i += literal;
  }
}

void putLe32(unsigned char* p, std::size_t value) {
  for (int b = 0; b < 4; ++b) p[b] = static_cast<unsigned char>(value >> (8 * b));
}

}  // namespace

std::vector<unsigned char> RleFrame::encode(const unsigned char* samples) const {
  const std::size_t segments = static_cast<std::size_t>(components) * bytesPerSample;
  const std::size_t plane = static_cast<std::size_t>(width) * height;
  std::vector<unsigned char> out(64, 0);
  putLe32(out.data(), segments);
  for (std::size_t s = 0; s < segments; ++s) {
    putLe32(out.data() + 4 + 4 * s, out.size());
    const std::size_t component = s / bytesPerSample;
    const std::size_t significance = s % bytesPerSample;
    pack(samples + component * plane * bytesPerSample + (bytesPerSample - 1 - significance), plane,
         static_cast<std::size_t>(bytesPerSample), out);
    if (out.size() % 2) out.push_back(0x80);  // segments start on even offsets; 0x80 decodes to nothing
  }
  return out;
}

bool RleFrame::decode(const unsigned char* data, std::size_t size, unsigned char* out, std::string& why) const {
  const std::size_t segments = static_cast<std::size_t>(components) * bytesPerSample;
  if (size < 64) {
    why = "RLE header ends early";
    return false;
  }
  if (le32(data) != segments) {
    why = "RLE header holds " + std::to_string(le32(data)) + " segments, not " + std::to_string(segments);
    return false;
  }
  const std::size_t plane = static_cast<std::size_t>(width) * height;
  for (std::size_t s = 0; s < segments; ++s) {
    const std::uint32_t start = le32(data + 4 + 4 * s);
    const std::uint32_t end = s + 1 < segments ? le32(data + 8 + 4 * s) : static_cast<std::uint32_t>(size);
    if (start < 64 || start > end || end > size) {
      why = "RLE segment " + std::to_string(s + 1) + " lies outside the fragment";
      return false;
    }
    const std::size_t component = s / bytesPerSample;
    const std::size_t significance = s % bytesPerSample;  // 0: most significant byte
    unsigned char* first = out + component * plane * bytesPerSample + (bytesPerSample - 1 - significance);
    if (!unpack(data + start, data + end, first, plane, static_cast<std::size_t>(bytesPerSample))) {
      why = "RLE segment " + std::to_string(s + 1) + " ends early";
      return false;
    }
  }
  return true;
}

}  // namespace velIPL
