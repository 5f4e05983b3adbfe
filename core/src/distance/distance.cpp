#include "distance/distance.h"

#include <algorithm>
#include <cmath>

#include <simsimd/simsimd.h>

#include "distance/row_finish.h"

namespace quarn {

namespace {

// The dispatching kernels pick their implementation lazily through unsynchronised statics;
// asking for the capabilities once resolves every kernel, so later calls from many threads
// only read them.
void ensure_kernels_resolved() {
  static const bool resolved = (simsimd_capabilities(), true);
  (void)resolved;
}

// Formulas in double precision for spans of unequal length; components of `b` past its end
// count as zero.
float fallback_distance(std::span<const float> a, std::span<const float> b, Metric metric) {
  double dot = 0.0;
  double aa = 0.0;
  double bb = 0.0;
  double l2 = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const double x = a[i];
    const double y = i < b.size() ? static_cast<double>(b[i]) : 0.0;
    dot += x * y;
    aa += x * x;
    bb += y * y;
    const double d = x - y;
    l2 += d * d;
  }
  switch (metric) {
    case Metric::Cosine: {
      const double denom = std::sqrt(aa) * std::sqrt(bb);
      if (denom == 0.0) return 1.0f;
      return static_cast<float>(1.0 - dot / denom);
    }
    case Metric::Euclidean:
      return static_cast<float>(l2);
    case Metric::DotProduct:
      return static_cast<float>(-dot);
  }
  return 0.0f;
}

}  // namespace

std::string_view metric_name(Metric metric) {
  switch (metric) {
    case Metric::Cosine:
      return "cosine";
    case Metric::Euclidean:
      return "euclidean";
    case Metric::DotProduct:
      return "dot_product";
  }
  return "cosine";
}

std::optional<Metric> parse_metric(std::string_view name) {
  if (name == "cosine") return Metric::Cosine;
  if (name == "euclidean" || name == "l2") return Metric::Euclidean;
  if (name == "dot" || name == "dot_product") return Metric::DotProduct;
  return std::nullopt;
}

namespace {

// Kernels picked for this CPU once; the same functions the dispatching entry points call.
struct Kernels {
  simsimd_metric_dense_punned_t dot;
  simsimd_metric_dense_punned_t l2sq;
  simsimd_metric_dense_punned_t cos;
};

const Kernels& kernels() {
  static const Kernels k = [] {
    ensure_kernels_resolved();
    auto find = [](simsimd_metric_kind_t kind) {
      // Through void(*)(): the library hands every kernel out under one punned type.
      return reinterpret_cast<simsimd_metric_dense_punned_t>(reinterpret_cast<void (*)()>(
          simsimd_metric_punned(kind, simsimd_datatype_f32_k, simsimd_cap_any_k)));
    };
    return Kernels{find(simsimd_metric_dot_k), find(simsimd_metric_l2sq_k), find(simsimd_metric_cos_k)};
  }();
  return k;
}

float row_l2sq(const float* a, float, const float* b, float, std::size_t dim) {
  simsimd_distance_t r = 0.0;
  kernels().l2sq(a, b, dim, &r);
  return detail::finish_l2sq(r);
}

float row_negated_dot(const float* a, float, const float* b, float, std::size_t dim) {
  simsimd_distance_t r = 0.0;
  kernels().dot(a, b, dim, &r);
  return detail::finish_negated_dot(r);
}

float row_cosine(const float* a, float a_norm, const float* b, float b_norm, std::size_t dim) {
  if (a_norm == 0.0f || b_norm == 0.0f) return detail::finish_cosine(0.0, a_norm, b_norm);
  simsimd_distance_t r = 0.0;
  kernels().dot(a, b, dim, &r);
  return detail::finish_cosine(r, a_norm, b_norm);
}

float span_l2sq(const float* a, const float* b, std::size_t dim) { return row_l2sq(a, 0.0f, b, 0.0f, dim); }
float span_negated_dot(const float* a, const float* b, std::size_t dim) {
  return row_negated_dot(a, 0.0f, b, 0.0f, dim);
}
float span_cosine(const float* a, const float* b, std::size_t dim) {
  simsimd_distance_t r = 0.0;
  kernels().cos(a, b, dim, &r);
  return static_cast<float>(r);
}

}  // namespace

RowDistanceFn row_distance_fn(Metric metric) {
  switch (metric) {
    case Metric::Euclidean:
      return row_l2sq;
    case Metric::DotProduct:
      return row_negated_dot;
    case Metric::Cosine:
      break;
  }
  return row_cosine;
}

SpanDistanceFn span_distance_fn(Metric metric) {
  switch (metric) {
    case Metric::Euclidean:
      return span_l2sq;
    case Metric::DotProduct:
      return span_negated_dot;
    case Metric::Cosine:
      break;
  }
  return span_cosine;
}

