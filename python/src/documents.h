#pragma once

#include <optional>
#include <string>
#include <vector>

#include "errors.h"

namespace quarn_py {

// A document argument: None (or omitted, null) gives none, a str its UTF-8. Anything else, or a
// str with lone surrogates, raises ValueError starting with `where` ("document",
// "documents[3]"). Length and UTF-8 rules beyond that are the engine's.
std::optional<std::string> document_arg(PyObject* obj, const std::string& where);

// The documents= argument of a batch: empty for None (or omitted); else a list as long as the
// batch, converted item by item.
std::vector<std::optional<std::string>> documents_list_arg(PyObject* obj, std::size_t rows);

// A document as a Python str, or None.
py::object document_to_python(const std::optional<std::string>& document);

}  // namespace quarn_py
