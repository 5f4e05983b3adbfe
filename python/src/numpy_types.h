#pragma once

#include "errors.h"

namespace quarn_py {

// NumPy's types, looked up once NumPy has been imported; before that no object can be one of
// them, and nothing imports NumPy for the asking.
bool is_array(PyObject* obj);        // an ndarray or a subclass
bool is_exact_array(PyObject* obj);  // an ndarray itself
bool is_numpy_scalar(PyObject* obj); // np.int64(1), np.float32(2), np.bool_(True), ...

}  // namespace quarn_py
