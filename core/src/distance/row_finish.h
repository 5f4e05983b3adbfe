#pragma once

#include <cstddef>

#include "distance/distance.h"

namespace quarn::detail {

// The last step of a row distance, from the kernel's sum (a dot product or a sum of squared
// differences, as the distance kernels return it). Shared by the one-row and two-row paths,
// which must agree bit for bit.
inline float finish_l2sq(double sum) { return static_cast<float>(sum); }
inline float finish_negated_dot(double dot) { return -static_cast<float>(dot); }
// Two zero rows are at 0 and a zero and a non-zero row at 1, whatever the dot product says.
inline float finish_cosine(double dot, float a_norm, float b_norm) {
  if (a_norm == 0.0f || b_norm == 0.0f) return a_norm == b_norm ? 0.0f : 1.0f;
  const float denom = b_norm * a_norm;
  const float d = 1.0f - static_cast<float>(dot) / denom;
  return d > 0.0f ? d : 0.0f;
}

// The metric's finish; only cosine reads the norms.
template <Metric M>
float finish_row(double sum, float a_norm, float b_norm) {
  if constexpr (M == Metric::Euclidean) {
    return finish_l2sq(sum);
  } else if constexpr (M == Metric::DotProduct) {
    return finish_negated_dot(sum);
  } else {
    return finish_cosine(sum, a_norm, b_norm);
  }
}

}  // namespace quarn::detail
