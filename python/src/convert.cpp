#include "convert.h"

#include <pybind11/numpy.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "args.h"

namespace quarn_py {

namespace {

// numpy.<name> (a type), or null while NumPy has not been imported (then no object can be one).
// Found once and kept in `cache` for the life of the process.
PyTypeObject* numpy_type(const char* name, PyTypeObject*& cache) {
  if (cache != nullptr) return cache;
  PyObject* numpy = PyImport_GetModule(py::str("numpy").ptr());
  if (numpy == nullptr) {
    PyErr_Clear();
    return nullptr;
  }
  PyObject* type = PyObject_GetAttrString(numpy, name);
  Py_DECREF(numpy);
  if (type == nullptr || !PyType_Check(type)) {
    PyErr_Clear();
    Py_XDECREF(type);
    return nullptr;
  }
  cache = reinterpret_cast<PyTypeObject*>(type);
  return cache;
}

PyTypeObject* ndarray_type() {
  static PyTypeObject* cached = nullptr;
  return numpy_type("ndarray", cached);
}

bool is_array(PyObject* obj) {
  PyTypeObject* type = ndarray_type();
  return type != nullptr && PyObject_TypeCheck(obj, type);
}

bool is_exact_array(PyObject* obj) {
  PyTypeObject* type = ndarray_type();
  return type != nullptr && Py_TYPE(obj) == type;
}

bool native_order(const py::dtype& dtype) {
  const char order = dtype.byteorder();
  if (order == '=' || order == '|') return true;
  return order == (std::endian::native == std::endian::little ? '<' : '>');
}

template <class T>
T load(const char* p) {
  T v;
  std::memcpy(&v, p, sizeof(T));
  return v;
}

// Element reader that gives what the float protocol gives for the element's NumPy scalar,
// narrowed to float32 (integers go through double, as float() does). Null for other dtypes.
using ElementReader = float (*)(const char*);

ElementReader reader_for(const py::dtype& dtype) {
  if (!native_order(dtype)) return nullptr;
  const auto size = dtype.itemsize();
  switch (dtype.kind()) {
    case 'b':
      return size == 1 ? +[](const char* p) { return *p != 0 ? 1.0f : 0.0f; } : nullptr;
    case 'f':
      if (size == 4) return +[](const char* p) { return load<float>(p); };
      if (size == 8) return +[](const char* p) { return static_cast<float>(load<double>(p)); };
      return nullptr;
    case 'i':
      switch (size) {
        case 1: return +[](const char* p) { return static_cast<float>(static_cast<double>(load<std::int8_t>(p))); };
        case 2: return +[](const char* p) { return static_cast<float>(static_cast<double>(load<std::int16_t>(p))); };
        case 4: return +[](const char* p) { return static_cast<float>(static_cast<double>(load<std::int32_t>(p))); };
        case 8: return +[](const char* p) { return static_cast<float>(static_cast<double>(load<std::int64_t>(p))); };
        default: return nullptr;
      }
    case 'u':
      switch (size) {
        case 1: return +[](const char* p) { return static_cast<float>(static_cast<double>(load<std::uint8_t>(p))); };
        case 2: return +[](const char* p) { return static_cast<float>(static_cast<double>(load<std::uint16_t>(p))); };
        case 4: return +[](const char* p) { return static_cast<float>(static_cast<double>(load<std::uint32_t>(p))); };
        case 8: return +[](const char* p) { return static_cast<float>(static_cast<double>(load<std::uint64_t>(p))); };
        default: return nullptr;
      }
    default:
      return nullptr;
  }
}

// Reads a plain one-dimensional numeric ndarray directly; same values as iterating it, but
// without a Python object per element. False when the array is not of that kind.
bool read_plain_array(PyObject* obj, std::vector<float>& out) {
  if (!is_exact_array(obj)) return false;
  auto array = py::reinterpret_borrow<py::array>(obj);
  if (array.ndim() != 1) return false;
  const ElementReader read = reader_for(array.dtype());
  if (read == nullptr) return false;
  const auto n = array.shape(0);
  const auto stride = array.strides(0);
  const char* base = static_cast<const char*>(array.data());
  out.resize(static_cast<std::size_t>(n));
  for (py::ssize_t i = 0; i < n; ++i) out[static_cast<std::size_t>(i)] = read(base + i * stride);
  return true;
}

constexpr const char* kComplex = "vector components must be real numbers, not complex";

bool is_complex_array(PyObject* obj) {
  return is_array(obj) && py::reinterpret_borrow<py::array>(obj).dtype().kind() == 'c';
}

// Python complex numbers and NumPy complex scalars, whose float() would drop the imaginary part.
bool is_complex_number(PyObject* obj) {
  if (PyComplex_Check(obj)) return true;
  const char* name = Py_TYPE(obj)->tp_name;
  return std::strncmp(name, "numpy.complex", 13) == 0 || std::strncmp(name, "numpy.clongdouble", 17) == 0;
}

// ValueError for the first NaN or infinite component; queries and stored vectors alike.
// `where` names the row of a batch ("vectors[3]: ...").
void require_finite(const std::vector<float>& values, const std::string& where = {}) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!std::isfinite(values[i])) {
      raise(PyExc_ValueError, where + quarn::QuarnError::non_finite(i, values[i]).text());
    }
  }
}

