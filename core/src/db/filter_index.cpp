#include "db/filter_index.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace quarn {

namespace {

const SlotSet kNone;

const SlotSet* look_up(const MetadataIndex& index, const std::string& field, const Json& value) {
  const SlotSet* set = index.find(field, value);
  return set != nullptr ? set : &kNone;
}

}  // namespace

std::optional<Candidates> resolve_from_index(const Filter& f, const MetadataIndex& index) {
  switch (f.op) {
    case Filter::Op::Eq:
    case Filter::Op::In: {
      // A null, array or object operand has no index entry although records may match it,
      // so the index cannot narrow such a leaf; for the other operands it is exact.
      if (!f.index_answers_exactly()) return std::nullopt;
      if (f.op == Filter::Op::Eq) return Candidates::borrow(look_up(index, f.field, f.value));
      if (f.values.size() == 1) return Candidates::borrow(look_up(index, f.field, f.values.front()));
      std::vector<const SlotSet*> sets;
      sets.reserve(f.values.size());
      for (const Json& v : f.values) sets.push_back(look_up(index, f.field, v));
      return Candidates::own(SlotSet::unite(sets));
    }
    case Filter::Op::Or: {
      // Every child must narrow, or some match could lie outside the union.
      std::vector<Candidates> parts;
      parts.reserve(f.children.size());
      for (const Filter& child : f.children) {
        std::optional<Candidates> resolved = resolve_from_index(child, index);
        if (!resolved) return std::nullopt;
        parts.push_back(std::move(*resolved));
      }
      if (parts.size() == 1) return std::move(parts.front());
      std::vector<const SlotSet*> sets;
      sets.reserve(parts.size());
      for (const Candidates& c : parts) sets.push_back(&c.get());
      return Candidates::own(SlotSet::unite(sets));
    }
    case Filter::Op::And: {
      // Children the index cannot narrow are left to the record test; without any that it can,
      // neither can it narrow the And.
      std::vector<Candidates> parts;
      for (const Filter& child : f.children) {
        std::optional<Candidates> resolved = resolve_from_index(child, index);
        if (resolved) parts.push_back(std::move(*resolved));
      }
      if (parts.empty()) return std::nullopt;
      // Smallest first, so that each intersection is no larger than the smallest set.
      std::sort(parts.begin(), parts.end(),
                [](const Candidates& a, const Candidates& b) { return a->size() < b->size(); });
      if (parts.size() == 1) return std::move(parts.front());
      SlotSet running = SlotSet::intersect(*parts[0], *parts[1]);
      for (std::size_t i = 2; i < parts.size() && !running.empty(); ++i) running = SlotSet::intersect(running, *parts[i]);
      return Candidates::own(std::move(running));
    }
    case Filter::Op::Ne:
    case Filter::Op::Nin:
    case Filter::Op::Exists:
    case Filter::Op::Gt:
    case Filter::Op::Gte:
    case Filter::Op::Lt:
    case Filter::Op::Lte:
      // Complements and ranges need the record itself.
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace quarn
