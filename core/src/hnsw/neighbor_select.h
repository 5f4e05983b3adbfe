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
// A distance that also offers two(a, b0, b1, out): a's distances to b0 and b1, side by side.
template <class PairDistance>
concept ScoresTwo = requires(PairDistance& f, Slot s, float* out) { f.two(s, s, s, out); };

template <class PairDistance>
bool diverse_from(const Candidate& c, const std::vector<Slot>& kept, PairDistance&& pair_distance) {
  if constexpr (ScoresTwo<PairDistance>) {
    // Two kept neighbours per step; the answer is the same as testing them one by one.
    std::size_t i = 0;
    for (; i + 1 < kept.size(); i += 2) {
      float d[2];
      pair_distance.two(c.slot, kept[i], kept[i + 1], d);
      if (d[0] < c.distance || d[1] < c.distance) return false;
    }
    return i == kept.size() || !(pair_distance(c.slot, kept[i]) < c.distance);
  } else {
    return std::none_of(kept.begin(), kept.end(), [&](Slot r) { return pair_distance(c.slot, r) < c.distance; });
  }
}

template <class PairDistance>
void select_diverse(const std::vector<Candidate>& candidates, std::size_t limit, PairDistance&& pair_distance,
                    std::vector<Slot>& kept) {
  kept.clear();
  if (limit == 0) return;
  for (const Candidate& c : candidates) {
    if (kept.size() >= limit) break;
    if (diverse_from(c, kept, pair_distance)) kept.push_back(c.slot);
  }
}

// select_diverse over `list_then_new` (a list followed by one new candidate, each with its
// distance to the list's owner) when the list is known to be the output of an earlier
// select_diverse for the same owner, minus possibly some entries: ascending, every entry kept
// against the entries before it. Such entries are kept again without testing pairs among them;
// only pairs with the new candidate are tested. Gives exactly what sorting the pool and calling
// select_diverse gives. Returns false, leaving `kept` unspecified, when the list's distances are
// not ascending (the list is not such an output); the caller then takes the full route.
template <class PairDistance>
bool select_diverse_adding(const std::vector<Candidate>& list_then_new, std::size_t limit,
                           PairDistance&& pair_distance, std::vector<Slot>& kept) {
  kept.clear();
  if (list_then_new.empty()) return true;
  const std::size_t listed = list_then_new.size() - 1;
  const Candidate added = list_then_new.back();
  for (std::size_t i = 1; i < listed; ++i) {
    if (!(list_then_new[i - 1].distance <= list_then_new[i].distance)) return false;
  }
  if (limit == 0) return true;
  // A stable sort places the new candidate after every entry at most as far.
  std::size_t at = 0;
  while (at < listed && list_then_new[at].distance <= added.distance) ++at;
  for (std::size_t i = 0; i < at && kept.size() < limit; ++i) kept.push_back(list_then_new[i].slot);
  if (kept.size() >= limit) return true;
  const bool added_kept = diverse_from(added, kept, pair_distance);
  if (added_kept) kept.push_back(added.slot);
  for (std::size_t i = at; i < listed && kept.size() < limit; ++i) {
    const Candidate& c = list_then_new[i];
    if (added_kept && pair_distance(c.slot, added.slot) < c.distance) continue;
    kept.push_back(c.slot);
  }
  return true;
}

// Ascending by distance; equal distances keep their input order.
inline void sort_by_distance(std::vector<Candidate>& candidates) {
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const Candidate& a, const Candidate& b) { return a.distance < b.distance; });
}

}  // namespace quarn::detail
