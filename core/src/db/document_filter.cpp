// Document filters ($contains, $not_contains, $and, $or over the words of the documents) as
// sets of slots, and their meeting with the metadata filter's candidates.
#include <vector>

#include "db/db_impl.h"

namespace quarn {

Result<SlotSet> DbImpl::document_slots(const DocumentFilter& filter) const {
  const KeywordIndex& keywords = keyword_.index();
  switch (filter.op) {
    case DocumentFilter::Op::Contains:
    case DocumentFilter::Op::NotContains: {
      auto terms = keywords.contains_terms(filter.value);
      if (!terms.ok()) return std::move(terms).error();
      std::vector<std::uint32_t> holding = keywords.slots_containing(*terms);
      if (filter.op == DocumentFilter::Op::Contains) return SlotSet::from_sorted(std::move(holding));
      // Every live record but those: a record without a document does not contain the words.
      std::vector<std::uint32_t> rest;
      const std::size_t nodes = index_->node_count();
      auto next = holding.begin();
      for (std::size_t s = 0; s < nodes; ++s) {
        const auto slot = static_cast<Slot>(s);
        if (next != holding.end() && *next == slot) {
          ++next;
          continue;
        }
        if (!index_->is_deleted(slot)) rest.push_back(slot);
      }
      return SlotSet::from_sorted(std::move(rest));
    }
    case DocumentFilter::Op::And:
    case DocumentFilter::Op::Or: {
      if (filter.children.empty()) {
        return QuarnError::invalid_argument("a document filter's $and or $or needs at least one condition");
      }
      std::vector<SlotSet> parts;
      parts.reserve(filter.children.size());
      for (const DocumentFilter& child : filter.children) {
        auto part = document_slots(child);
        if (!part.ok()) return std::move(part).error();
        parts.push_back(std::move(*part));
      }
      if (filter.op == DocumentFilter::Op::Or) {
        std::vector<const SlotSet*> sets;
        for (const SlotSet& part : parts) sets.push_back(&part);
        return SlotSet::unite(sets);
      }
      SlotSet out = std::move(parts.front());
      for (std::size_t i = 1; i < parts.size(); ++i) out = SlotSet::intersect(out, parts[i]);
      return out;
    }
  }
  return QuarnError::invalid_argument("unknown document filter");
}

Result<DbImpl::Narrowing> DbImpl::narrow(const Filter* filter, const DocumentFilter* document_filter) const {
  Narrowing out;
  if (filter != nullptr) {
    out.candidates = resolve_from_index(*filter, metadata_index_);
    // Candidates of a filter the index answers exactly need no look at the metadata.
    if (!(out.candidates && filter->index_answers_exactly())) out.test = filter;
  }
  if (document_filter == nullptr) return out;
  auto documents = document_slots(*document_filter);
  if (!documents.ok()) return std::move(documents).error();
  out.candidates = Candidates::own(out.candidates ? SlotSet::intersect(out.candidates->get(), *documents)
                                                  : std::move(*documents));
  return out;
}

}  // namespace quarn
