#include "filter_parse.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "args.h"

namespace quarn_py {

namespace {

std::string key_text(PyObject* key) {
  if (!PyUnicode_Check(key)) {
    raise(PyExc_TypeError, "'" + type_name(key) + "' object cannot be converted to 'PyString'");
  }
  std::string text;
  if (!utf8_of(key, text)) throw py::error_already_set();
  return text;
}

bool is_bool(PyObject* obj) {
  if (PyBool_Check(obj)) return true;
  const char* name = Py_TYPE(obj)->tp_name;
  return std::strcmp(name, "numpy.bool_") == 0 || std::strcmp(name, "numpy.bool") == 0;
}

// Range operand through the float protocol; None when the object has no float value.
std::optional<double> number_of(PyObject* obj) {
  const double value = PyFloat_AsDouble(obj);
  if (value == -1.0 && PyErr_Occurred()) {
    PyErr_Clear();
    return std::nullopt;
  }
  return value;
}

void parse_operators(const std::string& field, PyObject* ops, std::vector<quarn::Filter>& leaves) {
  PyObject* op = nullptr;
  PyObject* arg = nullptr;
  Py_ssize_t pos = 0;
  while (PyDict_Next(ops, &pos, &op, &arg)) {
    const std::string name = key_text(op);
    auto held = py::reinterpret_borrow<py::object>(arg);
    arg = held.ptr();
    if (name == "$ne") {
      leaves.push_back(quarn::Filter::ne(field, py_to_json(arg)));
    } else if (name == "$in") {
      if (!PyList_Check(arg)) raise(PyExc_ValueError, "$in value must be a list");
      std::vector<quarn::Json> values;
      values.reserve(static_cast<std::size_t>(PyList_GET_SIZE(arg)));
      // Re-read the size each round: converting an item may run Python code.
      for (Py_ssize_t i = 0; i < PyList_GET_SIZE(arg); ++i) {
        values.push_back(py_to_json(py::reinterpret_borrow<py::object>(PyList_GET_ITEM(arg, i)).ptr()));
      }
      leaves.push_back(quarn::Filter::in(field, std::move(values)));
    } else if (name == "$gt" || name == "$gte" || name == "$lt" || name == "$lte") {
      const std::optional<double> threshold = number_of(arg);
      if (!threshold) raise(PyExc_ValueError, name + " value must be a number");
      const quarn::Filter::Op kind = name == "$gt"    ? quarn::Filter::Op::Gt
                                     : name == "$gte" ? quarn::Filter::Op::Gte
                                     : name == "$lt"  ? quarn::Filter::Op::Lt
                                                      : quarn::Filter::Op::Lte;
      leaves.push_back(quarn::Filter::range(kind, field, *threshold));
    } else {
      raise(PyExc_ValueError, "unknown operator: " + name);
    }
  }
}

}  // namespace

quarn::Json py_to_json(PyObject* value) {
  if (PyUnicode_Check(value)) {
    std::string text;
    if (!utf8_of(value, text)) throw py::error_already_set();
    return quarn::Json(std::move(text));
  }
  if (is_bool(value)) return quarn::Json(PyObject_IsTrue(value) == 1);

  PyObject* index = PyNumber_Index(value);
  if (index != nullptr) {
    int overflow = 0;
    const long long integer = PyLong_AsLongLongAndOverflow(index, &overflow);
    Py_DECREF(index);
    if (overflow == 0 && !(integer == -1 && PyErr_Occurred())) {
      if (integer < 0) return quarn::Json(static_cast<std::int64_t>(integer));
      return quarn::Json(static_cast<std::uint64_t>(integer));
    }
  }
  PyErr_Clear();

  const double number = PyFloat_AsDouble(value);
  if (!(number == -1.0 && PyErr_Occurred())) {
    if (std::isfinite(number)) return quarn::Json(number);
    return quarn::Json(nullptr);
  }
  PyErr_Clear();

  if (value == Py_None) return quarn::Json(nullptr);
  raise(PyExc_ValueError, "unsupported filter value type");
}

quarn::Filter parse_filter(PyObject* dict) {
  std::vector<quarn::Filter> leaves;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  Py_ssize_t pos = 0;
  while (PyDict_Next(dict, &pos, &key, &value)) {
    // Hold the value: converting operands may run Python code that mutates the dict.
    auto held = py::reinterpret_borrow<py::object>(value);
    std::string field = key_text(key);
    if (PyDict_Check(held.ptr())) {
      parse_operators(field, held.ptr(), leaves);
    } else {
      leaves.push_back(quarn::Filter::eq(std::move(field), py_to_json(held.ptr())));
    }
  }
  if (leaves.size() == 1) return std::move(leaves.front());
  return quarn::Filter::all_of(std::move(leaves));
}

}  // namespace quarn_py
