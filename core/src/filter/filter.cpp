#include "quarn/filter.h"

#include <algorithm>
#include <cassert>
#include <utility>

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

Filter Filter::nin(std::string field, std::vector<Json> values) {
  Filter f = in(std::move(field), std::move(values));
  f.op = Op::Nin;
  return f;
}

Filter Filter::exists(std::string field, bool present) {
  Filter f;
  f.op = Op::Exists;
  f.field = std::move(field);
  f.value = present;
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

Filter Filter::any_of(std::vector<Filter> children) {
  Filter f;
  f.op = Op::Or;
  f.children = std::move(children);
  return f;
}

bool Filter::matches(const std::optional<Json>& metadata) const {
  if (!metadata.has_value() || !metadata->is_object()) return false;
  if (op == Op::And) {
    return std::all_of(children.begin(), children.end(), [&](const Filter& c) { return c.matches(metadata); });
  }
  if (op == Op::Or) {
    return std::any_of(children.begin(), children.end(), [&](const Filter& c) { return c.matches(metadata); });
  }
  const auto it = metadata->find(field);
  const bool present = it != metadata->end();
  auto listed = [&] {
    return std::any_of(values.begin(), values.end(), [&](const Json& v) { return json_equal(*it, v); });
  };
  switch (op) {
    case Op::Eq:
      return present && json_equal(*it, value);
    case Op::Ne:
      return !present || !json_equal(*it, value);
    case Op::In:
      return present && listed();
    case Op::Nin:
      return !present || !listed();
    case Op::Gt:
    case Op::Gte:
    case Op::Lt:
    case Op::Lte:
      return present && it->is_number() && compare(op, number_as_double(*it), threshold);
    case Op::Exists:
      return present == (value.is_boolean() && value.get<bool>());
    case Op::And:
    case Op::Or:
      break;
  }
  return false;
}

bool Filter::index_answers_exactly() const {
  auto exact = [](const Filter& c) { return c.index_answers_exactly(); };
  switch (op) {
    case Op::Eq:
      return indexable(value);
    case Op::In:
      return std::all_of(values.begin(), values.end(), indexable);
    case Op::Gt:
    case Op::Gte:
    case Op::Lt:
    case Op::Lte:
      // The index holds every number but NaN, which no range admits; a NaN threshold admits
      // nothing and resolves to the empty set.
      return true;
    case Op::And:
      // Without children the index has nothing to look up.
      return !children.empty() && std::all_of(children.begin(), children.end(), exact);
    case Op::Or:
      // The union of exact sets is exact; without children it is the empty set, as it should be.
      return std::all_of(children.begin(), children.end(), exact);
    default:
      return false;
  }
}

}  // namespace quarn
