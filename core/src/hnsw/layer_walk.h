#pragma once

#include <algorithm>
#include <limits>
#include <mutex>
#include <vector>

#include "graph_util.h"
#include "quarn/hnsw.h"

namespace quarn::detail {

// Greedy walk on one layer: move to the strictly nearest neighbour until none is nearer.
// `dist` maps a slot to its distance from the query.
template <class DistanceFn>
Slot greedy_walk(const HnswIndex& index, DistanceFn&& dist, Slot current, std::size_t layer) {
  float best = dist(current);
  for (;;) {
    const Node& node = index.node(current);
    if (node.level() < layer) return current;
    Slot next = current;
    bool moved = false;
    {
      const NeighborList& list = node.layer(layer);
      std::lock_guard<std::mutex> guard(list.mutex);
      for (Slot v : list.slots) {
        const float dv = dist(v);
        if (dv < best) {
          best = dv;
          next = v;
          moved = true;
        }
      }
    }
    if (!moved) return current;
    current = next;
  }
}

// Beam search of width ef on one layer; returns at most max(ef, 1) pairs, ascending.
// Each list is scanned, and its members' distances computed, under that list's mutex alone.
// `prefetch` hints the memory of a slot's row so the next distance does not wait for it.
template <class DistanceFn, class PrefetchFn>
std::vector<Candidate> beam_search(const HnswIndex& index, DistanceFn&& dist, PrefetchFn&& prefetch, Slot entry,
                                   std::size_t ef, std::size_t layer) {
  constexpr float kLargest = std::numeric_limits<float>::max();
  VisitedSet& visited = VisitedSet::begin(index.node_count());
  std::vector<Candidate> candidates;
  std::vector<Candidate> results;
  candidates.reserve(ef + 1);
  results.reserve(ef + 2);

  const Candidate start{entry, dist(entry)};
  candidates.push_back(start);
  results.push_back(start);
  visited.mark(entry);

  while (!candidates.empty()) {
    std::pop_heap(candidates.begin(), candidates.end(), MinHeapOrder{});
    const Candidate c = candidates.back();
    candidates.pop_back();
    const float worst = results.empty() ? kLargest : results.front().distance;
    if (c.distance > worst) break;

    const Node& node = index.node(c.slot);
    if (node.level() < layer) continue;
    const NeighborList& list = node.layer(layer);
    std::lock_guard<std::mutex> guard(list.mutex);
    const std::vector<Slot>& slots = list.slots;
    if (!slots.empty()) prefetch(slots[0]);
    for (std::size_t i = 0; i < slots.size(); ++i) {
      const Slot v = slots[i];
      if (i + 1 < slots.size()) prefetch(slots[i + 1]);
      if (!visited.mark(v)) continue;
      const float dv = dist(v);
      const float bound = results.empty() ? kLargest : results.front().distance;
      if (dv < bound || results.size() < ef) {
        candidates.push_back({v, dv});
        std::push_heap(candidates.begin(), candidates.end(), MinHeapOrder{});
        results.push_back({v, dv});
        std::push_heap(results.begin(), results.end(), MaxHeapOrder{});
        if (results.size() > ef) {
          std::pop_heap(results.begin(), results.end(), MaxHeapOrder{});
          results.pop_back();
        }
      }
    }
  }
  std::stable_sort(results.begin(), results.end(), MaxHeapOrder{});
  return results;
}

}  // namespace quarn::detail