// The sequence-of-numbers form: no str, must pass the sequence check, read item by item with
// the float protocol. On failure returns false with the reason in `error`; complex values
// raise ValueError at once.
bool read_numbers(PyObject* obj, std::vector<float>& out, std::string& error) {
  out.clear();
  if (is_complex_array(obj)) raise(PyExc_ValueError, kComplex);
  if (PyUnicode_Check(obj)) {
    error = "a str is not a sequence of numbers";
    return false;
  }
  if (!PySequence_Check(obj)) {
    error = "'" + type_name(obj) + "' object is not a sequence";
    return false;
  }
  if (read_plain_array(obj, out)) return true;
  const Py_ssize_t hint = PyObject_LengthHint(obj, 0);
  if (hint < 0) {
    PyErr_Clear();
  } else {
    out.reserve(static_cast<std::size_t>(hint));
  }
  auto iter = py::reinterpret_steal<py::object>(PyObject_GetIter(obj));
  if (!iter) {
    error = fetch_error_text();
    return false;
  }
  while (true) {
    auto item = py::reinterpret_steal<py::object>(PyIter_Next(iter.ptr()));
    if (!item) {
      if (PyErr_Occurred()) {
        error = fetch_error_text();
        return false;
      }
      return true;
    }
    if (is_complex_number(item.ptr())) raise(PyExc_ValueError, kComplex);
    const double value = PyFloat_AsDouble(item.ptr());
    if (value == -1.0 && PyErr_Occurred()) {
      error = "item " + std::to_string(out.size()) + ": " + fetch_error_text();
      return false;
    }
    out.push_back(static_cast<float>(value));
  }
}

bool is_float32(const py::array& array) { return array.dtype().equal(py::dtype::of<float>()); }

std::string dtype_text(const py::array& array) {
  return py::str(static_cast<py::object>(array.dtype())).cast<std::string>();
}

// The NumPy form of either input: an ndarray of `ndim` dimensions and float32 dtype.
bool check_float32_array(PyObject* obj, py::ssize_t ndim, std::string& error) {
  if (!is_array(obj)) {
    error = "'" + type_name(obj) + "' object is not a numpy array";
    return false;
  }
  auto array = py::reinterpret_borrow<py::array>(obj);
  if (array.ndim() != ndim) {
    error = "expected a " + std::to_string(ndim) + "-dimensional array, got " + std::to_string(array.ndim()) +
            " dimensions";
    return false;
  }
  if (!is_float32(array)) {
    error = "expected dtype float32, got " + dtype_text(array);
    return false;
  }
  return true;
}

void require_contiguous(const py::array& array) {
  if ((array.flags() & py::array::c_style) == 0) raise(PyExc_TypeError, "The given array is not contiguous");
}

py::object json_function(const char* name) {
  return py::module_::import("json").attr(name);
}

}  // namespace

VectorInput VectorInput::extract(PyObject* obj, const char* name) {
  VectorInput input;
  std::string list_error;
  if (read_numbers(obj, input.values_, list_error)) return input;
  std::string numpy_error;
  if (check_float32_array(obj, 1, numpy_error)) {
    input.values_.clear();
    input.array_ = py::reinterpret_borrow<py::object>(obj);
    return input;
  }
  raise_argument_type(name, "expected a VectorInput, either List (a sequence of numbers): " + list_error +
                                "; or Numpy (a one-dimensional float32 numpy array): " + numpy_error);
}

std::vector<float> VectorInput::to_vec() && {
  std::vector<float> out;
  if (!array_) {
    out = std::move(values_);
  } else {
    auto array = py::reinterpret_borrow<py::array>(array_);
    require_contiguous(array);
    const auto* data = static_cast<const float*>(array.data());
    out.assign(data, data + array.size());
  }
  require_finite(out);
  return out;
}

