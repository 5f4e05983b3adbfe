#include <algorithm>
#include <numeric>

#include "hnsw/graph_util.h"
#include "hnsw/hnsw.h"
#include "util/pool.h"

namespace quarn {

HnswIndex::DescentOrder HnswIndex::descent_order(std::span<const std::span<const float>> queries) const {
  const std::size_t n = queries.size();
  DescentOrder d{std::vector<std::size_t>(n), std::vector<Slot>(n, entry_point_)};
  // Every query's path down the upper layers, top first. The last slot is its layer-0 entry.
  const std::size_t depth = max_level_;
  std::vector<Slot> paths(n * depth);
  parallel_for(n, [&](std::size_t i) { d.entries[i] = descend(queries[i], paths.data() + i * depth); });
  std::iota(d.order.begin(), d.order.end(), std::size_t{0});
  std::stable_sort(d.order.begin(), d.order.end(), [&](std::size_t a, std::size_t b) {
    const Slot* pa = paths.data() + a * depth;
    const Slot* pb = paths.data() + b * depth;
    return std::lexicographical_compare(pa, pa + depth, pb, pb + depth);
  });
  return d;
}

std::vector<std::vector<Candidate>> HnswIndex::search_many(std::span<const std::span<const float>> queries,
                                                           std::size_t k, std::size_t ef,
                                                           std::size_t rerank) const {
  for (const auto& q : queries) {
    if (q.size() != dim_) detail::fatal("query dimension mismatch");
  }
  const std::size_t n = queries.size();
  std::vector<std::vector<Candidate>> out(n);
  const bool graph = entry_point_ != kNoEntryPoint && !scan_answers();
  k = std::min(k, live_count());
  if (!graph || k == 0 || n < 2) {
    parallel_for(n, [&](std::size_t i) { out[i] = search(queries[i], k, ef, rerank); });
    return out;
  }
  const std::size_t beam = std::min(std::max(ef, k), links_.size());
  const DescentOrder d = descent_order(queries);
  parallel_for(n, [&](std::size_t j) {
    const std::size_t i = d.order[j];
    out[i] = search_graph_from(queries[i], k, beam, d.entries[i], rerank);
  });
  return out;
}

}  // namespace quarn
