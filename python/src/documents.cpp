#include "documents.h"

#include "args.h"

namespace quarn_py {

std::optional<std::string> document_arg(PyObject* obj, const std::string& where) {
  if (obj == nullptr || obj == Py_None) return std::nullopt;
  if (!PyUnicode_Check(obj)) raise(PyExc_ValueError, where + " must be a str or None, not '" + type_name(obj) + "'");
  std::string out;
  if (!utf8_of(obj, out)) {
    // Lone surrogates have no UTF-8 form.
    PyErr_Clear();
    raise(PyExc_ValueError, where + " is not valid UTF-8 (it holds a lone surrogate)");
  }
  return out;
}

std::vector<std::optional<std::string>> documents_list_arg(PyObject* obj, std::size_t rows) {
  PyObject* list = optional_list_arg(obj, "documents");
  if (list == nullptr) return {};
  const auto given = static_cast<std::size_t>(PyList_GET_SIZE(list));
  if (given != rows) {
    raise(PyExc_ValueError,
          "documents length (" + std::to_string(given) + ") != ids length (" + std::to_string(rows) + ")");
  }
  std::vector<std::optional<std::string>> out(given);
  for (std::size_t i = 0; i < given; ++i) {
    // A strong reference: nothing here runs Python code, but the list is the caller's.
    py::object item = py::reinterpret_borrow<py::object>(PyList_GET_ITEM(list, static_cast<Py_ssize_t>(i)));
    out[i] = document_arg(item.ptr(), "documents[" + std::to_string(i) + "]");
  }
  return out;
}

py::object document_to_python(const std::optional<std::string>& document) {
  if (!document) return py::none();
  PyObject* text = PyUnicode_DecodeUTF8(document->data(), static_cast<Py_ssize_t>(document->size()), "strict");
  if (text == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(text);
}

}  // namespace quarn_py
