#pragma once

#include <cstddef>
#include <vector>

#include "util/huge_pages.h"

namespace quarn {

// Makes room for `needed` elements, growing the capacity by at least half when it must grow, so
// that appending in many small batches costs amortised O(1) copies per element instead of copying
// the whole array at every batch. Large arrays are offered huge pages when they move.
template <typename T, typename Allocator>
void reserve_geometric(std::vector<T, Allocator>& v, std::size_t needed) {
  if (needed <= v.capacity()) return;
  const std::size_t grown = v.capacity() + v.capacity() / 2;
  v.reserve(needed > grown ? needed : grown);
  advise_huge_pages(v.data(), v.capacity() * sizeof(T));
}

}  // namespace quarn
