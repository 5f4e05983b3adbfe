#pragma once

#include <cstddef>
#include <new>
#include <vector>

namespace quarn {

// Allocates on 64-byte boundaries, so that an array of rows whose length is a multiple of 64 bytes
// puts every row on whole cache lines. A plain large allocation starts 16 bytes into a page, which
// makes every 512-byte row touch 9 lines instead of 8.
template <typename T>
struct CacheAlignedAllocator {
  using value_type = T;
  static constexpr std::align_val_t kAlignment{64};

  CacheAlignedAllocator() noexcept = default;
  template <typename U>
  CacheAlignedAllocator(const CacheAlignedAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) { return static_cast<T*>(::operator new(n * sizeof(T), kAlignment)); }
  void deallocate(T* p, std::size_t) noexcept { ::operator delete(p, kAlignment); }

  template <typename U>
  bool operator==(const CacheAlignedAllocator<U>&) const noexcept {
    return true;
  }
};

using CacheAlignedFloats = std::vector<float, CacheAlignedAllocator<float>>;

}  // namespace quarn
