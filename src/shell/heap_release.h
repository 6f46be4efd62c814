// Handing freed heap memory back to the system between merges.
#pragma once

#include <malloc.h>

namespace lumifold {

// glibc keeps the freed frame buffers of a finished merge in its heap (its
// threshold for giving large blocks back rises as they are freed), so a
// long batch or volume would grow by megabytes a series; this hands them
// back. Under AddressSanitizer, whose own allocator serves every block,
// glibc's heap is never set up and several threads trimming it at once
// race on that set-up: there is nothing to hand back, so nothing is done.
inline void releaseFreedMemory() {
#if !defined(__SANITIZE_ADDRESS__)
  ::malloc_trim(0);
#endif
}

}  // namespace lumifold
