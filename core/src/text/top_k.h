#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quarn {

struct KeywordHit {
  std::uint32_t slot;
  double score;
  bool operator==(const KeywordHit&) const = default;
};

// Higher score first; equal scores by ascending slot.
inline bool ranks_before(const KeywordHit& a, const KeywordHit& b) {
  return a.score > b.score || (a.score == b.score && a.slot < b.slot);
}

// The k best hits seen so far, the worst of them on top of a heap.
class TopK {
 public:
  explicit TopK(std::size_t k) : k_(k) { heap_.reserve(k); }

  bool full() const { return heap_.size() >= k_; }
  // The score a new hit must beat (with a larger slot than every hit so far, a tie loses);
  // negative while not full, as every BM25 score is positive.
  double threshold() const { return full() && k_ > 0 ? heap_.front().score : -1.0; }

  void push(const KeywordHit& hit) {
    if (k_ == 0) return;
    if (!full()) {
      heap_.push_back(hit);
      std::push_heap(heap_.begin(), heap_.end(), ranks_before);
    } else if (ranks_before(hit, heap_.front())) {
      std::pop_heap(heap_.begin(), heap_.end(), ranks_before);
      heap_.back() = hit;
      std::push_heap(heap_.begin(), heap_.end(), ranks_before);
    }
  }

  // Best first.
  std::vector<KeywordHit> take() && {
    std::sort(heap_.begin(), heap_.end(), ranks_before);
    return std::move(heap_);
  }

 private:
  std::size_t k_;
  std::vector<KeywordHit> heap_;
};

}  // namespace quarn
