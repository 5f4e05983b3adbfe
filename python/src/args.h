#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "errors.h"

namespace quarn_py {

// Binds positional and keyword arguments to `PyObject*` slots with CPython's own rules and
// messages (a missing, unknown or doubly given parameter is a TypeError naming the function).
// An unknown keyword is reported by name before any count mismatch.
// `format` is a PyArg format of "O" codes such as "OO|O:add"; slots receive borrowed references.
void check_keywords(PyObject* kwargs, const char* format, const char* const* keywords);

template <class... Slots>
void parse_args(PyObject* args, PyObject* kwargs, const char* format, const char* const* keywords,
                Slots... slots) {
  check_keywords(kwargs, format, keywords);
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(keywords), slots...)) {
    throw py::error_already_set();
  }
}

// The conversions below raise TypeError "argument '<name>': ..." for a value of the wrong type.

// A str, as UTF-8.
std::string string_arg(PyObject* obj, const char* name);
std::optional<std::string> optional_string_arg(PyObject* obj, const char* name);

// A str or os.PathLike (bytes paths decoded as os.fsdecode does), as UTF-8.
std::string path_arg(PyObject* obj, const char* name);

// A non-negative int (or an object with __index__); OverflowError when negative or too large.
std::uint64_t unsigned_arg(PyObject* obj, const char* name);
std::optional<std::uint64_t> optional_unsigned_arg(PyObject* obj, const char* name);

// A number, read with the float protocol and rounded to float32.
std::optional<float> optional_float_arg(PyObject* obj, const char* name);

// A bool or NumPy's boolean scalar; ints are rejected.
bool bool_arg(PyObject* obj, const char* name);

// A dict (or subclass), or None.
PyObject* optional_dict_arg(PyObject* obj, const char* name);

// A list (or subclass), or None.
PyObject* optional_list_arg(PyObject* obj, const char* name);

// A sequence of str (a str itself is rejected).
std::vector<std::string> string_list_arg(PyObject* obj, const char* name);

// UTF-8 of a str object; false (with a pending exception) when it has none.
bool utf8_of(PyObject* str, std::string& out);

}  // namespace quarn_py
