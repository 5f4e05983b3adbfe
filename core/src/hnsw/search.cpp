#include <algorithm>
#include <cmath>

#include "distance/blas_scan.h"
#include "hnsw/graph_util.h"
#include "hnsw/hnsw.h"
#include "hnsw/layer_walk.h"
#include "util/pool.h"

namespace quarn {

namespace {

// The k nearest pairs in ascending distance by partial selection and sort. For equal distances
// the order is whatever these algorithms make of the input order.
void keep_nearest(std::vector<Candidate>& pairs, std::size_t k) {
  if (k < pairs.size()) {
    std::nth_element(pairs.begin(), pairs.begin() + static_cast<std::ptrdiff_t>(k), pairs.end(),
                     detail::MaxHeapOrder{});
    pairs.resize(k);
  }
  std::sort(pairs.begin(), pairs.end(), detail::MaxHeapOrder{});
}

// Above this k the bounded heap stops paying for itself.
constexpr std::size_t kHeapSelectLimit = 1024;

// The k+1 smallest scores by a bounded max-heap, ascending. When they are NaN-free and strictly
// increasing, the k nearest are the same set in the same order whatever selection algorithm
// picks them, so they are the answer keep_nearest would give; otherwise returns false.
bool nearest_without_ties(const std::vector<float>& scores, std::size_t k, std::vector<Candidate>& out) {
  const std::size_t n = scores.size();
  if (k == 0 || k >= n || k > kHeapSelectLimit) return false;
  std::vector<Candidate> heap;
  heap.reserve(k + 1);
  for (std::size_t i = 0; i < n; ++i) {
    const float d = scores[i];
    if (heap.size() <= k) {
      if (std::isnan(d)) return false;
      heap.push_back({static_cast<Slot>(i), d});
      std::push_heap(heap.begin(), heap.end(), detail::MaxHeapOrder{});
    } else if (d < heap.front().distance) {
      std::pop_heap(heap.begin(), heap.end(), detail::MaxHeapOrder{});
      heap.back() = {static_cast<Slot>(i), d};
      std::push_heap(heap.begin(), heap.end(), detail::MaxHeapOrder{});
    } else if (std::isnan(d)) {
      return false;
    }
  }
  std::sort_heap(heap.begin(), heap.end(), detail::MaxHeapOrder{});
  for (std::size_t i = 0; i + 1 < heap.size(); ++i) {
    if (!(heap[i].distance < heap[i + 1].distance)) return false;
  }
  heap.pop_back();
  out = std::move(heap);
  return true;
}

// The k nearest rows of one query's scores (row = slot), shared by the one-query and the
// batched scan so that both pick and order equal distances alike.
std::vector<Candidate> nearest_of_scores(const std::vector<float>& scores, std::size_t k) {
  std::vector<Candidate> pairs;
  if (nearest_without_ties(scores, k, pairs)) return pairs;
  pairs.reserve(scores.size());
  for (std::size_t i = 0; i < scores.size(); ++i) pairs.push_back({static_cast<Slot>(i), scores[i]});
  keep_nearest(pairs, k);
  return pairs;
}

// Stores of at least this many floats are scored by several workers for one query.
constexpr std::size_t kSplitScanFloats = 2'000'000;

// brute_force_scores over contiguous row ranges on the pool. Every row's score depends only on
// the query, the row and its norm, so the pieces equal the one-call result exactly.
std::vector<float> split_scores(std::span<const float> query, const float* matrix, const float* norms,
                                std::size_t dim, std::size_t n, Metric metric) {
  if (n == 0) return {};
  const std::size_t pieces = std::min<std::size_t>(2 * worker_count(), n);
  const std::size_t per_piece = (n + pieces - 1) / pieces;
  std::vector<float> scores(n);
  parallel_for(pieces, [&](std::size_t p) {
    const std::size_t begin = std::min(n, p * per_piece);
    const std::size_t end = std::min(n, begin + per_piece);
    if (begin == end) return;
    const std::vector<float> part =
        brute_force_scores(query, matrix + begin * dim, norms + begin, dim, end - begin, metric);
    std::copy(part.begin(), part.end(), scores.begin() + static_cast<std::ptrdiff_t>(begin));
  });
  return scores;
}

}  // namespace

std::vector<Candidate> HnswIndex::search(std::span<const float> query, std::size_t k, std::size_t ef,
                                         std::size_t rerank) const {
  if (query.size() != dim_) detail::fatal("query dimension mismatch");
  if (entry_point_ == kNoEntryPoint) return {};
  if (scan_answers()) return scan(query, k);
  return search_graph(query, k, ef, rerank);
}

std::vector<Candidate> HnswIndex::search_graph(std::span<const float> query, std::size_t k, std::size_t ef,
                                               std::size_t rerank) const {
  if (query.size() != dim_) detail::fatal("query dimension mismatch");
  if (entry_point_ == kNoEntryPoint) return {};
  k = std::min(k, live_count());
  if (k == 0) return {};
  const std::size_t beam = std::min(std::max(ef, k), links_.size());
  return search_graph_from(query, k, beam, descend(query, nullptr), rerank);
}

Slot HnswIndex::descend(std::span<const float> query, Slot* path) const {
  Slot c = entry_point_;
  auto walk_down = [&](const auto& dist) {
    for (std::size_t layer = max_level_; layer >= 1; --layer) {
      c = detail::greedy_walk(*this, dist, c, layer);
      if (path != nullptr) path[max_level_ - layer] = c;
    }
  };
  if (quantized_.has_value()) {
    std::vector<float> scratch(dim_, 0.0f);
    walk_down(detail::CodeScorer{*this, query, scratch});
  } else {
    walk_down(detail::QueryScorer{*this, query, vector_norm(query)});
  }
  return c;
}

std::vector<Candidate> HnswIndex::search_graph_from(std::span<const float> query, std::size_t k, std::size_t beam,
                                                    Slot entry, std::size_t rerank) const {
  if (!deleted_.empty()) {
    // Deleted slots route the walk but never fill the beam, so k live hits come back whenever k
    // live records exist; a walk that cannot find them gives way to the exact scan.
    auto found = search_accepting_from(query, k, beam, [](Slot) { return true; }, live_count(), entry, rerank);
    return found.has_value() ? std::move(*found) : scan(query, k);
  }
  std::vector<Candidate> found;
  if (quantized_.has_value()) {
    found = search_layer0_quantized(query, k, beam, entry, rerank);
  } else {
    const detail::QueryScorer dist{*this, query, vector_norm(query)};
    found = detail::beam_search(*this, dist, [&](Slot s) { prefetch_row(s); }, entry, beam, 0);
  }
  // A beam that reached fewer than k nodes (a k near the collection's size, or nodes no list
  // points at any more) is answered by the exact scan.
  if (found.size() < k) return scan(query, k);
  if (found.size() > k) found.resize(k);
  return found;
}

std::optional<std::vector<Candidate>> HnswIndex::search_accepting(std::span<const float> query, std::size_t k,
                                                                  std::size_t ef,
                                                                  const std::function<bool(Slot)>& accept,
                                                                  std::size_t budget, std::size_t rerank) const {
  if (query.size() != dim_) detail::fatal("query dimension mismatch");
  if (entry_point_ == kNoEntryPoint || k == 0) return std::vector<Candidate>{};
  return search_accepting_from(query, k, ef, accept, budget, descend(query, nullptr), rerank);
}

std::optional<std::vector<Candidate>> HnswIndex::search_accepting_from(std::span<const float> query, std::size_t k,
                                                                       std::size_t ef,
                                                                       const std::function<bool(Slot)>& accept,
                                                                       std::size_t budget, Slot entry,
                                                                       std::size_t rerank) const {
  const std::size_t beam = std::min(std::max(ef, k), links_.size());
  const float norm = vector_norm(query);
  auto live_and_accepted = [&](Slot s) { return deleted_.count(s) == 0 && accept(s); };
  detail::AcceptedWalk walk;
  if (quantized_.has_value()) {
    std::vector<float> scratch(dim_, 0.0f);
    const detail::CodeScorer dist{*this, query, scratch};
    walk = detail::beam_search_accepting(
        *this, dist, [&](Slot s) { prefetch_codes(s); }, live_and_accepted, entry, beam, 0, budget);
    // A walk that found fewer than k is answered by the scan below, whatever the re-rank.
    if (!walk.over_budget && walk.results.size() >= k) rerank_exact(query, walk.results, k, rerank);
  } else {
    const detail::QueryScorer dist{*this, query, norm};
    walk = detail::beam_search_accepting(
        *this, dist, [&](Slot s) { prefetch_row(s); }, live_and_accepted, entry, beam, 0, budget);
  }
  if (walk.over_budget || walk.results.size() < k) return std::nullopt;
  walk.results.resize(k);
  return std::move(walk.results);
}

std::vector<Candidate> HnswIndex::scan(std::span<const float> query, std::size_t k) const {
  if (deleted_.empty()) {
    const std::size_t rows = scan_rows();
    const bool split = rows * dim_ >= kSplitScanFloats && worker_count() > 1;
    return nearest_of_scores(split ? split_scores(query, store_.data(), norms_.data(), dim_, rows, metric_)
                                   : brute_force_scores(query, store_.data(), norms_.data(), dim_, rows, metric_),
                             k);
  }
  std::vector<Candidate> pairs;
  pairs.reserve(live_count());
  const float norm = vector_norm(query);
  for (std::size_t s = 0; s < links_.size(); ++s) {
    const auto slot = static_cast<Slot>(s);
    if (deleted_.count(slot) != 0) continue;
    pairs.push_back({slot, query_distance(query, norm, slot)});
  }
  keep_nearest(pairs, k);
  return pairs;
}

std::size_t HnswIndex::scan_rows() const { return dim_ == 0 ? links_.size() : store_.float_count() / dim_; }

bool HnswIndex::batch_scan_applies() const {
  return entry_point_ != kNoEntryPoint && deleted_.empty() && scan_answers();
}

std::vector<std::vector<Candidate>> HnswIndex::search_many_exhaustive(std::span<const std::span<const float>> queries,
                                                                      std::size_t k, std::size_t ef) const {
  for (const auto& q : queries) {
    if (q.size() != dim_) detail::fatal("query dimension mismatch");
  }
  std::vector<std::vector<Candidate>> out(queries.size());
  if (!batch_scan_applies()) {
    for (std::size_t i = 0; i < queries.size(); ++i) out[i] = search(queries[i], k, ef);
    return out;
  }
  if (blas_scan_available() && k > 0) {
    // Block products pick the candidates; a query whose answer they cannot settle (ties at
    // the top, k out of range) is scanned on its own, which orders ties as it always has.
    auto found = nearest_rows_many(queries, store_.data(), norms_.data(), dim_, scan_rows(), metric_, k);
    for (std::size_t i = 0; i < queries.size(); ++i) {
      if (!found[i].has_value()) {
        out[i] = scan(queries[i], k);
        continue;
      }
      out[i].reserve(found[i]->size());
      for (const ScoredRow& r : *found[i]) out[i].push_back({r.row, r.distance});
    }
    return out;
  }
  show_blas_hint_once();
  std::vector<std::vector<float>> scores =
      brute_force_scores_many(queries, store_.data(), norms_.data(), dim_, scan_rows(), metric_);
  for (std::size_t i = 0; i < queries.size(); ++i) {
    out[i] = nearest_of_scores(scores[i], k);
    std::vector<float>().swap(scores[i]);
  }
  return out;
}

Slot HnswIndex::search_layer_single(std::span<const float> query, Slot entry, std::size_t layer) const {
  const float norm = vector_norm(query);
  return detail::greedy_walk(*this, detail::QueryScorer{*this, query, norm}, entry, layer);
}

std::vector<Candidate> HnswIndex::search_layer(std::span<const float> query, Slot entry, std::size_t ef,
                                               std::size_t layer) const {
  const float norm = vector_norm(query);
  return detail::beam_search(*this, detail::QueryScorer{*this, query, norm}, [&](Slot s) { prefetch_row(s); },
                             entry, ef, layer);
}

}  // namespace quarn
