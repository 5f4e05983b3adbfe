#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "hnsw/hnsw.h"

namespace quarn::detail {

// Internal faults that input cannot cause: report and abort.
[[noreturn]] inline void fatal(const char* message) {
  std::fprintf(stderr, "%s\n", message);
  std::abort();
}

// Per-thread visited marks, reused across calls: a slot counts as visited when its stamp equals
// the current epoch, so starting a new search is O(1) instead of clearing n bytes.
class VisitedSet {
 public:
  // Starts a search over `n` slots and returns this thread's set.
  static VisitedSet& begin(std::size_t n) {
    thread_local VisitedSet set;
    set.reset(n);
    return set;
  }

  // Marks the slot; returns false when it was already marked in this search.
  bool mark(Slot s) {
    if (stamps_[s] == epoch_) return false;
    stamps_[s] = epoch_;
    return true;
  }

 private:
  void reset(std::size_t n) {
    if (stamps_.size() < n) stamps_.resize(n, 0);
    if (++epoch_ == 0) {
      std::fill(stamps_.begin(), stamps_.end(), 0);
      epoch_ = 1;
    }
  }

  std::vector<std::uint16_t> stamps_;
  std::uint16_t epoch_ = 0;
};

// Heap orders for std::push_heap/pop_heap: MinHeapOrder keeps the nearest pair on top (the
// candidates), MaxHeapOrder the farthest (the results). Both also sort ascending/descending.
struct MinHeapOrder {
  bool operator()(const Candidate& a, const Candidate& b) const { return a.distance > b.distance; }
};
struct MaxHeapOrder {
  bool operator()(const Candidate& a, const Candidate& b) const { return a.distance < b.distance; }
};

}  // namespace quarn::detail
