#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace quarn {

// Distance metric; the byte value is stored in graph.quarn and never changes.
enum class Metric : std::uint8_t { Cosine = 0, Euclidean = 1, DotProduct = 2 };

// "cosine", "euclidean" or "dot_product".
std::string_view metric_name(Metric metric);
// Accepts "cosine", "euclidean", "l2", "dot", "dot_product" exactly (case-sensitive).
std::optional<Metric> parse_metric(std::string_view name);

// Smaller is nearer under every metric: 1 - cosine similarity (clamped at 0), squared
// Euclidean distance, or the negated inner product. Spans of unequal length fall back to a
// double-precision loop over the length of `a`.
float distance(std::span<const float> a, std::span<const float> b, Metric metric);

// Dot product of `query` with each of the first n rows (dim floats each) of `matrix`.
std::vector<float> gemv_dot_products(std::span<const float> query, const float* matrix, std::size_t dim,
                                     std::size_t n);

// Scores the query against every row of the store (n rows of dim floats) using the stored
// norms; one distance per row, in row order. Cosine rows or queries of zero norm score 1.0.
std::vector<float> brute_force_scores(std::span<const float> query, const float* matrix, const float* norms,
                                      std::size_t dim, std::size_t n, Metric metric);

// brute_force_scores for several queries at once, one score array per query in query order,
// each bit for bit equal to what brute_force_scores returns for that query. Rows are read in
// blocks shared by all the queries, so the store is streamed once per call rather than once per
// query; callers pass a small tile of queries (a few to a few dozen).
std::vector<std::vector<float>> brute_force_scores_many(std::span<const std::span<const float>> queries,
                                                        const float* matrix, const float* norms, std::size_t dim,
                                                        std::size_t n, Metric metric);

// Euclidean norm accumulated in single precision, as stored per slot.
float vector_norm(std::span<const float> v);

// Writes the one-time exhaustive-scan hint to standard error, at most once per process.
void show_blas_hint_once();
// Whether the hint was already written in this process (for tests).
bool blas_hint_shown();

}  // namespace quarn
