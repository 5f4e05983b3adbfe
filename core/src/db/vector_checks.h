#pragma once

#include <cmath>
#include <optional>
#include <span>

#include "quarn/error.h"

namespace quarn {

// A NaN or infinite component would sort into the middle of every result list with a NaN
// distance, so vectors carrying one are refused before anything is logged.
inline std::optional<QuarnError> check_finite(std::span<const float> vector) {
  for (std::size_t i = 0; i < vector.size(); ++i) {
    if (!std::isfinite(vector[i])) return QuarnError::non_finite(i, vector[i]);
  }
  return std::nullopt;
}

}  // namespace quarn
