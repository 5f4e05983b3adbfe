#include "json_convert.h"

#include <cmath>

#include "args.h"
#include "numpy_types.h"

namespace quarn_py {

namespace {

py::object json_function(const char* name) {
  return py::module_::import("json").attr(name);
}

// json.dumps' `default`: a NumPy scalar becomes the Python value it holds (np.int64 -> int,
// np.float32 -> float, np.bool_ -> bool); anything else is refused as dumps would refuse it.
PyObject* json_default(PyObject*, PyObject* obj) {
  if (is_numpy_scalar(obj)) return PyObject_CallMethod(obj, "item", nullptr);
  PyErr_Format(PyExc_TypeError, "Object of type %s is not JSON serializable", Py_TYPE(obj)->tp_name);
  return nullptr;
}

PyMethodDef json_default_def = {"_json_default", json_default, METH_O, nullptr};

py::object dumps_with_numpy(PyObject* dict) {
  static PyObject* hook = PyCFunction_New(&json_default_def, nullptr);  // kept for the process
  if (hook == nullptr) throw py::error_already_set();
  return json_function("dumps")(py::handle(dict), py::arg("default") = py::handle(hook));
}

std::string repr_of(PyObject* obj) {
  py::object text = py::reinterpret_steal<py::object>(PyObject_Repr(obj));
  if (!text) {
    PyErr_Clear();
    return "?";
  }
  std::string out;
  if (!utf8_of(text.ptr(), out)) PyErr_Clear();
  return out;
}

// The first value under `obj` that JSON cannot hold: sets `path` (Python subscripts appended to
// what it holds), `type` (the exception to raise) and `reason`. False when every value is fine.
bool find_unstorable(PyObject* obj, std::string& path, PyObject*& type, std::string& reason, int depth = 0) {
  if (depth > 200) {
    type = PyExc_ValueError;
    reason = "is nested too deeply (or contains itself)";
    return true;
  }
  if (obj == Py_None || PyBool_Check(obj) || PyLong_Check(obj) || PyUnicode_Check(obj)) return false;
  if (PyFloat_Check(obj)) {
    const double v = PyFloat_AS_DOUBLE(obj);
    if (std::isfinite(v)) return false;
    type = PyExc_ValueError;
    reason = std::string("is ") + (std::isnan(v) ? "NaN" : v > 0 ? "inf" : "-inf") + "; numbers must be finite";
    return true;
  }
  if (is_numpy_scalar(obj)) {
    py::object value = py::reinterpret_steal<py::object>(PyObject_CallMethod(obj, "item", nullptr));
    if (!value) PyErr_Clear();
    if (!value || is_numpy_scalar(value.ptr())) {
      type = PyExc_TypeError;
      reason = "is a NumPy " + type_name(obj) + ", which JSON cannot hold";
      return true;
    }
    return find_unstorable(value.ptr(), path, type, reason, depth + 1);
  }
  if (PyDict_Check(obj)) {
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t pos = 0;
    while (PyDict_Next(obj, &pos, &key, &value)) {
      const bool plain_key = PyUnicode_Check(key) || PyLong_Check(key) || PyFloat_Check(key) || key == Py_None;
      if (!plain_key) {
        type = PyExc_TypeError;
        reason = "has the key " + repr_of(key) + " of type '" + type_name(key) + "'; keys must be str";
        return true;
      }
      const std::size_t length = path.size();
      path += "[" + repr_of(key) + "]";
      if (find_unstorable(value, path, type, reason, depth + 1)) return true;
      path.resize(length);
    }
    return false;
  }
  if (PyList_Check(obj) || PyTuple_Check(obj)) {
    py::object items = py::reinterpret_steal<py::object>(PySequence_Fast(obj, ""));
    if (!items) throw py::error_already_set();
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(items.ptr());
    for (Py_ssize_t i = 0; i < n; ++i) {
      const std::size_t length = path.size();
      path += "[" + std::to_string(i) + "]";
      if (find_unstorable(PySequence_Fast_GET_ITEM(items.ptr(), i), path, type, reason, depth + 1)) return true;
      path.resize(length);
    }
    return false;
  }
  type = PyExc_TypeError;
  reason = "is of type '" + type_name(obj) + "', which JSON cannot hold";
  return true;
}

// Raises the error for metadata that json.dumps or the engine's parser refused, naming the
// field; falls back to `fallback` when no single value is to blame.
[[noreturn]] void raise_metadata_error(PyObject* dict, const char* where, const std::string& fallback,
                                       PyObject* fallback_type) {
  std::string path = where;
  PyObject* type = nullptr;
  std::string reason;
  if (find_unstorable(dict, path, type, reason)) raise(type, "invalid metadata: " + path + " " + reason);
  raise(fallback_type, "invalid metadata: " + std::string(where) + ": " + fallback);
}

}  // namespace

quarn::Json pythonize_dict(PyObject* dict, const char* where) {
  py::object text;
  try {
    text = dumps_with_numpy(dict);
  } catch (py::error_already_set& e) {
    // Keep the interpreter's own errors (MemoryError, KeyboardInterrupt) as they are.
    if (!e.matches(PyExc_TypeError) && !e.matches(PyExc_ValueError) && !e.matches(PyExc_RecursionError)) throw;
    PyObject* type = e.matches(PyExc_TypeError) ? PyExc_TypeError : PyExc_ValueError;
    e.restore();
    const std::string message = fetch_error_text();
    raise_metadata_error(dict, where, message, type);
  }
  std::string utf8;
  if (!PyUnicode_Check(text.ptr())) raise(PyExc_TypeError, "json.dumps did not return a str");
  if (!utf8_of(text.ptr(), utf8)) throw py::error_already_set();
  quarn::JsonParse parsed = quarn::json_parse(utf8);
  if (!parsed.value) raise_metadata_error(dict, where, parsed.error, PyExc_ValueError);
  return std::move(*parsed.value);
}

py::object json_text_to_python(const std::string& text) {
  return json_function("loads")(py::str(text));
}

py::object json_to_python(const quarn::Json& value) { return json_text_to_python(quarn::json_dump(value)); }

}  // namespace quarn_py
