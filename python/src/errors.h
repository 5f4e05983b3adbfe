#pragma once

#include <pybind11/pybind11.h>

#include <exception>
#include <new>
#include <string>

#include "quarn/error.h"
#include "quarn/result.h"

namespace quarn_py {

namespace py = pybind11;

// Sets a Python exception of `type` and unwinds to the method boundary (see `guarded`).
[[noreturn]] void raise(PyObject* type, const std::string& message);

// TypeError for an argument of the wrong Python type: "argument '<name>': <message>".
[[noreturn]] void raise_argument_type(const char* name, const std::string& message);

// Re-raises the pending Python exception as the failure of argument `name`: a TypeError gets the
// "argument '<name>': " prefix, any other exception (OverflowError, ...) passes unchanged.
[[noreturn]] void raise_pending_for_argument(const char* name);

// Every engine error reaches Python as ValueError with the error's text.
[[noreturn]] void raise_engine(const quarn::QuarnError& error);

inline void check(const quarn::Status& status) {
  if (!status.ok()) raise_engine(status.error());
}

template <class T>
T take(quarn::Result<T>&& result) {
  if (!result.ok()) raise_engine(result.error());
  return std::move(result).value();
}

// Text of the pending Python exception, which is cleared.
std::string fetch_error_text();

// Short name of an object's type, e.g. "int" or "ndarray".
std::string type_name(PyObject* obj);

// Runs `body` at a C-API boundary: a C++ exception becomes the pending Python exception and
// `failure` is returned.
template <class R, class F>
R guarded_as(R failure, F&& body) noexcept {
  try {
    return body();
  } catch (py::error_already_set& e) {
    e.restore();
  } catch (py::builtin_exception& e) {
    e.set_error();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  }
  return failure;
}

template <class F>
PyObject* guarded(F&& body) noexcept {
  return guarded_as<PyObject*>(nullptr, std::forward<F>(body));
}

}  // namespace quarn_py
