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
// Euclidean distance, or the negated inner product. Cosine is the dot product over the product
// of the norms, 1 - dot / (|a| |b|) in single precision as the exhaustive scan scores it; two
// zero vectors are at 0, a zero and a non-zero vector at 1. Spans of unequal length fall back to
// a double-precision loop over the length of `a`.
float distance(std::span<const float> a, std::span<const float> b, Metric metric);

// Distance between two rows of `dim` floats given their norms as vector_norm computes them; only
// cosine reads the norms. Chosen once per index, so a pair costs one kernel call; equal to
// distance() on the same rows.
using RowDistanceFn = float (*)(const float* a, float a_norm, const float* b, float b_norm, std::size_t dim);
RowDistanceFn row_distance_fn(Metric metric);

// Distances from row `a` to rows b0 and b1, written to out[0] and out[1], each bit for bit what
// row_distance_fn(metric) returns for that row. On CPUs where the one-row kernel is the AVX-512
// or the AVX2 one, both rows are summed side by side in one pass over `a`, so that the second sum
// does not wait for the first; elsewhere the one-row kernel runs twice.
using RowPairDistanceFn = void (*)(const float* a, float a_norm, const float* b0, float b0_norm, const float* b1,
                                   float b1_norm, std::size_t dim, float* out);
RowPairDistanceFn row_pair_distance_fn(Metric metric);
// Whether row_pair_distance_fn gives the side-by-side kernels on this CPU.
bool row_pair_kernels_fused();

// The metric's kernel for rows whose norms are not at hand, resolved once. Euclidean and dot
// product equal distance(); cosine accumulates both norms beside the dot product, which can
// differ from distance() in the last bits.
using SpanDistanceFn = float (*)(const float* a, const float* b, std::size_t dim);
SpanDistanceFn span_distance_fn(Metric metric);

// span_distance_fn(metric)(query, row, dim) for the row decoded from one-byte codes,
// row[i] = codes[i] * scales[i] + mins[i] with the product rounded before the sum. On CPUs where
// the span kernel is the AVX-512 or the AVX2 one, decoding and scoring are one pass (unless
// allow_fused is false); otherwise the row is first decoded into `scratch`, which holds dim floats.
using CodeDistanceFn = float (*)(const float* query, const std::uint8_t* codes, const float* scales,
                                 const float* mins, float* scratch, std::size_t dim);
CodeDistanceFn code_distance_fn(Metric metric, bool allow_fused = true);
// Whether code_distance_fn gives the one-pass kernels on this CPU.
bool code_distance_fused();

// code_distance_fn(metric) for two code rows at once, into out[0] and out[1]: the same values,
// computed side by side where this CPU has a kernel for it.
using CodePairDistanceFn = void (*)(const float* query, const std::uint8_t* codes0, const std::uint8_t* codes1,
                                    const float* scales, const float* mins, float* scratch, std::size_t dim,
                                    float* out);
CodePairDistanceFn code_pair_distance_fn(Metric metric);
// Whether code_pair_distance_fn scores two rows side by side on this CPU.
bool code_pair_kernels_fused();

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

// A query's squared norm and norm, as the scan's scores use them.
struct QueryNorm {
  float squared;
  float norm;
};
QueryNorm query_norm(std::span<const float> query);

// One dot product of a query and a row of dim floats, bit for bit the value the scans start from.
float exact_dot(const float* query, const float* row, std::size_t dim);

// The scan's distance of a row from its dot product with the query and its stored norm:
// (|x|^2 + |q|^2) - 2 dot, -dot, or 1 - dot / (|x| |q|) with zero norms at 1.
inline float finish_score(float dot, QueryNorm q, float row_norm, Metric metric) {
  switch (metric) {
    case Metric::Euclidean:
      return (row_norm * row_norm + q.squared) - 2.0f * dot;
    case Metric::DotProduct:
      return -dot;
    case Metric::Cosine:
      if (q.squared == 0.0f || row_norm == 0.0f) return 1.0f;
      return 1.0f - dot / (row_norm * q.norm);
  }
  return 0.0f;
}

// Euclidean norm accumulated in single precision, as stored per slot.
float vector_norm(std::span<const float> v);

// Writes the one-time exhaustive-scan hint to standard error, at most once per process.
void show_blas_hint_once();
// Whether the hint was already written in this process (for tests).
bool blas_hint_shown();
// The hint's text, as written.
std::string_view blas_hint_text();

}  // namespace quarn
