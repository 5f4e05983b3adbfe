#pragma once

#include <string>

#include "errors.h"
#include "quarn/json.h"

namespace quarn_py {

// Metadata dict to a JSON value through json.dumps and the engine's parser; NumPy scalars become
// the JSON type they hold. A value JSON cannot hold raises "invalid metadata: <where>['field']
// ..." naming it: ValueError for NaN and infinities, TypeError for a type JSON has no form for.
// `where` names the argument, e.g. "metadata" or "metadatas[3]".
quarn::Json pythonize_dict(PyObject* dict, const char* where = "metadata");

// JSON value (or its compact text) to a new Python object through json.loads.
py::object json_to_python(const quarn::Json& value);
py::object json_text_to_python(const std::string& text);

}  // namespace quarn_py
