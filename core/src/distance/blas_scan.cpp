#include "distance/blas_scan.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <mutex>

#ifdef QUARN_HAVE_BLAS
#include <cblas.h>
#endif

namespace quarn {

namespace {

// Queries and rows per block product: the score buffer stays at 256 x 1024 floats (1 MiB).
constexpr std::size_t kTileQueries = 256;
constexpr std::size_t kBlockRows = 1024;
// Above this k a bounded heap stops paying for itself; such queries take the row-by-row scan.
constexpr std::size_t kMaxK = 1024;

// out[q * rows + r] = dot(queries[q], row r) for a tile of queries and a block of rows.
void block_products(const float* tile, std::size_t queries, const float* block, std::size_t rows, std::size_t dim,
                    float* out) {
#ifdef QUARN_HAVE_BLAS
#ifdef QUARN_HAVE_OPENBLAS_THREADS
  // Callers already spread tiles over the pool; BLAS threads on top would only contend.
  static std::once_flag single_threaded;
  std::call_once(single_threaded, [] { openblas_set_num_threads(1); });
#endif
  cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasTrans, static_cast<int>(queries), static_cast<int>(rows),
              static_cast<int>(dim), 1.0f, tile, static_cast<int>(dim), block, static_cast<int>(dim), 0.0f, out,
              static_cast<int>(rows));
#else
  for (std::size_t q = 0; q < queries; ++q) {
    for (std::size_t r = 0; r < rows; ++r) {
      float dot = 0.0f;
      for (std::size_t j = 0; j < dim; ++j) dot += tile[q * dim + j] * block[r * dim + j];
      out[q * rows + r] = dot;
    }
  }
#endif
}

// How far a score from a block product can lie from the exact kernel's score of the same row:
// both dot products are within dim * eps/2 * |q| |x| of the true value (any summation order);
// the slack doubles that sum and adds room for the few roundings of the finish.
// gaps[r] = the product-based score of row r minus that bound: a row whose gap exceeds the
// k-th best exact score so far cannot enter. One branch-free loop per metric, so that the
// compiler vectorizes it. A zero norm makes the cosine gap NaN, which sends the row to the exact
// kernel like any other row that the test cannot rule out.
void score_gaps(const float* products, const float* norms, std::size_t rows, QueryNorm q, std::size_t dim,
                Metric metric, float* gaps) {
  const float slack = static_cast<float>(4 * dim + 16) * FLT_EPSILON;
  switch (metric) {
    case Metric::Euclidean:
      for (std::size_t r = 0; r < rows; ++r) {
        const float n2 = norms[r] * norms[r];
        gaps[r] = ((n2 + q.squared) - 2.0f * products[r]) - slack * (q.squared + n2);
      }
      return;
    case Metric::DotProduct:
      for (std::size_t r = 0; r < rows; ++r) gaps[r] = -products[r] - slack * q.norm * norms[r];
      return;
    case Metric::Cosine:
      for (std::size_t r = 0; r < rows; ++r) gaps[r] = (1.0f - products[r] / (norms[r] * q.norm)) - slack;
      return;
  }
}

// Distance first, then row, so the heap's order is total on NaN-free distances.
bool nearer(const ScoredRow& a, const ScoredRow& b) {
  return a.distance < b.distance || (a.distance == b.distance && a.row < b.row);
}

// One query's running selection: the `keep` nearest exact scores seen so far, as a max-heap.
struct Selection {
  std::vector<ScoredRow> heap;
  bool failed = false;
};

}  // namespace

bool blas_scan_available() {
#ifdef QUARN_HAVE_BLAS
  return true;
#else
  return false;
#endif
}

std::vector<std::optional<std::vector<ScoredRow>>> nearest_rows_many(std::span<const std::span<const float>> queries,
                                                                     const float* matrix, const float* norms,
                                                                     std::size_t dim, std::size_t n, Metric metric,
                                                                     std::size_t k) {
  std::vector<std::optional<std::vector<ScoredRow>>> out(queries.size());
  if (k == 0 || k >= n || k > kMaxK || dim == 0) return out;
  const std::size_t keep = k + 1;
  std::vector<float> tile;
  std::vector<float> products;
  std::vector<float> gaps(kBlockRows);
  for (std::size_t first = 0; first < queries.size(); first += kTileQueries) {
    const std::size_t count = std::min(kTileQueries, queries.size() - first);
    tile.resize(count * dim);
    std::vector<QueryNorm> qnorms(count);
    std::vector<Selection> picked(count);
    for (std::size_t q = 0; q < count; ++q) {
      const std::span<const float> query = queries[first + q];
      if (query.size() != dim) {
        picked[q].failed = true;
        continue;
      }
      std::copy(query.begin(), query.end(), tile.begin() + static_cast<std::ptrdiff_t>(q * dim));
      qnorms[q] = query_norm(query);
      picked[q].heap.reserve(keep);
    }
    for (std::size_t begin = 0; begin < n; begin += kBlockRows) {
      const std::size_t rows = std::min(kBlockRows, n - begin);
      products.resize(count * rows);
      block_products(tile.data(), count, matrix + begin * dim, rows, dim, products.data());
      for (std::size_t q = 0; q < count; ++q) {
        Selection& sel = picked[q];
        if (sel.failed) continue;
        const float* query = tile.data() + q * dim;
        const float* approx = products.data() + q * rows;
        // Without a query norm every cosine score is 1: no gap rules a row out.
        const bool gaps_apply = metric != Metric::Cosine || qnorms[q].squared != 0.0f;
        if (gaps_apply) score_gaps(approx, norms + begin, rows, qnorms[q], dim, metric, gaps.data());
        for (std::size_t r = 0; r < rows; ++r) {
          if (sel.heap.size() == keep && gaps_apply) {
            // A NaN gap fails this test and is scored exactly.
            const float worst = sel.heap.front().distance;
            while (r < rows && gaps[r] > worst) ++r;
            if (r == rows) break;
          }
          const std::size_t row = begin + r;
          const ScoredRow cand{static_cast<std::uint32_t>(row),
                               finish_score(exact_dot(query, matrix + row * dim, dim), qnorms[q], norms[row], metric)};
          if (std::isnan(cand.distance)) {
            sel.failed = true;
            break;
          }
          if (sel.heap.size() < keep) {
            sel.heap.push_back(cand);
            std::push_heap(sel.heap.begin(), sel.heap.end(), nearer);
          } else if (nearer(cand, sel.heap.front())) {
            std::pop_heap(sel.heap.begin(), sel.heap.end(), nearer);
            sel.heap.back() = cand;
            std::push_heap(sel.heap.begin(), sel.heap.end(), nearer);
          }
        }
      }
    }
    for (std::size_t q = 0; q < count; ++q) {
      Selection& sel = picked[q];
      if (sel.failed) continue;
      std::sort_heap(sel.heap.begin(), sel.heap.end(), nearer);
      bool unique = true;
      for (std::size_t i = 0; i + 1 < sel.heap.size(); ++i) unique = unique && sel.heap[i].distance < sel.heap[i + 1].distance;
      if (!unique) continue;
      sel.heap.pop_back();
      out[first + q] = std::move(sel.heap);
    }
  }
  return out;
}

}  // namespace quarn
