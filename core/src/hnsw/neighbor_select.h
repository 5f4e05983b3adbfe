#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "hnsw/hnsw.h"

namespace quarn::detail {

// Diversity rule for choosing a node's neighbours. `candidates` are ascending by distance to the
// base node (the node being linked, or the owner of a list being shrunk). Walking them nearest
// first, a candidate is kept unless a neighbour already kept is strictly nearer to it than the
// base is: such a candidate is reachable through that neighbour, and keeping it instead of a link
// in another direction is what splits clustered data into islands. At most `limit` are kept.
// `pair_distance(a, b)` is the metric between two stored slots.
template <class PairDistance>
void select_diverse(const std::vector<Candidate>& candidates, std::size_t limit, PairDistance&& pair_distance,
                    std::vector<Slot>& kept) {
  kept.clear();
  if (limit == 0) return;
  for (const Candidate& c : candidates) {
    if (kept.size() >= limit) break;
    bool diverse = true;
    for (Slot r : kept) {
      if (pair_distance(c.slot, r) < c.distance) {
        diverse = false;
        break;
      }
    }
    if (diverse) kept.push_back(c.slot);
  }
}

// Ascending by distance; equal distances keep their input order.
inline void sort_by_distance(std::vector<Candidate>& candidates) {
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const Candidate& a, const Candidate& b) { return a.distance < b.distance; });
}

}  // namespace quarn::detail
