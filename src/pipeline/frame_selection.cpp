#include "pipeline/frame_selection.h"

#include <cctype>
#include <stdexcept>

namespace lumifold {

namespace {

// Reads the digits at text[pos...] as a frame number; throws for none or
// for a number too large for any list.
long long readNumber(const std::string& text, std::size_t& pos, const std::string& list) {
  const std::size_t start = pos;
  long long value = 0;
  while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
    value = value * 10 + (text[pos] - '0');
    if (value > 1'000'000'000) throw std::invalid_argument("--frames " + list + ": number too large");
    ++pos;
  }
  if (pos == start) throw std::invalid_argument("--frames " + list + ": expected a frame number or a range like 5-9");
  return value;
}

}  // namespace

std::vector<int> selectFrames(const std::string& list, int frameCount) {
  std::vector<bool> chosen(static_cast<std::size_t>(frameCount > 0 ? frameCount : 0), false);
  std::size_t pos = 0;
  for (;;) {
    const long long first = readNumber(list, pos, list);
    long long last = first;
    if (pos < list.size() && list[pos] == '-') {
      ++pos;
      last = readNumber(list, pos, list);
      if (last < first) {
        throw std::invalid_argument("--frames " + list + ": range " + std::to_string(first) + "-" +
                                    std::to_string(last) + " runs backwards");
      }
    }
    if (last >= frameCount) {
      throw std::invalid_argument("--frames " + list + ": frame " + std::to_string(last) +
                                  " is beyond the last frame of the inputs (" + std::to_string(frameCount) +
                                  (frameCount == 1 ? " frame, numbered from 0)" : " frames, numbered from 0)"));
    }
    for (long long i = first; i <= last; ++i) {
      // A frame twice would be merged once: say so rather than guess.
      if (chosen[static_cast<std::size_t>(i)]) {
        throw std::invalid_argument("--frames " + list + ": frame " + std::to_string(i) + " is listed twice");
      }
      chosen[static_cast<std::size_t>(i)] = true;
    }
    if (pos == list.size()) break;
    if (list[pos] != ',') throw std::invalid_argument("--frames " + list + ": expected a frame number or a range like 5-9");
    ++pos;
  }
  std::vector<int> frames;
  for (int i = 0; i < frameCount; ++i) {
    if (chosen[static_cast<std::size_t>(i)]) frames.push_back(i);
  }
  return frames;
}

}  // namespace lumifold
