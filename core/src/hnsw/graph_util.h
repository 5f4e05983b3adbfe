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
  // Starts a search over `n` slots and returns this thread's set. Out of line, so that a walk
  // holds a plain reference instead of repeating the thread-local lookup inside its loop.
  static VisitedSet& begin(std::size_t n);

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

// This thread's storage for a walk's frontier (walks run back to back, never nested); out of
// line for the same reason as VisitedSet::begin.
std::vector<Candidate>& thread_frontier();

// Heap orders for std::push_heap/pop_heap: MinHeapOrder keeps the nearest pair on top (the
// candidates), MaxHeapOrder the farthest (the results). Both also sort ascending/descending.
struct MinHeapOrder {
  bool operator()(const Candidate& a, const Candidate& b) const { return a.distance > b.distance; }
};
struct MaxHeapOrder {
  bool operator()(const Candidate& a, const Candidate& b) const { return a.distance < b.distance; }
};

}  // namespace quarn::detail
