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

// Deeper filters are refused rather than risking the C stack (a list may even contain itself).
constexpr int kMaxDepth = 100;

// A copy of a dict's items, stable while converting operands runs Python code.
py::list items_of(PyObject* dict) {
  PyObject* items = PyDict_Items(dict);
  if (items == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::list>(items);
}

std::vector<quarn::Json> operand_list(const std::string& name, PyObject* arg) {
  if (!PyList_Check(arg)) raise(PyExc_ValueError, name + " value must be a list");
  std::vector<quarn::Json> values;
  values.reserve(static_cast<std::size_t>(PyList_GET_SIZE(arg)));
  // Re-read the size each round: converting an item may run Python code.
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(arg); ++i) {
    values.push_back(py_to_json(py::reinterpret_borrow<py::object>(PyList_GET_ITEM(arg, i)).ptr()));
  }
  return values;
}

void parse_operators(const std::string& field, PyObject* ops, std::vector<quarn::Filter>& leaves) {
  const py::list items = items_of(ops);
  for (const py::handle item : items) {
    const std::string name = key_text(PyTuple_GET_ITEM(item.ptr(), 0));
    PyObject* arg = PyTuple_GET_ITEM(item.ptr(), 1);
    if (name == "$eq") {
      leaves.push_back(quarn::Filter::eq(field, py_to_json(arg)));
    } else if (name == "$ne") {
      leaves.push_back(quarn::Filter::ne(field, py_to_json(arg)));
    } else if (name == "$in") {
      leaves.push_back(quarn::Filter::in(field, operand_list(name, arg)));
    } else if (name == "$nin") {
      leaves.push_back(quarn::Filter::nin(field, operand_list(name, arg)));
    } else if (name == "$exists") {
      if (!is_bool(arg)) raise(PyExc_ValueError, "$exists value must be True or False");
      leaves.push_back(quarn::Filter::exists(field, PyObject_IsTrue(arg) == 1));
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

quarn::Filter parse_where(PyObject* dict, int depth);

// The operand of "$or" / "$and": a list of filter dicts.
std::vector<quarn::Filter> parse_branches(const std::string& name, PyObject* arg, int depth) {
  if (!PyList_Check(arg)) {
    raise(PyExc_ValueError, name + " value must be a list of filter dicts, not '" + type_name(arg) + "'");
  }
  std::vector<quarn::Filter> children;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(arg); ++i) {
    auto branch = py::reinterpret_borrow<py::object>(PyList_GET_ITEM(arg, i));
    if (!PyDict_Check(branch.ptr())) {
      raise(PyExc_ValueError,
            name + "[" + std::to_string(i) + "] must be a filter dict, not '" + type_name(branch.ptr()) + "'");
    }
    children.push_back(parse_where(branch.ptr(), depth + 1));
  }
  return children;
}

quarn::Filter parse_where(PyObject* dict, int depth) {
  if (depth > kMaxDepth) raise(PyExc_ValueError, "filter nested deeper than " + std::to_string(kMaxDepth) + " levels");
  std::vector<quarn::Filter> leaves;
  const py::list items = items_of(dict);
  for (const py::handle item : items) {
    std::string key = key_text(PyTuple_GET_ITEM(item.ptr(), 0));
    PyObject* value = PyTuple_GET_ITEM(item.ptr(), 1);
    if (key.starts_with('$')) {
      if (key == "$or") {
        leaves.push_back(quarn::Filter::any_of(parse_branches(key, value, depth)));
      } else if (key == "$and") {
        leaves.push_back(quarn::Filter::all_of(parse_branches(key, value, depth)));
      } else {
        raise(PyExc_ValueError, "unknown operator: " + key);
      }
    } else if (PyDict_Check(value)) {
      parse_operators(key, value, leaves);
    } else {
      leaves.push_back(quarn::Filter::eq(std::move(key), py_to_json(value)));
    }
  }
  if (leaves.size() == 1) return std::move(leaves.front());
  return quarn::Filter::all_of(std::move(leaves));
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

quarn::Filter parse_filter(PyObject* dict) { return parse_where(dict, 0); }

std::optional<quarn::Filter> parse_optional_filter(PyObject* dict) {
  if (dict == nullptr) return std::nullopt;
  return parse_filter(dict);
}

}  // namespace quarn_py