float distance(std::span<const float> a, std::span<const float> b, Metric metric) {
  if (a.size() != b.size()) return fallback_distance(a, b, metric);
  ensure_kernels_resolved();
  simsimd_distance_t result = 0.0;
  switch (metric) {
    case Metric::Cosine:
      return row_cosine(a.data(), vector_norm(a), b.data(), vector_norm(b), a.size());
    case Metric::Euclidean:
      simsimd_l2sq_f32(a.data(), b.data(), a.size(), &result);
      return static_cast<float>(result);
    case Metric::DotProduct:
      simsimd_dot_f32(a.data(), b.data(), a.size(), &result);
      return -static_cast<float>(result);
  }
  return 0.0f;
}

std::vector<float> gemv_dot_products(std::span<const float> query, const float* matrix, std::size_t dim,
                                     std::size_t n) {
  std::vector<float> out;
  out.reserve(n);
  ensure_kernels_resolved();
  const std::size_t len = std::min(query.size(), dim);
  for (std::size_t i = 0; i < n; ++i) {
    const float* row = matrix + i * dim;
    if (query.size() == dim) {
      simsimd_distance_t dot = 0.0;
      simsimd_dot_f32(query.data(), row, dim, &dot);
      out.push_back(static_cast<float>(dot));
    } else {
      double dot = 0.0;
      for (std::size_t j = 0; j < len; ++j) dot += static_cast<double>(query[j]) * static_cast<double>(row[j]);
      out.push_back(static_cast<float>(dot));
    }
  }
  return out;
}

namespace {

float sum_of_squares(std::span<const float> v) {
  float s = 0.0f;
  for (float x : v) s += x * x;
  return s;
}

}  // namespace

namespace {

// Turns raw dot products into distances of the metric, in place.
void finish_scores(std::span<const float> query, const float* norms, Metric metric, std::vector<float>& scores) {
  const QueryNorm qn = query_norm(query);
  for (std::size_t i = 0; i < scores.size(); ++i) scores[i] = finish_score(scores[i], qn, norms[i], metric);
}

// Rows scored per pass over a tile of queries: about 128 KB, so the block stays in L2 while
// every query of the tile reads it.
constexpr std::size_t kBlockBytes = 128 * 1024;

}  // namespace

std::vector<float> brute_force_scores(std::span<const float> query, const float* matrix, const float* norms,
                                      std::size_t dim, std::size_t n, Metric metric) {
  std::vector<float> scores = gemv_dot_products(query, matrix, dim, n);
  finish_scores(query, norms, metric, scores);
  return scores;
}

std::vector<std::vector<float>> brute_force_scores_many(std::span<const std::span<const float>> queries,
                                                        const float* matrix, const float* norms, std::size_t dim,
                                                        std::size_t n, Metric metric) {
  std::vector<std::vector<float>> out(queries.size());
  ensure_kernels_resolved();
  std::vector<std::size_t> blocked;
  blocked.reserve(queries.size());
  for (std::size_t q = 0; q < queries.size(); ++q) {
    if (queries[q].size() == dim) {
      out[q].resize(n);
      blocked.push_back(q);
    } else {
      out[q] = gemv_dot_products(queries[q], matrix, dim, n);
    }
  }
  // Each dot product is the same kernel call on the same spans as in gemv_dot_products, so
  // every value matches the one-query path exactly; only the loop order differs.
  const std::size_t row_bytes = std::max<std::size_t>(dim * sizeof(float), 1);
  const std::size_t block = std::max<std::size_t>(kBlockBytes / row_bytes, 1);
  for (std::size_t begin = 0; begin < n; begin += block) {
    const std::size_t end = std::min(n, begin + block);
    for (std::size_t q : blocked) {
      const float* query = queries[q].data();
      float* scores = out[q].data();
      for (std::size_t i = begin; i < end; ++i) {
        simsimd_distance_t dot = 0.0;
        simsimd_dot_f32(query, matrix + i * dim, dim, &dot);
        scores[i] = static_cast<float>(dot);
      }
    }
  }
  for (std::size_t q = 0; q < queries.size(); ++q) finish_scores(queries[q], norms, metric, out[q]);
  return out;
}

QueryNorm query_norm(std::span<const float> query) {
  const float q2 = sum_of_squares(query);
  return {q2, std::sqrt(q2)};
}

float exact_dot(const float* query, const float* row, std::size_t dim) {
  ensure_kernels_resolved();
  simsimd_distance_t dot = 0.0;
  simsimd_dot_f32(query, row, dim, &dot);
  return static_cast<float>(dot);
}

float vector_norm(std::span<const float> v) { return std::sqrt(sum_of_squares(v)); }

}  // namespace quarn
