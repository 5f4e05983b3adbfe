#include "quarn/filter.h"

#include <algorithm>
#include <cassert>
#include <utility>

#include "db/metadata_index.h"

namespace quarn {

namespace {

// Only these kinds are ever index keys; any other operand cannot be answered from the index.
bool indexable(const Json& v) { return v.is_boolean() || v.is_number() || v.is_string(); }

bool compare(Filter::Op op, double value, double threshold) {
  switch (op) {
    case Filter::Op::Gt:
      return value > threshold;
    case Filter::Op::Gte:
      return value >= threshold;
    case Filter::Op::Lt:
      return value < threshold;
    case Filter::Op::Lte:
      return value <= threshold;
    default:
      return false;
  }
}

double number_as_double(const Json& v) {
  if (v.is_number_unsigned()) return static_cast<double>(v.get<std::uint64_t>());
  if (v.is_number_integer()) return static_cast<double>(v.get<std::int64_t>());
  return v.get<double>();
}

// A resolved set that may still live inside the index, so that an And copies no more than
// its intersection.
struct Candidates {
  const SlotSet* borrowed = nullptr;
  SlotSet owned;

  const SlotSet& get() const { return borrowed != nullptr ? *borrowed : owned; }
  SlotSet take() && {
    if (borrowed != nullptr) return *borrowed;
    return std::move(owned);
  }
};

// Walks the smaller set, keeping what the larger one also holds.
SlotSet intersect(const SlotSet& a, const SlotSet& b) {
  const SlotSet& small = a.size() <= b.size() ? a : b;
  const SlotSet& large = a.size() <= b.size() ? b : a;
  SlotSet out;
  out.reserve(small.size());
  for (Slot s : small) {
    if (large.contains(s)) out.insert(s);
  }
  return out;
}

std::optional<Candidates> resolve(const Filter& f, const MetadataIndex& index) {
  switch (f.op) {
    case Filter::Op::Eq: {
      // A null (or other non-indexable) operand has no index entry although records may
      // match it, so the index cannot narrow this filter.
      if (!indexable(f.value)) return std::nullopt;
      Candidates c;
      c.borrowed = index.find(f.field, f.value);
      return c;
    }
    case Filter::Op::In: {
      for (const Json& v : f.values) {
        if (!indexable(v)) return std::nullopt;
      }
      Candidates c;
      for (const Json& v : f.values) {
        if (const SlotSet* set = index.find(f.field, v)) c.owned.insert(set->begin(), set->end());
      }
      return c;
    }
    case Filter::Op::And: {
      // Without children the filter has no leaf to look up and accepts every object.
      std::optional<Candidates> running;
      for (const Filter& child : f.children) {
        std::optional<Candidates> resolved = resolve(child, index);
        if (!resolved) continue;
        if (!running) {
          running = std::move(resolved);
        } else {
          Candidates next;
          next.owned = intersect(running->get(), resolved->get());
          running = std::move(next);
        }
      }
      return running;
    }
    case Filter::Op::Ne:
    case Filter::Op::Gt:
    case Filter::Op::Gte:
    case Filter::Op::Lt:
    case Filter::Op::Lte:
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

Filter Filter::eq(std::string field, Json value) {
  Filter f;
  f.op = Op::Eq;
  f.field = std::move(field);
  f.value = std::move(value);
  return f;
}

Filter Filter::ne(std::string field, Json value) {
  Filter f;
  f.op = Op::Ne;
  f.field = std::move(field);
  f.value = std::move(value);
  return f;
}

Filter Filter::in(std::string field, std::vector<Json> values) {
  Filter f;
  f.op = Op::In;
  f.field = std::move(field);
  f.values = std::move(values);
  return f;
}

Filter Filter::range(Op op, std::string field, double threshold) {
  assert(op == Op::Gt || op == Op::Gte || op == Op::Lt || op == Op::Lte);
  Filter f;
  f.op = op;
  f.field = std::move(field);
  f.threshold = threshold;
  return f;
}

Filter Filter::all_of(std::vector<Filter> children) {
  Filter f;
  f.op = Op::And;
  f.children = std::move(children);
  return f;
}

bool Filter::matches(const std::optional<Json>& metadata) const {
  if (!metadata.has_value() || !metadata->is_object()) return false;
  if (op == Op::And) {
    for (const Filter& child : children) {
      if (!child.matches(metadata)) return false;
    }
    return true;
  }
  const auto it = metadata->find(field);
  const bool present = it != metadata->end();
  switch (op) {
    case Op::Eq:
      return present && json_equal(*it, value);
    case Op::Ne:
      return !present || !json_equal(*it, value);
    case Op::In:
      if (!present) return false;
      for (const Json& v : values) {
        if (json_equal(*it, v)) return true;
      }
      return false;
    case Op::Gt:
    case Op::Gte:
    case Op::Lt:
    case Op::Lte:
      return present && it->is_number() && compare(op, number_as_double(*it), threshold);
    case Op::And:
      break;
  }
  return false;
}

bool Filter::index_answers_exactly() const {
  switch (op) {
    case Op::Eq:
      return indexable(value);
    case Op::In:
      return std::all_of(values.begin(), values.end(), indexable);
    case Op::And:
      return !children.empty() &&
             std::all_of(children.begin(), children.end(), [](const Filter& c) { return c.index_answers_exactly(); });
    default:
      return false;
  }
}

std::optional<SlotSet> Filter::resolve_from_index(const MetadataIndex& index) const {
  std::optional<Candidates> resolved = resolve(*this, index);
  if (!resolved) return std::nullopt;
  return std::move(*resolved).take();
}

}  // namespace quarn