namespace {

// A two-dimensional real numeric array of any dtype, byte order or layout, as a C-ordered
// float32 array (the same object when it already is one).
bool as_float32_matrix(PyObject* obj, py::object& out) {
  if (!is_array(obj)) return false;
  auto array = py::reinterpret_borrow<py::array>(obj);
  if (array.ndim() != 2) return false;
  const char kind = array.dtype().kind();
  if (kind == 'c') raise(PyExc_ValueError, kComplex);
  if (kind != 'f' && kind != 'i' && kind != 'u' && kind != 'b') return false;
  if (is_float32(array) && native_order(array.dtype()) && (array.flags() & py::array::c_style) != 0) {
    out = py::reinterpret_borrow<py::object>(obj);
    return true;
  }
  out = py::module_::import("numpy").attr("ascontiguousarray")(array, py::dtype::of<float>());
  return true;
}

}  // namespace

BatchVectorInput BatchVectorInput::extract(PyObject* obj, const char* name) {
  BatchVectorInput input;
  std::string numpy_error;
  if (as_float32_matrix(obj, input.array_)) return input;
  if (check_float32_array(obj, 2, numpy_error)) {
    input.array_ = py::reinterpret_borrow<py::object>(obj);
    return input;
  }
  std::string lists_error;
  if (PyUnicode_Check(obj)) {
    lists_error = "a str is not a sequence of vectors";
  } else if (!PySequence_Check(obj)) {
    lists_error = "'" + type_name(obj) + "' object is not a sequence";
  } else {
    const Py_ssize_t hint = PyObject_LengthHint(obj, 0);
    if (hint < 0) {
      PyErr_Clear();
    } else {
      input.rows_.reserve(static_cast<std::size_t>(hint));
    }
    auto iter = py::reinterpret_steal<py::object>(PyObject_GetIter(obj));
    if (!iter) lists_error = fetch_error_text();
    while (iter) {
      auto item = py::reinterpret_steal<py::object>(PyIter_Next(iter.ptr()));
      if (!item) {
        if (!PyErr_Occurred()) return input;
        lists_error = fetch_error_text();
        break;
      }
      std::string row_error;
      if (!read_numbers(item.ptr(), input.rows_.emplace_back(), row_error)) {
        lists_error = "row " + std::to_string(input.rows_.size() - 1) + ": " + row_error;
        break;
      }
    }
  }
  raise_argument_type(name, "expected a BatchVectorInput, either Numpy (a two-dimensional real numeric numpy array): " +
                                numpy_error + "; or Lists (a sequence of sequences of numbers): " + lists_error);
}

std::vector<std::vector<float>> BatchVectorInput::to_vecs() && {
  std::vector<std::vector<float>> out;
  if (!array_) {
    out = std::move(rows_);
  } else {
    auto array = py::reinterpret_borrow<py::array>(array_);
    require_contiguous(array);
    const auto rows = static_cast<std::size_t>(array.shape(0));
    const auto cols = static_cast<std::size_t>(array.shape(1));
    const auto* data = static_cast<const float*>(array.data());
    out.resize(rows);
    for (std::size_t r = 0; r < rows; ++r) out[r].assign(data + r * cols, data + (r + 1) * cols);
  }
  for (std::size_t r = 0; r < out.size(); ++r) require_finite(out[r], "vectors[" + std::to_string(r) + "]: ");
  return out;
}

std::optional<ArrayRows> BatchVectorInput::array_rows() const {
  if (!array_) return std::nullopt;
  auto array = py::reinterpret_borrow<py::array>(array_);
  require_contiguous(array);
  const auto rows = static_cast<std::size_t>(array.shape(0));
  const auto cols = static_cast<std::size_t>(array.shape(1));
  return ArrayRows{{static_cast<const float*>(array.data()), rows * cols}, rows, cols};
}

namespace {

PyTypeObject* numpy_scalar_type() {
  static PyTypeObject* cached = nullptr;
  return numpy_type("generic", cached);
}

bool is_numpy_scalar(PyObject* obj) {
  PyTypeObject* type = numpy_scalar_type();
  return type != nullptr && PyObject_TypeCheck(obj, type);
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

py::array float_array(const float* data, std::size_t n) {
  py::array_t<float> out(static_cast<py::ssize_t>(n));
  if (n != 0) std::memcpy(out.mutable_data(), data, n * sizeof(float));
  return out;
}

}  // namespace quarn_py
