// Text for files that must be valid UTF-8 (JSON reports, CSV tables) when
// what they quote, a path above all, may hold any bytes: Linux file names
// are bytes, not text.
#pragma once

#include <string>
#include <string_view>

namespace lumifold {

// text with every byte that is not part of a well-formed UTF-8 sequence
// (a stray continuation byte, a cut or overlong sequence, a surrogate, a
// code point past U+10FFFF) replaced by U+FFFD, the replacement character;
// well-formed text comes back unchanged. Throws nothing but
// std::bad_alloc.
std::string validUtf8(std::string_view text);

}  // namespace lumifold
