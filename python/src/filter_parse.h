#pragma once

#include <optional>

#include "errors.h"
#include "quarn/filter.h"
#include "quarn/json.h"

namespace quarn_py {

// Translates a where_filter dict into a filter tree. Each item is a condition on one field (a
// plain value means equality, a dict holds operators: "$eq", "$ne", "$in", "$nin", "$gt",
// "$gte", "$lt", "$lte", "$exists") or "$or" / "$and" with a list of such dicts, nested to any
// depth up to 100 levels; the items of one dict are joined by AND. Raises ValueError for a bad
// operator or operand and TypeError for a field name or operator that is not a str.
quarn::Filter parse_filter(PyObject* dict);

// parse_filter of an optional argument: nothing for null (the argument was None or not given).
std::optional<quarn::Filter> parse_optional_filter(PyObject* dict);

// One filter operand as a JSON value: str, bool, 64-bit int, float (null when not finite) or
// None; anything else is ValueError "unsupported filter value type".
quarn::Json py_to_json(PyObject* value);

}  // namespace quarn_py
