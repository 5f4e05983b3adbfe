// k-nearest search with filters, batch search and counting.
//
// Searches hold the index, slot-table and metadata locks shared for their whole run and take
// the metadata-index lock shared only around resolving the filter. Slots beyond the tables are
// never read, as a second line of defence besides the writers' lock discipline.
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "db/db_impl.h"
#include "distance/blas_scan.h"
#include "filter/filter_index.h"
#include "util/pool.h"

namespace quarn {

namespace {

// Orders by distance with NaN after every number, so selection and sorting stay well defined.
bool nearer(const Candidate& a, const Candidate& b) {
  if (std::isnan(a.distance)) return false;
  if (std::isnan(b.distance)) return true;
  return a.distance < b.distance;
}

// Filtered searches whose matching records hold at most this many floats score them exactly:
// cheaper than a walk that has to pass many non-matching nodes to collect k matches.
constexpr std::size_t kFilterScanFloats = 2'000'000;

// Slots tested to estimate how many records a filter matches.
constexpr std::size_t kSelectivitySample = 1024;

// Queries per tile of the batched scan: tiles of at most kMaxTile queries, as many tiles as a
// multiple of the workers so that each gets an equal share. Block products pack each block of
// rows once per call, so they take large tiles; the row-by-row scan keeps a tile's scores small.
std::size_t scan_tile_size(std::size_t queries) {
  const std::size_t kMaxTile = blas_scan_available() ? 256 : 16;
  const std::size_t workers = std::max<std::size_t>(worker_count(), 1);
  const std::size_t rounds = (queries + workers * kMaxTile - 1) / (workers * kMaxTile);
  const std::size_t tiles = workers * std::max<std::size_t>(rounds, 1);
  return std::clamp<std::size_t>((queries + tiles - 1) / tiles, 1, kMaxTile);
}

}  // namespace

DbImpl::FilterPlan DbImpl::plan_filtered(const Filter* test, const SlotSet* candidates) const {
  const std::size_t live = index_->live_count();
  if (dim_ * live < kScanLimit) return {};
  // The candidate set bounds the matching records; other filters are estimated.
  const std::size_t matches = candidates != nullptr ? std::min(candidates->size(), live) : estimate_matches(*test);
  return {matches > kFilterScanFloats / std::max<std::size_t>(dim_, 1), matches};
}

std::vector<Candidate> DbImpl::search_filtered(std::span<const float> query, std::size_t k, std::size_t ef,
                                                 const Filter* test, const SlotSet* candidates,
                                                 const FilterPlan& plan, Slot entry) const {
  if (index_->entry_point() == kNoEntryPoint || k == 0) return {};
  if (!plan.walk) return scan_filtered(query, k, test, candidates);
  return walk_filtered(query, k, ef, test, candidates, plan.matches, entry);
}

std::size_t DbImpl::estimate_matches(const Filter& filter) const {
  const HnswIndex& index = *index_;
  const std::size_t nodes = index.node_count();
  const std::size_t step = std::max<std::size_t>(nodes / kSelectivitySample, 1);
  std::size_t tested = 0;
  std::size_t matched = 0;
  for (std::size_t s = step / 2; s < nodes; s += step) {
    const auto slot = static_cast<Slot>(s);
    if (index.is_deleted(slot)) continue;
    ++tested;
    if (filter.matches(metadata_at(slot))) ++matched;
  }
  if (tested == 0) return index.live_count();
  // One more match than seen, so that a sample without matches does not promise none.
  const double share = static_cast<double>(matched + 1) / static_cast<double>(tested);
  return std::min(index.live_count(), static_cast<std::size_t>(share * static_cast<double>(index.live_count())));
}

std::vector<Candidate> DbImpl::scan_filtered(std::span<const float> query, std::size_t k, const Filter* test,
                                               const SlotSet* candidates) const {
  const HnswIndex& index = *index_;
  const std::size_t nodes = index.node_count();
  std::vector<Candidate> pairs;
  // Distances are computed only for records that pass the filter, in slot order, as the graph
  // walks score them. Matching rows lie scattered in the store, so each is hinted a few rows
  // before it is scored: the scan waits on memory once per few rows instead of once per row.
  const float norm = vector_norm(query);
  constexpr std::size_t kAhead = 8;
  std::array<Slot, kAhead> ahead{};
  std::size_t first = 0;
  std::size_t waiting = 0;
  auto score = [&](Slot s) { pairs.push_back({s, index.query_distance(query, norm, s)}); };
  auto consider = [&](Slot s) {
    if (s >= nodes) return false;
    if (index.is_deleted(s) || (test != nullptr && !test->matches(metadata_at(s)))) return true;
    index.prefetch_row(s);
    if (waiting < kAhead) {
      ahead[(first + waiting++) % kAhead] = s;
    } else {
      score(ahead[first]);
      ahead[first] = s;
      first = (first + 1) % kAhead;
    }
    return true;
  };
  if (candidates != nullptr) {
    pairs.reserve(std::min(candidates->size(), nodes));
    candidates->for_each(consider);
  } else {
    pairs.reserve(nodes);
    for (std::size_t s = 0; s < nodes; ++s) consider(static_cast<Slot>(s));
  }
  for (; waiting > 0; --waiting, first = (first + 1) % kAhead) score(ahead[first]);
  if (k < pairs.size()) {
    std::nth_element(pairs.begin(), pairs.begin() + static_cast<std::ptrdiff_t>(k), pairs.end(), nearer);
    pairs.resize(k);
  }
  std::stable_sort(pairs.begin(), pairs.end(), nearer);
  return pairs;
}

std::vector<Candidate> DbImpl::walk_filtered(std::span<const float> query, std::size_t k, std::size_t ef,
                                               const Filter* test, const SlotSet* candidates,
                                               std::size_t matches, Slot entry) const {
  const HnswIndex& index = *index_;
  auto walk = [&](const std::function<bool(Slot)>& accept) {
    return entry == kNoEntryPoint ? index.search_accepting(query, k, ef, accept, matches)
                                  : index.search_accepting_from(query, k, ef, accept, matches, entry);
  };
  std::optional<std::vector<Candidate>> found;
  if (candidates != nullptr) {
    auto passes = [&](Slot s) { return test == nullptr || test->matches(metadata_at(s)); };
    if (candidates->dense()) {
      // A bitmap answers membership as fast as a flat mark would.
      found = walk([&](Slot s) { return candidates->contains(s) && passes(s); });
    } else {
      // A sorted list becomes a flat mark per slot, tested before the metadata.
      std::vector<std::uint8_t> marked(index.node_count(), 0);
      candidates->for_each([&](Slot s) {
        if (s >= marked.size()) return false;
        marked[s] = 1;
        return true;
      });
      found = walk([&](Slot s) { return marked[s] != 0 && passes(s); });
    }
  } else {
    found = walk([&](Slot s) { return test->matches(metadata_at(s)); });
  }
  if (found.has_value()) return std::move(*found);
  return scan_filtered(query, k, test, candidates);
}

std::vector<SearchResult> DbImpl::assemble(const std::vector<Candidate>& pairs, const SearchParams& params) const {
  const std::optional<float> max_distance = params.max_distance;
  std::vector<SearchResult> out;
  out.reserve(pairs.size());
  for (const Candidate& c : pairs) {
    // Kept only when d <= bound: a NaN bound or distance keeps nothing, an equal one is kept.
    if (max_distance.has_value() && !(c.distance <= *max_distance)) continue;
    if (c.slot >= slot_to_id_.size() || c.slot >= metadata_.size()) continue;
    SearchResult& hit = out.emplace_back(SearchResult{slot_to_id_[c.slot], c.distance, metadata_[c.slot], std::nullopt});
    if (params.include_documents) {
      if (const std::string* document = documents_.find(c.slot)) hit.document = *document;
    }
  }
  return out;
}

std::size_t default_rerank(std::size_t k) { return std::max<std::size_t>(4 * k, 40); }

namespace {

constexpr char kBadRerank[] = "rerank must be at least 1";

// The re-rank depth HnswIndex takes: 0 (the whole beam) unless asked for or the rows are on disk.
std::size_t rerank_depth(const SearchParams& params, const HnswIndex& index, std::size_t k) {
  if (params.rerank.has_value()) return *params.rerank;
  return index.rows_on_disk() ? default_rerank(k) : 0;
}

}  // namespace

Result<std::vector<SearchResult>> DbImpl::search(std::span<const float> query, const SearchParams& params) const {
  if (query.size() != dim_) return QuarnError::dimension_mismatch(dim_, query.size());
  if (params.rerank == std::size_t{0}) return QuarnError::invalid_argument(kBadRerank);
  std::shared_lock index_guard(index_lock_);
  std::shared_lock slot_guard(slot_table_lock_);
  std::shared_lock meta_guard(metadata_lock_);
  // No search returns more than the live records, so neither k nor the beam needs to be larger.
  const std::size_t live = index_->live_count();
  const std::size_t k = std::min(params.k, live);
  const std::size_t ef = std::min(params.ef_search.value_or(default_ef(k)), std::max<std::size_t>(live, 1));
  std::vector<Candidate> pairs;
  if (params.filter == nullptr && params.document_filter == nullptr) {
    pairs = index_->search(query, k, ef, rerank_depth(params, *index_, k));
  } else {
    // Held for the whole search: the candidates may be a set inside the index.
    std::shared_lock meta_index_guard(metadata_index_lock_);
    auto narrowing = narrow(params.filter, params.document_filter);
    if (!narrowing.ok()) return std::move(narrowing).error();
    const SlotSet* narrowed = narrowing->candidates ? &narrowing->candidates->get() : nullptr;
    pairs = search_filtered(query, k, ef, narrowing->test, narrowed, plan_filtered(narrowing->test, narrowed),
                            kNoEntryPoint);
  }
  return assemble(pairs, params);
}

Result<std::vector<std::vector<SearchResult>>> DbImpl::search_many(const std::vector<std::vector<float>>& queries,
                                                                     const SearchParams& params) const {
  for (const auto& q : queries) {
    if (q.size() != dim_) return QuarnError::dimension_mismatch(dim_, q.size());
  }
  if (params.rerank == std::size_t{0}) return QuarnError::invalid_argument(kBadRerank);
  std::vector<std::vector<SearchResult>> results(queries.size());
  if (queries.empty()) return results;
  std::shared_lock index_guard(index_lock_);
  std::shared_lock slot_guard(slot_table_lock_);
  std::shared_lock meta_guard(metadata_lock_);
  // No search returns more than the live records, so neither k nor the beam needs to be larger.
  const std::size_t live = index_->live_count();
  const std::size_t k = std::min(params.k, live);
  const std::size_t ef = std::min(params.ef_search.value_or(default_ef(k)), std::max<std::size_t>(live, 1));
  if (params.filter == nullptr && params.document_filter == nullptr) {
    if (index_->entry_point() == kNoEntryPoint) return results;
    if (index_->batch_scan_applies()) {
      // Tiles of queries share each pass over the store.
      const std::size_t tile = scan_tile_size(queries.size());
      parallel_for((queries.size() + tile - 1) / tile, [&](std::size_t t) {
        const auto begin = static_cast<std::ptrdiff_t>(t * tile);
        const auto end = static_cast<std::ptrdiff_t>(std::min(queries.size(), t * tile + tile));
        const std::vector<std::span<const float>> batch(queries.begin() + begin, queries.begin() + end);
        const std::vector<std::vector<Candidate>> found = index_->search_many_exhaustive(batch, k, ef);
        for (std::size_t j = 0; j < found.size(); ++j) {
          results[static_cast<std::size_t>(begin) + j] = assemble(found[j], params);
        }
      });
      return results;
    }
    // Workers take no database lock: the calling thread holds the shared locks for them.
    const std::vector<std::span<const float>> spans(queries.begin(), queries.end());
    const std::vector<std::vector<Candidate>> found = index_->search_many(spans, k, ef, rerank_depth(params, *index_, k));
    parallel_for(queries.size(), [&](std::size_t i) { results[i] = assemble(found[i], params); });
    return results;
  }
  std::shared_lock meta_index_guard(metadata_index_lock_);
  auto narrowing = narrow(params.filter, params.document_filter);
  if (!narrowing.ok()) return std::move(narrowing).error();
  const SlotSet* narrowed = narrowing->candidates ? &narrowing->candidates->get() : nullptr;
  const Filter* test = narrowing->test;
  const FilterPlan plan = plan_filtered(test, narrowed);
  const std::vector<std::span<const float>> spans(queries.begin(), queries.end());
  // Walks run in descent order from shared descents; scans in query order.
  HnswIndex::DescentOrder d;
  if (plan.walk && k > 0 && index_->entry_point() != kNoEntryPoint) d = index_->descent_order(spans);
  parallel_for(queries.size(), [&](std::size_t j) {
    const std::size_t i = d.order.empty() ? j : d.order[j];
    const Slot entry = d.entries.empty() ? kNoEntryPoint : d.entries[i];
    results[i] = assemble(search_filtered(spans[i], k, ef, test, narrowed, plan, entry), params);
  });
  return results;
}

std::size_t DbImpl::count(const Filter* filter) const { return count(filter, nullptr).value(); }

Result<std::size_t> DbImpl::count(const Filter* filter, const DocumentFilter* document_filter) const {
  if (filter == nullptr && document_filter == nullptr) {
    std::shared_lock index_guard(index_lock_);
    return index_->live_count();
  }
  std::size_t n = 0;
  QUARN_TRY(visit_matching(filter, document_filter, [&](Slot) {
    ++n;
    return true;
  }));
  return n;
}

}  // namespace quarn
