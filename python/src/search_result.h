#pragma once

#include <optional>
#include <vector>

#include "errors.h"
#include "quarn/database.h"

namespace quarn_py {

// Creates the class SearchResult (a new reference), once per process.
PyObject* search_result_type();

// A SearchResult object holding copies of the hit's id and distance, its metadata as compact
// JSON text and, when given, its vector as a float32 array.
py::object make_search_result(quarn::SearchResult&& hit, const std::vector<float>* vector = nullptr);

// A list of SearchResult objects, in order; `vectors`, when given, holds one entry per hit
// (empty for a record that was gone by the time its vector was read).
py::list make_result_list(std::vector<quarn::SearchResult>&& hits,
                          const std::vector<std::optional<std::vector<float>>>* vectors = nullptr);

}  // namespace quarn_py
