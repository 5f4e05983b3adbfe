#pragma once

#include <vector>

#include "errors.h"
#include "quarn/database.h"

namespace quarn_py {

// Creates the class SearchResult (a new reference), once per process.
PyObject* search_result_type();

// A SearchResult object holding copies of the hit's id and distance and its metadata as
// compact JSON text.
py::object make_search_result(quarn::SearchResult&& hit);

// A list of SearchResult objects, in order.
py::list make_result_list(std::vector<quarn::SearchResult>&& hits);

}  // namespace quarn_py
