#include "numpy_types.h"

namespace quarn_py {

namespace {

// numpy.<name> (a type), or null while NumPy has not been imported. Found once and kept in
// `cache` for the life of the process.
PyTypeObject* numpy_type(const char* name, PyTypeObject*& cache) {
  if (cache != nullptr) return cache;
  PyObject* numpy = PyImport_GetModule(py::str("numpy").ptr());
  if (numpy == nullptr) {
    PyErr_Clear();
    return nullptr;
  }
  PyObject* type = PyObject_GetAttrString(numpy, name);
  Py_DECREF(numpy);
  if (type == nullptr || !PyType_Check(type)) {
    PyErr_Clear();
    Py_XDECREF(type);
    return nullptr;
  }
  cache = reinterpret_cast<PyTypeObject*>(type);
  return cache;
}

PyTypeObject* ndarray_type() {
  static PyTypeObject* cached = nullptr;
  return numpy_type("ndarray", cached);
}

PyTypeObject* scalar_type() {
  static PyTypeObject* cached = nullptr;
  return numpy_type("generic", cached);
}

}  // namespace

bool is_array(PyObject* obj) {
  PyTypeObject* type = ndarray_type();
  return type != nullptr && PyObject_TypeCheck(obj, type);
}

bool is_exact_array(PyObject* obj) {
  PyTypeObject* type = ndarray_type();
  return type != nullptr && Py_TYPE(obj) == type;
}

bool is_numpy_scalar(PyObject* obj) {
  PyTypeObject* type = scalar_type();
  return type != nullptr && PyObject_TypeCheck(obj, type);
}

}  // namespace quarn_py
