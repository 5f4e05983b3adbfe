#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include <pybind11/numpy.h>

#include "errors.h"

namespace quarn_py {

// A single-vector argument: a sequence of numbers (read at once) or a one-dimensional float32
// NumPy array (held until `to_vec` copies it). The sequence form is tried first.
class VectorInput {
 public:
  static VectorInput extract(PyObject* obj, const char* name);
  // TypeError "The given array is not contiguous" for a strided array.
  std::vector<float> to_vec() &&;

 private:
  std::vector<float> values_;
  py::object array_;
};

// The array form of a batch, read in place: rows x cols floats, row-major.
struct ArrayRows {
  std::span<const float> data;
  std::size_t rows;
  std::size_t cols;
};

// A batch argument: a two-dimensional float32 NumPy array (tried first) or a sequence of
// sequences of numbers. Rows may differ in length; the engine checks them.
class BatchVectorInput {
 public:
  static BatchVectorInput extract(PyObject* obj, const char* name);
  // TypeError "The given array is not contiguous" unless the array is row-major contiguous.
  std::vector<std::vector<float>> to_vecs() &&;
  // The array form without a copy: the buffer of the array this object holds (converted to
  // C-ordered float32 by extract only when it was not), valid while this object lives and the
  // array is not written. Nothing for the sequence form.
  std::optional<ArrayRows> array_rows() const;

 private:
  std::vector<std::vector<float>> rows_;
  py::object array_;
};

// ValueError naming the row and component of the first NaN or infinity, as to_vecs words it.
void require_finite_rows(const ArrayRows& array);

// A new one-dimensional float32 array holding a copy of `n` values.
py::array float_array(const float* data, std::size_t n);

}  // namespace quarn_py
