// Small helpers the core tests share.
#pragma once

#include <string>

namespace testutil {

// The message of the E that f throws, or "<nothing thrown>".
template <typename E, typename F>
std::string messageOf(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "<nothing thrown>";
}

}  // namespace testutil
