// Counts the bytes held on the heap by the whole benchmark program (global
// operator new and delete are replaced), to measure the peak memory of a
// merge without the noise of resident pages.
#pragma once

#include <cstdint>

namespace lumifold::bench {

// Bytes currently allocated through operator new.
std::int64_t heapInUse();
// The most held at once since the last resetHeapPeak().
std::int64_t heapPeak();
void resetHeapPeak();

}  // namespace lumifold::bench
