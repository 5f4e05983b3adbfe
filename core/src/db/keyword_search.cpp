// Keyword search (BM25 over the documents) and hybrid search (a vector search and a keyword
// search fused into one ranking).
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "db/db_impl.h"
#include "filter/filter_index.h"

namespace quarn {

KeywordSettings DbImpl::keyword_settings() const {
  const KeywordIndexOptions& o = keyword_.index().options();
  return {o.tokenizer.english_stop_words, o.tokenizer.english_stemming, o.bm25.k1, o.bm25.b};
}

CollectionStatistics DbImpl::keyword_statistics(std::string_view query) const {
  std::shared_lock meta_guard(metadata_lock_);
  const KeywordIndex& keywords = keyword_.index();
  CollectionStatistics out;
  out.terms = keywords.query_terms(query);
  const KeywordStatistics own = keywords.statistics(out.terms);
  out.documents = own.documents;
  out.total_length = own.total_length;
  out.document_frequencies = own.document_frequencies;
  return out;
}

Result<std::vector<SearchResult>> DbImpl::search_keyword(std::string_view query, const SearchParams& params) const {
  std::shared_lock index_guard(index_lock_);
  std::shared_lock slot_guard(slot_table_lock_);
  std::shared_lock meta_guard(metadata_lock_);
  const KeywordIndex& keywords = keyword_.index();
  const std::size_t k = std::min<std::size_t>(params.k, keywords.document_count());
  const std::vector<std::string> terms = keywords.query_terms(query);
  std::optional<KeywordStatistics> collection;
  if (const CollectionStatistics* given = params.keyword_statistics) {
    if (given->terms != terms || given->document_frequencies.size() != terms.size()) {
      return QuarnError::invalid_argument("keyword statistics are not those of the query's terms");
    }
    collection = KeywordStatistics{given->documents, given->total_length, given->document_frequencies};
  }
  const KeywordStatistics* stats = collection ? &*collection : nullptr;
  std::vector<KeywordHit> hits;
  if (params.filter == nullptr && params.document_filter == nullptr) {
    hits = keywords.search_terms(terms, k, nullptr, {}, stats);
  } else {
    // The records the filters match, as vector search finds them: the candidates of the
    // metadata index and the document filter when there are some, else by testing the metadata
    // of each document the query reaches.
    std::shared_lock meta_index_guard(metadata_index_lock_);
    auto narrowing = narrow(params.filter, params.document_filter);
    if (!narrowing.ok()) return std::move(narrowing).error();
    const Filter* test = narrowing->test;
    KeywordFilter allowed;
    std::vector<std::uint32_t> slots;
    if (narrowing->candidates) {
      const std::size_t nodes = index_->node_count();
      narrowing->candidates->get().for_each([&](Slot s) {
        if (s >= nodes) return false;
        if (!index_->is_deleted(s) && (test == nullptr || test->matches(metadata_at(s)))) slots.push_back(s);
        return true;
      });
      allowed.slots = std::span<const std::uint32_t>(slots);
    } else {
      allowed.allows = [&](std::uint32_t s) { return test->matches(metadata_at(s)); };
    }
    hits = keywords.search_terms(terms, k, &allowed, {}, stats);
  }
  std::vector<Candidate> pairs;
  pairs.reserve(hits.size());
  for (const KeywordHit& hit : hits) pairs.push_back({hit.slot, static_cast<float>(-hit.score)});
  return assemble(pairs, params);
}

}  // namespace quarn
