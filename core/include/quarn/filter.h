#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "quarn/json.h"

namespace quarn {

class MetadataIndex;

// Slots of the records a filter may match (the engine's record numbers).
using SlotSet = std::unordered_set<std::uint32_t>;

// Metadata filter tree; every leaf names one top-level metadata field.
struct Filter {
  enum class Op { Eq, Ne, In, Gt, Gte, Lt, Lte, And };

  Op op = Op::And;
  std::string field;             // leaves
  Json value;                    // Eq, Ne
  std::vector<Json> values;      // In
  double threshold = 0.0;        // Gt, Gte, Lt, Lte
  std::vector<Filter> children;  // And

  static Filter eq(std::string field, Json value);
  static Filter ne(std::string field, Json value);
  static Filter in(std::string field, std::vector<Json> values);
  static Filter range(Op op, std::string field, double threshold);
  static Filter all_of(std::vector<Filter> children);

  // Record test; absent or non-object metadata never matches.
  bool matches(const std::optional<Json>& metadata) const;

  // Candidate slots from the index, or nothing when the index cannot answer the filter. Every
  // live slot that passes `matches` is in a returned set. Filters the index would answer too
  // narrowly (an And without leaves, an Eq or In operand that is null, an array or an object)
  // resolve to nothing.
  std::optional<SlotSet> resolve_from_index(const MetadataIndex& index) const;

  // Whether the set resolve_from_index returns holds exactly the records that match (Eq and In
  // leaves on booleans, numbers and strings, joined by And), so that they need no second test.
  bool index_answers_exactly() const;
};

}  // namespace quarn
