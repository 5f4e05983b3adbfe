#include "args.h"

#include <cstring>

namespace quarn_py {

namespace {

// `expected` is what the argument must be, e.g. "str" or "a sequence of str".
[[noreturn]] void raise_not_convertible(const char* name, PyObject* obj, const char* expected) {
  raise_argument_type(name, std::string("expected ") + expected + ", not '" + type_name(obj) + "'");
}

bool is_numpy_bool(PyObject* obj) {
  const char* name = Py_TYPE(obj)->tp_name;
  return std::strcmp(name, "numpy.bool_") == 0 || std::strcmp(name, "numpy.bool") == 0;
}

}  // namespace

void check_keywords(PyObject* kwargs, const char* format, const char* const* keywords) {
  if (kwargs == nullptr) return;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  Py_ssize_t pos = 0;
  while (PyDict_Next(kwargs, &pos, &key, &value)) {
    if (!PyUnicode_Check(key)) continue;  // CPython's parser reports these itself
    const char* name = PyUnicode_AsUTF8(key);
    if (name == nullptr) throw py::error_already_set();
    bool known = false;
    for (const char* const* k = keywords; *k != nullptr && !known; ++k) known = std::strcmp(*k, name) == 0;
    if (!known) {
      const char* function = std::strchr(format, ':');
      raise(PyExc_TypeError, std::string(function != nullptr ? function + 1 : "function") +
                                 "() got an unexpected keyword argument '" + name + "'");
    }
  }
}

bool utf8_of(PyObject* str, std::string& out) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(str, &size);
  if (data == nullptr) return false;
  out.assign(data, static_cast<std::size_t>(size));
  return true;
}

std::string string_arg(PyObject* obj, const char* name) {
  if (!PyUnicode_Check(obj)) raise_not_convertible(name, obj, "str");
  std::string out;
  if (!utf8_of(obj, out)) raise_pending_for_argument(name);
  return out;
}

std::string path_arg(PyObject* obj, const char* name) {
  if (PyUnicode_Check(obj)) return string_arg(obj, name);
  py::object fspath = py::reinterpret_steal<py::object>(PyOS_FSPath(obj));
  if (!fspath) {
    PyErr_Clear();
    raise_argument_type(name, "expected str or os.PathLike, not '" + type_name(obj) + "'");
  }
  if (PyBytes_Check(fspath.ptr())) {
    fspath = py::reinterpret_steal<py::object>(PyUnicode_DecodeFSDefaultAndSize(
        PyBytes_AS_STRING(fspath.ptr()), PyBytes_GET_SIZE(fspath.ptr())));
    if (!fspath) raise_pending_for_argument(name);
  }
  std::string out;
  if (!utf8_of(fspath.ptr(), out)) raise_pending_for_argument(name);
  return out;
}

std::optional<std::string> optional_string_arg(PyObject* obj, const char* name) {
  if (obj == nullptr || obj == Py_None) return std::nullopt;
  return string_arg(obj, name);
}

std::uint64_t unsigned_arg(PyObject* obj, const char* name) {
  PyObject* index = PyNumber_Index(obj);
  if (index == nullptr) raise_pending_for_argument(name);
  const unsigned long long value = PyLong_AsUnsignedLongLong(index);
  Py_DECREF(index);
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) raise_pending_for_argument(name);
  return value;
}

std::optional<std::uint64_t> optional_unsigned_arg(PyObject* obj, const char* name) {
  if (obj == nullptr || obj == Py_None) return std::nullopt;
  return unsigned_arg(obj, name);
}

std::optional<float> optional_float_arg(PyObject* obj, const char* name) {
  if (obj == nullptr || obj == Py_None) return std::nullopt;
  const double value = PyFloat_AsDouble(obj);
  if (value == -1.0 && PyErr_Occurred()) raise_pending_for_argument(name);
  return static_cast<float>(value);
}

bool bool_arg(PyObject* obj, const char* name) {
  if (PyBool_Check(obj)) return obj == Py_True;
  if (is_numpy_bool(obj)) {
    const int truth = PyObject_IsTrue(obj);
    if (truth < 0) raise_pending_for_argument(name);
    return truth == 1;
  }
  raise_not_convertible(name, obj, "bool");
}

PyObject* optional_dict_arg(PyObject* obj, const char* name) {
  if (obj == nullptr || obj == Py_None) return nullptr;
  if (!PyDict_Check(obj)) raise_not_convertible(name, obj, "a dict or None");
  return obj;
}

PyObject* optional_list_arg(PyObject* obj, const char* name) {
  if (obj == nullptr || obj == Py_None) return nullptr;
  if (!PyList_Check(obj)) raise_not_convertible(name, obj, "a list or None");
  return obj;
}

std::vector<std::string> string_list_arg(PyObject* obj, const char* name) {
  if (PyUnicode_Check(obj)) raise_argument_type(name, "a str is not accepted as a sequence of str");
  if (!PySequence_Check(obj)) raise_not_convertible(name, obj, "a sequence of str");
  std::vector<std::string> out;
  const Py_ssize_t hint = PyObject_LengthHint(obj, 0);
  if (hint < 0) {
    PyErr_Clear();
  } else {
    out.reserve(static_cast<std::size_t>(hint));
  }
  py::object iter = py::reinterpret_steal<py::object>(PyObject_GetIter(obj));
  if (!iter) raise_pending_for_argument(name);
  while (true) {
    py::object item = py::reinterpret_steal<py::object>(PyIter_Next(iter.ptr()));
    if (!item) {
      if (PyErr_Occurred()) raise_pending_for_argument(name);
      break;
    }
    if (!PyUnicode_Check(item.ptr())) {
      raise_argument_type(name, "item " + std::to_string(out.size()) + ": expected str, not '" +
                                    type_name(item.ptr()) + "'");
    }
    std::string& id = out.emplace_back();
    if (!utf8_of(item.ptr(), id)) raise_pending_for_argument(name);
  }
  return out;
}

}  // namespace quarn_py
