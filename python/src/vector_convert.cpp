#include "vector_convert.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "numpy_types.h"

namespace quarn_py {

namespace {

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
void require_finite_rows(const ArrayRows& array) {
  for (std::size_t r = 0; r < array.rows; ++r) {
    const auto row = array.data.subspan(r * array.cols, array.cols);
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (!std::isfinite(row[i])) {
        raise(PyExc_ValueError, "vectors[" + std::to_string(r) + "]: " + quarn::QuarnError::non_finite(i, row[i]).text());
      }
    }
  }
}

py::array float_array(const float* data, std::size_t n) {
  py::array_t<float> out(static_cast<py::ssize_t>(n));
  if (n != 0) std::memcpy(out.mutable_data(), data, n * sizeof(float));
  return out;
}

}  // namespace quarn_py
