// Keyword search (BM25 over the documents) and hybrid search (a vector search and a keyword
// search fused into one ranking).
#include <algorithm>

#include "db/db_impl.h"
#include "filter/filter_index.h"

namespace quarn {

Result<std::vector<SearchResult>> DbImpl::search_keyword(std::string_view query, const SearchParams& params) const {
  std::shared_lock index_guard(index_lock_);
  std::shared_lock slot_guard(slot_table_lock_);
  std::shared_lock meta_guard(metadata_lock_);
  const KeywordIndex& keywords = keyword_.index();
  const std::size_t k = std::min<std::size_t>(params.k, keywords.document_count());
  std::vector<KeywordHit> hits;
  if (params.filter == nullptr) {
    hits = keywords.search(query, k);
  } else {
    // The records the filter matches, as vector search finds them: from the metadata index when
    // it answers the filter, else by testing the metadata of each document the query reaches.
    const Filter& filter = *params.filter;
    std::shared_lock meta_index_guard(metadata_index_lock_);
    const std::optional<Candidates> candidates = resolve_from_index(filter, metadata_index_);
    KeywordFilter allowed;
    std::vector<std::uint32_t> slots;
    if (candidates) {
      const bool exact = filter.index_answers_exactly();
      const std::size_t nodes = index_->node_count();
      candidates->get().for_each([&](Slot s) {
        if (s >= nodes) return false;
        if (!index_->is_deleted(s) && (exact || filter.matches(metadata_at(s)))) slots.push_back(s);
        return true;
      });
      allowed.slots = std::span<const std::uint32_t>(slots);
    } else {
      allowed.allows = [&](std::uint32_t s) { return filter.matches(metadata_at(s)); };
    }
    hits = keywords.search(query, k, &allowed);
  }
  std::vector<Candidate> pairs;
  pairs.reserve(hits.size());
  for (const KeywordHit& hit : hits) pairs.push_back({hit.slot, static_cast<float>(-hit.score)});
  return assemble(pairs, params);
}

}  // namespace quarn
