#include "shell/utf8_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Utf8Text, KeepsWellFormedTextAndReplacesEveryStrayByte) {
  const std::string r = "\xEF\xBF\xBD";  // U+FFFD
  const struct {
    std::string in, out;
  } cases[] = {
      {"scans/eye 1/frame_000.tif", "scans/eye 1/frame_000.tif"},
      {"\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x91\x81", "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x91\x81"},
      {"a\xFF" "b", "a" + r + "b"},                          // never a UTF-8 byte
      {"caf\xE9.bmp", "caf" + r + ".bmp"},                   // Latin-1
      {"\x80\xBF", r + r},                                   // stray continuations
      {"\xC3", r},                                           // cut at the end
      {"\xE2\x82", r + r},                                   // cut sequence
      {"\xC0\xAF", r + r},                                   // overlong
      {"\xED\xA0\x80", r + r + r},                           // a surrogate
      {"\xF4\x90\x80\x80", r + r + r + r},                   // past U+10FFFF
      {std::string("a\0b", 3), std::string("a\0b", 3)},      // NUL is text
  };
  for (const auto& c : cases) EXPECT_EQ(lumifold::validUtf8(c.in), c.out) << c.in;
}

}  // namespace
