#include "errors.h"

#include <cstring>

namespace quarn_py {

void raise(PyObject* type, const std::string& message) {
  PyErr_SetString(type, message.c_str());
  throw py::error_already_set();
}

void raise_argument_type(const char* name, const std::string& message) {
  raise(PyExc_TypeError, std::string("argument '") + name + "': " + message);
}

void raise_pending_for_argument(const char* name) {
  if (PyErr_ExceptionMatches(PyExc_TypeError)) raise_argument_type(name, fetch_error_text());
  throw py::error_already_set();
}

void raise_engine(const quarn::QuarnError& error) {
  // Damage found in a stored file keeps the "io error: " wording callers match on, now followed
  // by the file's name.
  if (error.kind() == quarn::QuarnError::Kind::Corrupt && !error.file().empty()) {
    raise(PyExc_ValueError, "io error: " + error.file() + ": " + error.detail());
  }
  raise(PyExc_ValueError, error.text());
}

std::string fetch_error_text() {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  std::string text;
  if (value != nullptr) {
    PyObject* str = PyObject_Str(value);
    if (str != nullptr) {
      Py_ssize_t size = 0;
      const char* data = PyUnicode_AsUTF8AndSize(str, &size);
      if (data != nullptr) text.assign(data, static_cast<std::size_t>(size));
      Py_DECREF(str);
    }
  }
  PyErr_Clear();
  Py_XDECREF(type);
  Py_XDECREF(value);
  Py_XDECREF(traceback);
  return text;
}

std::string type_name(PyObject* obj) {
  const char* full = Py_TYPE(obj)->tp_name;
  const char* dot = std::strrchr(full, '.');
  return dot != nullptr ? std::string(dot + 1) : std::string(full);
}

}  // namespace quarn_py
