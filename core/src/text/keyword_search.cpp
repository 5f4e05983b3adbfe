#include <algorithm>
#include <numeric>

#include "text/keyword_index.h"

namespace quarn {

namespace {

// A bound counts as able to beat the threshold unless it falls short by more than rounding:
// bounds and scores are summed in different orders.
bool can_beat(double bound, double threshold) { return bound * (1.0 + 1e-9) > threshold; }

struct QueryTerm {
  PostingList::Cursor cursor;
  const PostingList* list;
  double weight;
  double max_score;
};

class Search {
 public:
  Search(std::vector<QueryTerm>& terms, const Bm25Scorer& scorer, std::span<const std::uint32_t> lengths,
         const std::function<bool(std::uint32_t)>& allows, std::size_t k)
      : terms_(terms), scorer_(scorer), lengths_(lengths), allows_(allows), top_(k) {}

  std::vector<KeywordHit> exact();
  std::vector<KeywordHit> wand(bool block_max);
  std::vector<KeywordHit> max_score(bool block_max);

 private:
  bool allowed(std::uint32_t slot) const { return !allows_ || allows_(slot); }
  double contribution(const QueryTerm& t, std::uint32_t slot) const {
    return Bm25Scorer::term_score(t.weight, t.cursor.tf(), scorer_.norm(lengths_[slot]));
  }
  // The score of `slot` from every cursor standing on it, summed in query order.
  double score(std::uint32_t slot) const {
    const double norm = scorer_.norm(lengths_[slot]);
    double sum = 0.0;
    for (const QueryTerm& t : terms_) {
      if (t.cursor.slot() == slot) sum += Bm25Scorer::term_score(t.weight, t.cursor.tf(), norm);
    }
    return sum;
  }
  // With one list driving the walk: true when `slot` cannot beat the threshold even with every
  // other term at its best. Multiplies instead of dividing, with a margin far above rounding.
  bool hopeless(const std::vector<std::size_t>& order, std::size_t essential, const std::vector<double>& prefix,
                std::uint32_t slot, double threshold) const {
    if (essential + 1 != order.size()) return false;
    const QueryTerm& t = terms_[order.back()];
    const double need = threshold - (essential > 0 ? prefix[essential - 1] : 0.0);
    if (need <= 0.0) return false;
    const double f = static_cast<double>(t.cursor.tf());
    return t.weight * f * (1.0 + 1e-6) < need * (f + scorer_.norm(lengths_[slot]));
  }
  // Best score a term can give inside block `b` of its list.
  double block_bound(const QueryTerm& t, std::size_t b) const {
    if (b >= t.list->block_count()) return 0.0;
    const auto& block = t.list->block(b);
    return Bm25Scorer::term_score(t.weight, block.max_tf, scorer_.norm(block.min_length));
  }

