#pragma once

#include <cstddef>
#include <cstdint>

namespace quarn {

// Hints every cache line that [data, data + bytes) touches, for reading. Locality 3 fills every
// cache level; 1 fills the outer levels only, which holds none of the first level's few slots for
// outstanding misses. The empty asm keeps the loop: compilers otherwise delete a finite loop whose
// only statements are prefetches, as if it did nothing.
template <int Locality>
inline void prefetch_range(const void* data, std::size_t bytes) {
  if (bytes == 0) return;
  const auto start = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t last = start + bytes - 1;
  for (std::uintptr_t line = start & ~std::uintptr_t{63}; line <= last; line += 64) {
    __builtin_prefetch(reinterpret_cast<const void*>(line), 0, Locality);
    __asm__ volatile("" : : "r"(line));
  }
}

}  // namespace quarn
