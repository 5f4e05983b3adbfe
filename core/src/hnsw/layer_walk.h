#pragma once

#include <algorithm>
#include <limits>
#include <span>
#include <vector>

#include "hnsw/graph_util.h"
#include "hnsw/hnsw.h"

namespace quarn::detail {

// The exact distances of a query to stored slots, one at a time or two side by side.
struct QueryScorer {
  const HnswIndex& index;
  std::span<const float> query;
  float norm;

  float operator()(Slot s) const { return index.query_distance(query, norm, s); }
  void pair(Slot a, Slot b, float* out) const { index.query_distance_pair(query, norm, a, b, out); }
};

// Distances of a query to stored slots through their SQ8 codes, one at a time or two side by side.
struct CodeScorer {
  const HnswIndex& index;
  std::span<const float> query;
  std::span<float> scratch;

  float operator()(Slot s) const { return index.quantized_distance(query, s, scratch); }
  void pair(Slot a, Slot b, float* out) const { index.quantized_distance_pair(query, a, b, scratch, out); }
};

// Scores two slots: side by side when `dist` can, otherwise one after the other. Walks score
// pairs and then judge the two distances in order, exactly as if they had been scored singly.
template <class DistanceFn>
void score_two(DistanceFn& dist, Slot a, Slot b, float* out) {
  if constexpr (requires { dist.pair(a, b, out); }) {
    dist.pair(a, b, out);
  } else {
    out[0] = dist(a);
    out[1] = dist(b);
  }
}

// Greedy walk on one layer: move to the strictly nearest neighbour until none is nearer.
// `dist` maps a slot to its distance from the query.
template <class DistanceFn>
Slot greedy_walk(const HnswIndex& index, DistanceFn&& dist, Slot current, std::size_t layer) {
  const GraphLinks& links = index.links();
  float best = dist(current);
  for (;;) {
    if (links.level(current) < layer) return current;
    Slot next = current;
    bool moved = false;
    const GraphLinks::List list = links.list(current, layer);
    const std::size_t size = list.size();
    auto consider = [&](Slot v, float dv) {
      if (dv < best) {
        best = dv;
        next = v;
        moved = true;
      }
    };
    std::size_t i = 0;
    for (; i + 1 < size; i += 2) {
      const Slot v0 = list[i];
      const Slot v1 = list[i + 1];
      float d[2];
      score_two(dist, v0, v1, d);
      consider(v0, d[0]);
      consider(v1, d[1]);
    }
    if (i < size) {
      const Slot v = list[i];
      consider(v, dist(v));
    }
    if (!moved) return current;
    current = next;
  }
}

// Outcome of a beam search that routes through every node but keeps only accepted ones.
struct AcceptedWalk {
  std::vector<Candidate> results;  // at most ef accepted pairs, ascending
  std::size_t scored = 0;          // nodes whose distance was computed
  bool over_budget = false;        // stopped because more than the budget were scored
};

// Beam search of width max(ef, 1) on one layer whose results hold only slots that pass `accept`
// (a filter, or "not deleted"); rejected nodes still route the walk. It goes on until it holds ef
// accepted results nearer than every unexplored candidate, so a selective test widens the walk
// instead of returning fewer hits. It gives up once more than `budget` nodes were scored: past
// that point an exact scan of the accepted records is cheaper than the walk. Lists are read in
// place without locks; `prefetch` hints a slot's row a few distances before it is needed, and the
// list of the candidate to expand next is hinted while the current one is scored.
template <class DistanceFn, class PrefetchFn, class AcceptFn>
AcceptedWalk beam_search_accepting(const HnswIndex& index, DistanceFn&& dist, PrefetchFn&& prefetch,
                                   AcceptFn&& accept, Slot entry, std::size_t ef, std::size_t layer,
                                   std::size_t budget) {
  AcceptedWalk walk;
  const GraphLinks& links = index.links();
  ef = std::max<std::size_t>(ef, 1);
  VisitedSet& visited = VisitedSet::begin(index.node_count());
  std::vector<Candidate>& candidates = thread_frontier();
  candidates.clear();
  std::vector<Candidate>& results = walk.results;
  results.reserve(ef + 1);
  std::vector<Slot> fresh(links.capacity(layer));
  const std::size_t ahead = index.prefetch_ahead();

  // A pair enters while the results are short of ef, or when nearer than the farthest result.
  auto admits = [&](float d) { return results.size() < ef || d < results.front().distance; };
  auto take = [&](Slot s, float d) {
    if (!accept(s)) return;
    results.push_back({s, d});
    std::push_heap(results.begin(), results.end(), MaxHeapOrder{});
    if (results.size() > ef) {
      std::pop_heap(results.begin(), results.end(), MaxHeapOrder{});
      results.pop_back();
    }
  };

  // A scored neighbour joins the frontier and the results when the results admit it.
  auto consider = [&](Slot v, float dv) {
    if (!admits(dv)) return;
    // An admitted node is likely to be expanded soon: start fetching its list now.
    if (layer == 0) links.prefetch_list0(v);
    candidates.push_back({v, dv});
    std::push_heap(candidates.begin(), candidates.end(), MinHeapOrder{});
    take(v, dv);
  };

  const float d0 = dist(entry);
  walk.scored = 1;
  visited.mark(entry);
  candidates.push_back({entry, d0});
  take(entry, d0);

  while (!candidates.empty()) {
    std::pop_heap(candidates.begin(), candidates.end(), MinHeapOrder{});
    const Candidate c = candidates.back();
    candidates.pop_back();
    if (results.size() >= ef && c.distance > results.front().distance) break;

    if (links.level(c.slot) < layer) continue;
    if (layer == 0 && !candidates.empty()) links.prefetch_list0(candidates.front().slot);
    // The unvisited neighbours first, in list order; then they are scored with the rows of the
    // next few already on their way from memory, which a walk otherwise spends waiting for.
    const GraphLinks::List list = links.list(c.slot, layer);
    const std::size_t size = list.size();
    std::size_t fresh_count = 0;
    for (std::size_t i = 0; i < size; ++i) {
      const Slot v = list[i];
      if (visited.mark(v)) fresh[fresh_count++] = v;
    }
    for (std::size_t j = 0; j < fresh_count && j < ahead; ++j) prefetch(fresh[j]);
    std::size_t j = 0;
    while (j < fresh_count) {
      if (j + 1 < fresh_count && walk.scored + 2 <= budget) {
        // Two rows scored side by side, then judged in list order.
        if (j + ahead < fresh_count) prefetch(fresh[j + ahead]);
        if (j + 1 + ahead < fresh_count) prefetch(fresh[j + 1 + ahead]);
        walk.scored += 2;
        float d[2];
        score_two(dist, fresh[j], fresh[j + 1], d);
        consider(fresh[j], d[0]);
        consider(fresh[j + 1], d[1]);
        j += 2;
        continue;
      }
      if (j + ahead < fresh_count) prefetch(fresh[j + ahead]);
      if (++walk.scored > budget) {
        walk.over_budget = true;
        break;
      }
      consider(fresh[j], dist(fresh[j]));
      ++j;
    }
    if (walk.over_budget) break;
  }
  std::stable_sort(results.begin(), results.end(), MaxHeapOrder{});
  return walk;
}

// Plain beam search on one layer: every slot accepted, no budget. Returns at most max(ef, 1)
// pairs, ascending.
template <class DistanceFn, class PrefetchFn>
std::vector<Candidate> beam_search(const HnswIndex& index, DistanceFn&& dist, PrefetchFn&& prefetch, Slot entry,
                                   std::size_t ef, std::size_t layer) {
  return beam_search_accepting(
             index, dist, prefetch, [](Slot) { return true; }, entry, ef, layer,
             std::numeric_limits<std::size_t>::max())
      .results;
}

}  // namespace quarn::detail
