// Entry point of the extension module _quarn: the classes Database and SearchResult, and tokenize.
#include "database_object.h"
#include "search_result.h"

namespace quarn_py {
PyMethodDef* text_tokenize_methods();  // text_tokenize.cpp
}

namespace {

PyModuleDef quarn_module = {
    PyModuleDef_HEAD_INIT,
    "_quarn",
    "The extension module of quarn; use the package quarn instead.",
    0,   // no per-module state
    nullptr, nullptr, nullptr, nullptr, nullptr,
};

// Adds `type` (a new reference, or null after a failed creation) under `name`; steals it.
bool add_type(PyObject* module, const char* name, PyObject* type) {
  if (type == nullptr) return false;
  if (PyModule_AddObject(module, name, type) < 0) {
    Py_DECREF(type);
    return false;
  }
  return true;
}

}  // namespace

extern "C" PYBIND11_EXPORT PyObject* PyInit__quarn() {
  PyObject* module = PyModule_Create(&quarn_module);
  if (module == nullptr) return nullptr;
  if (!add_type(module, "Database", quarn_py::database_type()) ||
      !add_type(module, "SearchResult", quarn_py::search_result_type()) ||
      PyModule_AddFunctions(module, quarn_py::text_tokenize_methods()) < 0) {
    Py_DECREF(module);
    return nullptr;
  }
  return module;
}
