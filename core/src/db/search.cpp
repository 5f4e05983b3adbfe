// k-nearest search with filters, batch search and counting.
//
// Searches hold the index, slot-table and metadata locks shared for their whole run and take
// the metadata-index lock shared only around resolving the filter. Slots beyond the tables are
// never read, as a second line of defence besides the writers' lock discipline.
#include <algorithm>
#include <cmath>
#include <limits>

#include "quarn/database.h"
#include "quarn/pool.h"

namespace quarn {

namespace {

// Orders by distance with NaN after every number, so selection and sorting stay well defined.
bool nearer(const Candidate& a, const Candidate& b) {
  if (std::isnan(a.distance)) return false;
  if (std::isnan(b.distance)) return true;
  return a.distance < b.distance;
}

std::size_t filtered_beam(std::size_t ef, std::size_t k) {
  const std::size_t max = std::numeric_limits<std::size_t>::max();
  const std::size_t four_k = k > max / 4 ? max : 4 * k;
  return std::max(ef, four_k);
}

// Queries per tile of the batched scan: at most 16, fewer for small batches so that every
// worker still gets a tile.
std::size_t scan_tile_size(std::size_t queries) {
  constexpr std::size_t kMaxTile = 16;
  const std::size_t workers = std::max<std::size_t>(worker_count(), 1);
  return std::clamp<std::size_t>((queries + workers - 1) / workers, 1, kMaxTile);
}

}  // namespace

std::vector<Candidate> Database::search_filtered(std::span<const float> query, std::size_t k, std::size_t ef,
                                                 const Filter& filter,
                                                 const std::optional<SlotSet>& candidates) const {
  if (index_->entry_point() == kNoEntryPoint) return {};
  if (dim_ * index_->live_count() < kScanLimit) return scan_filtered(query, k, filter, candidates);
  return walk_filtered(query, k, ef, filter, candidates);
}

std::vector<Candidate> Database::scan_filtered(std::span<const float> query, std::size_t k, const Filter& filter,
                                               const std::optional<SlotSet>& candidates) const {
  show_blas_hint_once();
  const HnswIndex& index = *index_;
  const std::size_t nodes = index.node_count();
  std::vector<Candidate> pairs;
  // Distances are computed only for records that pass the filter.
  auto consider = [&](Slot s) {
    if (index.is_deleted(s) || !filter.matches(metadata_at(s))) return;
    pairs.push_back({s, distance(query, index.vector(s), index.metric())});
  };
  if (candidates.has_value() && candidates->size() < nodes) {
    std::vector<Slot> slots;
    slots.reserve(candidates->size());
    for (Slot s : *candidates) {
      if (s < nodes) slots.push_back(s);
    }
    std::sort(slots.begin(), slots.end());
    pairs.reserve(slots.size());
    for (Slot s : slots) consider(s);
  } else {
    pairs.reserve(nodes);
    for (std::size_t s = 0; s < nodes; ++s) {
      const auto slot = static_cast<Slot>(s);
      if (candidates.has_value() && candidates->count(slot) == 0) continue;
      consider(slot);
    }
  }
  if (k < pairs.size()) {
    std::nth_element(pairs.begin(), pairs.begin() + static_cast<std::ptrdiff_t>(k), pairs.end(), nearer);
    pairs.resize(k);
  }
  std::stable_sort(pairs.begin(), pairs.end(), nearer);
  return pairs;
}

std::vector<Candidate> Database::walk_filtered(std::span<const float> query, std::size_t k, std::size_t ef,
                                               const Filter& filter,
                                               const std::optional<SlotSet>& candidates) const {
  const HnswIndex& index = *index_;
  const bool quantized = index.has_quantized();
  const std::size_t beam = filtered_beam(ef, k);
  Slot entry = index.entry_point();
  for (std::size_t layer = index.max_level(); layer >= 1; --layer) {
    entry = quantized ? index.search_layer_single_quantized(query, entry, layer)
                      : index.search_layer_single(query, entry, layer);
  }
  const std::vector<Candidate> found =
      quantized ? index.search_layer_quantized(query, entry, beam) : index.search_layer(query, entry, beam, 0);
  std::vector<Candidate> kept;
  for (const Candidate& c : found) {
    if (!quantized && kept.size() >= k) break;  // exact distances are already ascending
    if (index.is_deleted(c.slot)) continue;
    if (candidates.has_value() && candidates->count(c.slot) == 0) continue;
    if (!filter.matches(metadata_at(c.slot))) continue;
    kept.push_back(quantized ? Candidate{c.slot, distance(query, index.vector(c.slot), index.metric())} : c);
  }
  if (quantized) {
    std::stable_sort(kept.begin(), kept.end(), nearer);
    if (kept.size() > k) kept.resize(k);
  }
  return kept;
}

std::vector<SearchResult> Database::assemble(const std::vector<Candidate>& pairs,
                                             std::optional<float> max_distance) const {
  std::vector<SearchResult> out;
  out.reserve(pairs.size());
  for (const Candidate& c : pairs) {
    // Kept only when d <= bound: a NaN bound or distance keeps nothing, an equal one is kept.
    if (max_distance.has_value() && !(c.distance <= *max_distance)) continue;
    if (c.slot >= slot_to_id_.size() || c.slot >= metadata_.size()) continue;
    out.push_back(SearchResult{slot_to_id_[c.slot], c.distance, metadata_[c.slot]});
  }
  return out;
}

Result<std::vector<SearchResult>> Database::search(std::span<const float> query, const SearchParams& params) const {
  if (query.size() != dim_) return QuarnError::dimension_mismatch(dim_, query.size());
  std::shared_lock index_guard(index_lock_);
  std::shared_lock slot_guard(slot_table_lock_);
  std::shared_lock meta_guard(metadata_lock_);
  const std::size_t ef = params.ef_search.value_or(default_ef(params.k));
  std::vector<Candidate> pairs;
  if (params.filter == nullptr) {
    pairs = index_->search(query, params.k, ef);
  } else {
    std::optional<SlotSet> candidates;
    {
      std::shared_lock meta_index_guard(metadata_index_lock_);
      candidates = params.filter->resolve_from_index(metadata_index_);
    }
    pairs = search_filtered(query, params.k, ef, *params.filter, candidates);
  }
  return assemble(pairs, params.max_distance);
}

Result<std::vector<std::vector<SearchResult>>> Database::search_many(const std::vector<std::vector<float>>& queries,
                                                                     const SearchParams& params) const {
  for (const auto& q : queries) {
    if (q.size() != dim_) return QuarnError::dimension_mismatch(dim_, q.size());
  }
  std::vector<std::vector<SearchResult>> results(queries.size());
  if (queries.empty()) return results;
  std::shared_lock index_guard(index_lock_);
  std::shared_lock slot_guard(slot_table_lock_);
  std::shared_lock meta_guard(metadata_lock_);
  const std::size_t ef = params.ef_search.value_or(default_ef(params.k));
  if (params.filter == nullptr) {
    if (index_->entry_point() == kNoEntryPoint) return results;
    if (index_->batch_scan_applies()) {
      // Tiles of queries share each pass over the store.
      const std::size_t tile = scan_tile_size(queries.size());
      parallel_for((queries.size() + tile - 1) / tile, [&](std::size_t t) {
        const auto begin = static_cast<std::ptrdiff_t>(t * tile);
        const auto end = static_cast<std::ptrdiff_t>(std::min(queries.size(), t * tile + tile));
        const std::vector<std::span<const float>> batch(queries.begin() + begin, queries.begin() + end);
        const std::vector<std::vector<Candidate>> found = index_->search_many_exhaustive(batch, params.k, ef);
        for (std::size_t j = 0; j < found.size(); ++j) {
          results[static_cast<std::size_t>(begin) + j] = assemble(found[j], params.max_distance);
        }
      });
      return results;
    }
    // Workers take no database lock: the calling thread holds the shared locks for them.
    parallel_for(queries.size(), [&](std::size_t i) {
      results[i] = assemble(index_->search(queries[i], params.k, ef), params.max_distance);
    });
    return results;
  }
  std::optional<SlotSet> candidates;
  {
    std::shared_lock meta_index_guard(metadata_index_lock_);
    candidates = params.filter->resolve_from_index(metadata_index_);
  }
  parallel_for(queries.size(), [&](std::size_t i) {
    results[i] = assemble(search_filtered(queries[i], params.k, ef, *params.filter, candidates), params.max_distance);
  });
  return results;
}

std::size_t Database::count(const Filter* filter) const {
  if (filter == nullptr) {
    std::shared_lock index_guard(index_lock_);
    return index_->live_count();
  }
  // The candidate set is resolved while the index and metadata locks are held, so that a
  // compaction cannot renumber the slots between resolving and counting.
  std::shared_lock index_guard(index_lock_);
  std::shared_lock meta_guard(metadata_lock_);
  std::optional<SlotSet> candidates;
  {
    std::shared_lock meta_index_guard(metadata_index_lock_);
    candidates = filter->resolve_from_index(metadata_index_);
  }
  const HnswIndex& index = *index_;
  const std::size_t nodes = index.node_count();
  auto passes = [&](Slot s) { return s < nodes && !index.is_deleted(s) && filter->matches(metadata_at(s)); };
  std::size_t n = 0;
  if (candidates.has_value()) {
    for (Slot s : *candidates) n += passes(s) ? 1 : 0;
  } else {
    for (std::size_t s = 0; s < nodes; ++s) n += passes(static_cast<Slot>(s)) ? 1 : 0;
  }
  return n;
}

}  // namespace quarn
