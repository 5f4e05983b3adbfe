#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "distance/distance.h"

namespace quarn {

// Whether this build computes the block products of nearest_rows_many through BLAS.
bool blas_scan_available();

struct ScoredRow {
  std::uint32_t row;
  float distance;
};

// The k nearest of the n rows (dim floats each, with their stored norms) for each query, in
// ascending distance, with every distance bit for bit what brute_force_scores gives that row.
// Block products of the queries and the rows only pick candidates: every row whose product-based
// score lies within a rounding bound of the k-th best so far is scored again with the exact
// kernel. An answer is given only where it is unique: 0 < k < n, k at most 1024, and the k+1
// nearest exact distances NaN-free and strictly increasing; elsewhere the query's entry is
// empty and the caller scans that query row by row.
std::vector<std::optional<std::vector<ScoredRow>>> nearest_rows_many(std::span<const std::span<const float>> queries,
                                                                     const float* matrix, const float* norms,
                                                                     std::size_t dim, std::size_t n, Metric metric,
                                                                     std::size_t k);

}  // namespace quarn
