#include <algorithm>

#include "graph_util.h"
#include "layer_walk.h"
#include "quarn/hnsw.h"

namespace quarn {

std::vector<Candidate> HnswIndex::search(std::span<const float> query, std::size_t k, std::size_t ef) const {
  if (query.size() != dim_) detail::fatal("query dimension mismatch");
  if (entry_point_ == kNoEntryPoint) return {};
  if (dim_ * live_count() < kScanLimit) return scan(query, k);
  return search_graph(query, k, ef);
}

std::vector<Candidate> HnswIndex::search_graph(std::span<const float> query, std::size_t k, std::size_t ef) const {
  if (query.size() != dim_) detail::fatal("query dimension mismatch");
  if (entry_point_ == kNoEntryPoint) return {};
  const std::size_t beam = std::max(ef, k);
  if (quantized_.has_value()) return search_graph_quantized(query, k, beam);

  Slot c = entry_point_;
  for (std::size_t layer = max_level_; layer >= 1; --layer) c = search_layer_single(query, c, layer);
  std::vector<Candidate> found = search_layer(query, c, beam, 0);
  std::vector<Candidate> out;
  out.reserve(std::min(k, found.size()));
  for (const Candidate& cand : found) {
    if (out.size() >= k) break;
    if (deleted_.count(cand.slot) != 0) continue;
    out.push_back(cand);
  }
  return out;
}

std::vector<Candidate> HnswIndex::scan(std::span<const float> query, std::size_t k) const {
  show_blas_hint_once();
  std::vector<Candidate> pairs;
  if (deleted_.empty()) {
    const std::size_t rows = dim_ == 0 ? nodes_.size() : store_.float_count() / dim_;
    const std::vector<float> scores = brute_force_scores(query, store_.data(), norms_.data(), dim_, rows, metric_);
    pairs.reserve(rows);
    for (std::size_t i = 0; i < rows; ++i) pairs.push_back({static_cast<Slot>(i), scores[i]});
  } else {
    pairs.reserve(live_count());
    for (std::size_t s = 0; s < nodes_.size(); ++s) {
      const auto slot = static_cast<Slot>(s);
      if (deleted_.count(slot) != 0) continue;
      pairs.push_back({slot, distance_to(query, slot)});
    }
  }
  if (k < pairs.size()) {
    std::nth_element(pairs.begin(), pairs.begin() + static_cast<std::ptrdiff_t>(k), pairs.end(),
                     detail::MaxHeapOrder{});
    pairs.resize(k);
  }
  std::sort(pairs.begin(), pairs.end(), detail::MaxHeapOrder{});
  return pairs;
}

Slot HnswIndex::search_layer_single(std::span<const float> query, Slot entry, std::size_t layer) const {
  return detail::greedy_walk(*this, [&](Slot s) { return distance_to(query, s); }, entry, layer);
}

std::vector<Candidate> HnswIndex::search_layer(std::span<const float> query, Slot entry, std::size_t ef,
                                               std::size_t layer) const {
  const float* base = store_.data();
  return detail::beam_search(
      *this, [&](Slot s) { return distance_to(query, s); },
      [&](Slot s) { __builtin_prefetch(base + std::size_t{s} * dim_); }, entry, ef, layer);
}

}  // namespace quarn
