#pragma once

#include <optional>

#include "errors.h"
#include "quarn/filter.h"

namespace quarn_py {

// Translates a where_document dict into a document filter: {"$contains": str},
// {"$not_contains": str}, or {"$and" | "$or": [such dicts, at least one]}, nested up to 100
// levels; several items in one dict are joined by AND. Anything else raises ValueError naming
// what is wrong.
quarn::DocumentFilter parse_document_filter(PyObject* obj);

// parse_document_filter of an optional argument: nothing for null or None.
std::optional<quarn::DocumentFilter> parse_optional_document_filter(PyObject* obj);

}  // namespace quarn_py
