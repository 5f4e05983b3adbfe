#include "filter/filter_index.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

namespace quarn {

namespace {

const SlotSet kNone;

const SlotSet* look_up(const MetadataIndex& index, const std::string& field, const Json& value) {
  const SlotSet* set = index.find(field, value);
  return set != nullptr ? set : &kNone;
}

bool is_range(Filter::Op op) {
  return op == Filter::Op::Gt || op == Filter::Op::Gte || op == Filter::Op::Lt || op == Filter::Op::Lte;
}

// Narrows the range to the numbers a range leaf accepts as well. A NaN threshold accepts none.
void narrow(NumericRange& range, const Filter& leaf) {
  const double t = leaf.threshold;
  if (std::isnan(t)) {
    range.none = true;
  } else if (leaf.op == Filter::Op::Gt || leaf.op == Filter::Op::Gte) {
    const bool open = leaf.op == Filter::Op::Gt;
    if (t > range.low || (t == range.low && open)) {
      range.low = t;
      range.low_open = open;
    }
  } else {
    const bool open = leaf.op == Filter::Op::Lt;
    if (t < range.high || (t == range.high && open)) {
      range.high = t;
      range.high_open = open;
    }
  }
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
      // Ranges on one field join into one interval, read from the index in one run.
      std::map<std::string_view, NumericRange> ranges;
      for (const Filter& child : f.children) {
        if (is_range(child.op)) {
          narrow(ranges[child.field], child);
          continue;
        }
        std::optional<Candidates> resolved = resolve_from_index(child, index);
        if (resolved) parts.push_back(std::move(*resolved));
      }
      for (const auto& [field, range] : ranges) {
        parts.push_back(Candidates::own(index.numbers_in(std::string(field), range)));
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
    case Filter::Op::Gt:
    case Filter::Op::Gte:
    case Filter::Op::Lt:
    case Filter::Op::Lte: {
      NumericRange range;
      narrow(range, f);
      return Candidates::own(index.numbers_in(f.field, range));
    }
    case Filter::Op::Ne:
    case Filter::Op::Nin:
    case Filter::Op::Exists:
      // Complements need the record itself.
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace quarn
