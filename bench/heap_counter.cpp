#include "heap_counter.h"

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>

namespace lumifold::bench {

namespace {

std::atomic<std::int64_t> inUse{0};
std::atomic<std::int64_t> peak{0};

void* counted(void* p) {
  if (!p) throw std::bad_alloc();
  const auto size = static_cast<std::int64_t>(malloc_usable_size(p));
  const std::int64_t now = inUse.fetch_add(size, std::memory_order_relaxed) + size;
  std::int64_t seen = peak.load(std::memory_order_relaxed);
  while (now > seen && !peak.compare_exchange_weak(seen, now, std::memory_order_relaxed)) {
  }
  return p;
}

void release(void* p) {
  if (!p) return;
  inUse.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(p)), std::memory_order_relaxed);
  std::free(p);
}

void* alignedCounted(std::size_t size, std::align_val_t align) {
  void* p = nullptr;
  const std::size_t a = std::max(static_cast<std::size_t>(align), sizeof(void*));
  if (posix_memalign(&p, a, size == 0 ? 1 : size) != 0) p = nullptr;
  return counted(p);
}

}  // namespace

std::int64_t heapInUse() { return inUse.load(); }
std::int64_t heapPeak() { return peak.load(); }
void resetHeapPeak() { peak.store(inUse.load()); }

}  // namespace lumifold::bench

using lumifold::bench::alignedCounted;
using lumifold::bench::counted;
using lumifold::bench::release;

void* operator new(std::size_t size) { return counted(std::malloc(size == 0 ? 1 : size)); }
void* operator new[](std::size_t size) { return counted(std::malloc(size == 0 ? 1 : size)); }
void* operator new(std::size_t size, std::align_val_t align) { return alignedCounted(size, align); }
void* operator new[](std::size_t size, std::align_val_t align) { return alignedCounted(size, align); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return counted(std::malloc(size == 0 ? 1 : size));
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { release(p); }