  std::vector<QueryTerm>& terms_;
  const Bm25Scorer& scorer_;
  std::span<const std::uint32_t> lengths_;
  const std::function<bool(std::uint32_t)>& allows_;
  TopK top_;
};

std::vector<KeywordHit> Search::exact() {
  while (true) {
    std::uint32_t slot = kNoSlot;
    for (const QueryTerm& t : terms_) slot = std::min(slot, t.cursor.slot());
    if (slot == kNoSlot) break;
    if (allowed(slot)) top_.push({slot, score(slot)});
    for (QueryTerm& t : terms_) {
      if (t.cursor.slot() == slot) t.cursor.next();
    }
  }
  return std::move(top_).take();
}

std::vector<KeywordHit> Search::wand(bool block_max) {
  std::vector<std::size_t> order(terms_.size());
  std::iota(order.begin(), order.end(), 0);
  const auto slot_of = [&](std::size_t i) { return terms_[order[i]].cursor.slot(); };
  const auto resort = [&] {
    for (std::size_t i = 1; i < order.size(); ++i) {
      for (std::size_t j = i; j > 0 && slot_of(j) < slot_of(j - 1); --j) std::swap(order[j], order[j - 1]);
    }
  };
  resort();
  while (true) {
    const double threshold = top_.threshold();
    double bound = 0.0;
    std::size_t pivot = order.size();
    for (std::size_t i = 0; i < order.size() && slot_of(i) != kNoSlot; ++i) {
      bound += terms_[order[i]].max_score;
      if (can_beat(bound, threshold)) {
        pivot = i;
        break;
      }
    }
    if (pivot == order.size()) break;
    const std::uint32_t pivot_slot = slot_of(pivot);
    // Every cursor already on the pivot slot takes part in its score.
    std::size_t last = pivot;
    while (last + 1 < order.size() && slot_of(last + 1) == pivot_slot) ++last;
    if (block_max) {
      double block_sum = 0.0;
      std::uint32_t next = last + 1 < order.size() ? slot_of(last + 1) : kNoSlot;
      for (std::size_t i = 0; i <= last; ++i) {
        const QueryTerm& t = terms_[order[i]];
        const std::size_t b = t.cursor.block_for(pivot_slot);
        block_sum += block_bound(t, b);
        if (b < t.list->block_count()) next = std::min(next, t.list->block_lasts()[b] + 1);
      }
      if (!can_beat(block_sum, threshold)) {
        // No document up to the end of the shortest of these blocks can enter.
        for (std::size_t i = 0; i <= last; ++i) terms_[order[i]].cursor.seek(next);
        resort();
        continue;
      }
    }
    if (slot_of(0) == pivot_slot) {
      if (allowed(pivot_slot)) top_.push({pivot_slot, score(pivot_slot)});
      for (std::size_t i = 0; i <= last; ++i) terms_[order[i]].cursor.next();
    } else {
      for (std::size_t i = 0; i < pivot; ++i) terms_[order[i]].cursor.seek(pivot_slot);
    }
    resort();
  }
  return std::move(top_).take();
}

std::vector<KeywordHit> Search::max_score(bool block_max) {
  // Terms by ascending bound; the first `essential` of them cannot make a hit on their own.
  std::vector<std::size_t> order(terms_.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return terms_[a].max_score < terms_[b].max_score; });
  std::vector<double> prefix(order.size());
  double running = 0.0;
  for (std::size_t i = 0; i < order.size(); ++i) prefix[i] = running += terms_[order[i]].max_score;
  std::vector<double> block_prefix(order.size());
  std::size_t essential = 0;
  double threshold = top_.threshold();
  // With one list left to drive the walk, a block of it whose bound (plus the bounds of the
  // other terms) cannot beat the threshold is passed over whole. Each block is judged once.
  std::size_t judged_block = kNoSlot;
  std::size_t judged_essential = order.size();
  while (true) {
    while (essential < order.size() && !can_beat(prefix[essential], threshold)) ++essential;
    if (essential == order.size()) break;
    if (essential + 1 == order.size()) {
      QueryTerm& t = terms_[order.back()];
      const std::size_t b = t.cursor.block();
      if (b >= t.list->block_count()) break;
      if (b != judged_block || essential != judged_essential) {
        judged_block = b;
        judged_essential = essential;
        const double rest = essential > 0 ? prefix[essential - 1] : 0.0;
        if (!can_beat(block_bound(t, b) + rest, threshold)) {
          t.cursor.seek(t.list->block_lasts()[b] + 1);
          continue;
        }
      }
    }
    std::uint32_t slot = kNoSlot;
    for (std::size_t i = essential; i < order.size(); ++i) slot = std::min(slot, terms_[order[i]].cursor.slot());
    if (slot == kNoSlot) break;
    if (allowed(slot) && !hopeless(order, essential, prefix, slot, threshold)) {
      double partial = 0.0;
      for (std::size_t i = essential; i < order.size(); ++i) {
        const QueryTerm& t = terms_[order[i]];
        if (t.cursor.slot() == slot) partial += contribution(t, slot);
      }
      if (block_max && essential > 0) {
        // Tighter bounds for the terms not yet read: their blocks around `slot`.
        double running_block = 0.0;
        for (std::size_t i = 0; i < essential; ++i) {
          const QueryTerm& t = terms_[order[i]];
          running_block += block_bound(t, t.cursor.block_for(slot));
          block_prefix[i] = std::min(prefix[i], running_block);
        }
      }
      const std::vector<double>& bounds = block_max ? block_prefix : prefix;
      bool complete = true;
      for (std::size_t i = essential; i-- > 0;) {
        if (!can_beat(partial + bounds[i], threshold)) {
          complete = false;
          break;
        }
        QueryTerm& t = terms_[order[i]];
        t.cursor.seek(slot);
        if (t.cursor.slot() == slot) partial += contribution(t, slot);
      }
      // The summed partial already tells most documents apart from the top k without the
      // score in its canonical order.
      if (complete && can_beat(partial, threshold)) {
        top_.push({slot, score(slot)});
        threshold = top_.threshold();
      }
    }
    for (std::size_t i = essential; i < order.size(); ++i) {
      QueryTerm& t = terms_[order[i]];
      if (t.cursor.slot() == slot) t.cursor.next();
    }
  }
  return std::move(top_).take();
}

}  // namespace

