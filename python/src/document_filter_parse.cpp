#include "document_filter_parse.h"

#include <string>
#include <utility>
#include <vector>

#include "args.h"

namespace quarn_py {

namespace {

constexpr int kMaxDepth = 100;

[[noreturn]] void refuse(const std::string& what) { raise(PyExc_ValueError, "where_document: " + what); }

quarn::DocumentFilter parse_level(PyObject* obj, int depth);

quarn::DocumentFilter parse_item(PyObject* key, PyObject* value, int depth) {
  std::string name;
  if (!PyUnicode_Check(key) || !utf8_of(key, name)) {
    PyErr_Clear();
    refuse("operators are str, got '" + type_name(key) + "'");
  }
  quarn::DocumentFilter out;
  if (name == "$contains" || name == "$not_contains") {
    out.op = name == "$contains" ? quarn::DocumentFilter::Op::Contains : quarn::DocumentFilter::Op::NotContains;
    if (!PyUnicode_Check(value)) refuse(name + " value must be a str, not '" + type_name(value) + "'");
    if (!utf8_of(value, out.value)) {
      PyErr_Clear();
      refuse(name + " value is not valid Unicode text");
    }
    return out;
  }
  if (name == "$and" || name == "$or") {
    out.op = name == "$and" ? quarn::DocumentFilter::Op::And : quarn::DocumentFilter::Op::Or;
    if (!PyList_Check(value) || PyList_GET_SIZE(value) == 0) {
      refuse(name + " value must be a non-empty list of dicts, not '" + type_name(value) + "'");
    }
    // Re-read the size each round: a branch may run Python code while it converts.
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(value); ++i) {
      py::object branch = py::reinterpret_borrow<py::object>(PyList_GET_ITEM(value, i));
      out.children.push_back(parse_level(branch.ptr(), depth + 1));
    }
    return out;
  }
  refuse("unknown operator '" + name + "'; use $contains, $not_contains, $and or $or");
}

quarn::DocumentFilter parse_level(PyObject* obj, int depth) {
  if (depth > kMaxDepth) refuse("nested deeper than " + std::to_string(kMaxDepth) + " levels");
  if (!PyDict_Check(obj)) refuse("expected a dict such as {\"$contains\": \"word\"}, not '" + type_name(obj) + "'");
  PyObject* items_obj = PyDict_Items(obj);
  if (items_obj == nullptr) throw py::error_already_set();
  const py::list items = py::reinterpret_steal<py::list>(items_obj);
  if (items.empty()) refuse("an empty dict holds no condition");
  std::vector<quarn::DocumentFilter> parts;
  for (const py::handle item : items) {
    parts.push_back(parse_item(PyTuple_GET_ITEM(item.ptr(), 0), PyTuple_GET_ITEM(item.ptr(), 1), depth));
  }
  if (parts.size() == 1) return std::move(parts.front());
  quarn::DocumentFilter all;
  all.op = quarn::DocumentFilter::Op::And;
  all.children = std::move(parts);
  return all;
}

}  // namespace

quarn::DocumentFilter parse_document_filter(PyObject* obj) { return parse_level(obj, 0); }

std::optional<quarn::DocumentFilter> parse_optional_document_filter(PyObject* obj) {
  if (obj == nullptr || obj == Py_None) return std::nullopt;
  return parse_document_filter(obj);
}

}  // namespace quarn_py
