#pragma once

#include <optional>
#include <string>
#include <vector>

#include "quarn/json.h"

namespace quarn {

// Metadata filter tree. Leaves name one top-level metadata field; And and Or join any number
// of subtrees. A record without metadata, or whose metadata is not an object, matches no
// filter at all. Values compare with json_equal: 1, 1.0 and true are three different values.
struct Filter {
  enum class Op { Eq, Ne, In, Nin, Gt, Gte, Lt, Lte, Exists, And, Or };

  Op op = Op::And;
  std::string field;             // leaves
  Json value;                    // Eq, Ne; Exists: true or false
  std::vector<Json> values;      // In, Nin
  double threshold = 0.0;        // Gt, Gte, Lt, Lte
  std::vector<Filter> children;  // And, Or

  // The field holds the value.
  static Filter eq(std::string field, Json value);
  // The field is missing or holds another value.
  static Filter ne(std::string field, Json value);
  // The field holds one of the values (none for an empty list).
  static Filter in(std::string field, std::vector<Json> values);
  // The field is missing or holds none of the values.
  static Filter nin(std::string field, std::vector<Json> values);
  // The field holds a number (not a bool) in the range; NaN thresholds match nothing.
  static Filter range(Op op, std::string field, double threshold);
  // The field is present (with any value, null included), or absent for `present` false.
  static Filter exists(std::string field, bool present);
  // Every child matches; without children, every record with metadata.
  static Filter all_of(std::vector<Filter> children);
  // Some child matches; without children, nothing.
  static Filter any_of(std::vector<Filter> children);

  bool matches(const std::optional<Json>& metadata) const;

  // Whether the metadata index answers this filter exactly, so that its candidates need no
  // record test: Eq and In leaves on booleans, numbers and strings and range leaves, joined by
  // a non-empty And or by any Or.
  bool index_answers_exactly() const;
};

// Document filter tree, on the words of records' documents. Contains matches a record whose
// document holds every term of `value` (terms as the keyword index makes them: "cat" does not
// match "concatenate"); NotContains is its complement, so a record without a document matches
// it. And and Or join one or more subtrees. A value without terms fails the call that uses it
// with InvalidArgument.
struct DocumentFilter {
  enum class Op { Contains, NotContains, And, Or };
  Op op = Op::Contains;
  std::string value;                     // Contains, NotContains
  std::vector<DocumentFilter> children;  // And, Or
};

}  // namespace quarn