std::vector<KeywordHit> KeywordIndex::search(std::string_view query, std::size_t k, const KeywordFilter* filter,
                                             const KeywordSearchOptions& search_options) const {
  const std::vector<std::string> terms = query_terms(query);
  return search_terms(terms, k, filter, search_options);
}

KeywordStatistics& KeywordStatistics::operator+=(const KeywordStatistics& other) {
  documents += other.documents;
  total_length += other.total_length;
  document_frequencies.resize(std::max(document_frequencies.size(), other.document_frequencies.size()), 0);
  for (std::size_t i = 0; i < other.document_frequencies.size(); ++i) document_frequencies[i] += other.document_frequencies[i];
  return *this;
}

KeywordStatistics KeywordIndex::statistics(std::span<const std::string> terms) const {
  KeywordStatistics out{document_count_, total_length_, {}};
  for (const std::string& term : terms) out.document_frequencies.push_back(document_frequency(term));
  return out;
}

std::vector<KeywordHit> KeywordIndex::search_terms(std::span<const std::string> terms, std::size_t k,
                                                   const KeywordFilter* filter,
                                                   const KeywordSearchOptions& search_options,
                                                   const KeywordStatistics* collection) const {
  if (collection != nullptr && collection->document_frequencies.size() != terms.size()) collection = nullptr;
  const std::uint64_t documents = collection ? collection->documents : document_count_;
  const std::uint64_t total_length = collection ? collection->total_length : total_length_;
  if (k == 0 || document_count_ == 0 || documents == 0) return {};
  const Bm25Scorer scorer{options_.bm25.k1, options_.bm25.b,
                          static_cast<double>(total_length) / static_cast<double>(documents)};
  std::vector<std::uint32_t> ids;
  std::vector<QueryTerm> query;
  std::uint64_t postings = 0;
  for (std::size_t i = 0; i < terms.size(); ++i) {
    if (std::find(terms.begin(), terms.begin() + static_cast<std::ptrdiff_t>(i), terms[i]) !=
        terms.begin() + static_cast<std::ptrdiff_t>(i)) {
      continue;  // a repeated term counts once
    }
    const auto id = find_term(terms[i]);
    if (!id) continue;
    const PostingList& list = postings_[*id];
    const std::uint64_t df = collection ? collection->document_frequencies[i] : list.size();
    ids.push_back(*id);
    postings += list.size();
    QueryTerm t{PostingList::Cursor(&list), &list, scorer.weight(bm25_idf(documents, df)), 0.0};
    for (std::size_t b = 0; b < list.block_count(); ++b) {
      const auto& block = list.block(b);
      t.max_score = std::max(t.max_score, Bm25Scorer::term_score(t.weight, block.max_tf, scorer.norm(block.min_length)));
    }
    query.push_back(std::move(t));
  }
  if (query.empty()) return {};

  std::function<bool(std::uint32_t)> allows;
  std::vector<std::uint64_t> listed_bits;
  if (filter != nullptr && filter->slots) {
    const auto slots = *filter->slots;
    if (static_cast<double>(slots.size()) * static_cast<double>(query.size()) <=
        search_options.listed_filter_ratio * static_cast<double>(postings)) {
      // Few listed slots: score each of them directly.
      TopK top(k);
      for (std::uint32_t slot : slots) {
        if (!has_document(slot)) continue;
        const double norm = scorer.norm(lengths_[slot]);
        double sum = 0.0;
        for (std::size_t i = 0; i < ids.size(); ++i) {
          const std::uint32_t tf = tf_in(slot, ids[i]);
          if (tf != 0) sum += Bm25Scorer::term_score(query[i].weight, tf, norm);
        }
        if (sum > 0.0) top.push({slot, sum});
      }
      return std::move(top).take();
    }
    if (!slots.empty()) listed_bits.assign(static_cast<std::size_t>(slots.back()) / 64 + 1, 0);
    for (std::uint32_t slot : slots) listed_bits[slot / 64] |= std::uint64_t{1} << (slot % 64);
    allows = [&listed_bits](std::uint32_t slot) {
      return slot / 64 < listed_bits.size() && ((listed_bits[slot / 64] >> (slot % 64)) & 1) != 0;
    };
  } else if (filter != nullptr) {
    allows = filter->allows;
  }

  Search search(query, scorer, lengths_, allows, k);
  switch (search_options.pruning) {
    case KeywordPruning::Exact: return search.exact();
    case KeywordPruning::Wand: return search.wand(false);
    case KeywordPruning::BlockMaxWand: return search.wand(true);
    case KeywordPruning::MaxScore: return search.max_score(false);
    case KeywordPruning::BlockMaxMaxScore: return search.max_score(true);
  }
  return {};
}

}  // namespace quarn
