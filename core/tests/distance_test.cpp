#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "distance/distance.h"

namespace quarn {
namespace {

using Vec = std::vector<float>;

TEST(Distance, EuclideanIsSquaredAndDotIsNegated) {
  EXPECT_EQ(distance(Vec{0, 0}, Vec{3, 4}, Metric::Euclidean), 25.0f);
  EXPECT_EQ(distance(Vec{1, 2}, Vec{3, 4}, Metric::DotProduct), -11.0f);
}

TEST(Distance, CosineRangesFromZeroForSelfToTwoForNegation) {
  std::mt19937 rng(7);
  std::normal_distribution<float> normal;
  for (int trial = 0; trial < 20; ++trial) {
    Vec a(37), neg(37);
    for (std::size_t i = 0; i < a.size(); ++i) {
      a[i] = normal(rng);
      neg[i] = -a[i];
    }
    const float self = distance(a, a, Metric::Cosine);
    EXPECT_GE(self, 0.0f);
    EXPECT_NEAR(self, 0.0f, 1e-5f);
    EXPECT_NEAR(distance(a, neg, Metric::Cosine), 2.0f, 1e-5f);
  }
}

TEST(Distance, PairwiseCosineOfZeroVectors) {
  const Vec zero(8, 0.0f);
  Vec one(8, 0.0f);
  one[3] = 1.0f;
  EXPECT_EQ(distance(zero, zero, Metric::Cosine), 0.0f);
  EXPECT_EQ(distance(zero, one, Metric::Cosine), 1.0f);
  // Orthogonal vectors have a dot product of exactly zero.
  Vec other(8, 0.0f);
  other[5] = 2.0f;
  EXPECT_EQ(distance(one, other, Metric::Cosine), 1.0f);
}

TEST(Distance, SimdKernelsMatchDoublePrecisionReference) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> uni(-1.0f, 1.0f);
  for (std::size_t dim : {1u, 3u, 16u, 17u, 100u, 768u}) {
    Vec a(dim), b(dim);
    for (std::size_t i = 0; i < dim; ++i) {
      a[i] = uni(rng);
      b[i] = uni(rng);
    }
    double dot = 0, aa = 0, bb = 0, l2 = 0;
    for (std::size_t i = 0; i < dim; ++i) {
      dot += double(a[i]) * b[i];
      aa += double(a[i]) * a[i];
      bb += double(b[i]) * b[i];
      l2 += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    }
    const double tol = 1e-4 * (1.0 + std::sqrt(aa * bb));
    EXPECT_NEAR(distance(a, b, Metric::DotProduct), -dot, tol) << dim;
    EXPECT_NEAR(distance(a, b, Metric::Euclidean), l2, 1e-4 * (1.0 + l2)) << dim;
    EXPECT_NEAR(distance(a, b, Metric::Cosine), 1.0 - dot / std::sqrt(aa * bb), 1e-4) << dim;
  }
}

TEST(Distance, UnequalLengthsUseTheLengthOfTheFirstSpan) {
  const Vec a{1, 2};
  const Vec b{3, 4, 100};
  EXPECT_FLOAT_EQ(distance(a, b, Metric::Euclidean), 8.0f);
  EXPECT_FLOAT_EQ(distance(a, b, Metric::DotProduct), -11.0f);
  EXPECT_FLOAT_EQ(distance(a, b, Metric::Cosine), static_cast<float>(1.0 - 11.0 / (std::sqrt(5.0) * 5.0)));
  // An empty first span: 0 for Euclidean and dot product, exactly 1 for cosine.
  EXPECT_EQ(distance(Vec{}, b, Metric::Euclidean), 0.0f);
  EXPECT_EQ(distance(Vec{}, b, Metric::DotProduct), 0.0f);
  EXPECT_EQ(distance(Vec{}, b, Metric::Cosine), 1.0f);
  EXPECT_EQ(distance(Vec{0, 0}, Vec{1}, Metric::Cosine), 1.0f);
  // A shorter second span is read only within its length (missing components count as 0).
  EXPECT_FLOAT_EQ(distance(b, a, Metric::Euclidean), 10000.0f + 8.0f);
}

TEST(BruteForce, MatchesPairwiseDistancesOnRandomData) {
  constexpr std::size_t dim = 24, n = 50;
  std::mt19937 rng(3);
  std::normal_distribution<float> normal;
  Vec matrix(n * dim), norms(n), query(dim);
  for (float& x : matrix) x = normal(rng);
  for (float& x : query) x = normal(rng);
  for (std::size_t i = 0; i < n; ++i) norms[i] = vector_norm({matrix.data() + i * dim, dim});

  const Vec dots = gemv_dot_products(query, matrix.data(), dim, n);
  ASSERT_EQ(dots.size(), n);
  for (Metric metric : {Metric::Cosine, Metric::Euclidean, Metric::DotProduct}) {
    const Vec scores = brute_force_scores(query, matrix.data(), norms.data(), dim, n, metric);
    ASSERT_EQ(scores.size(), n);
    for (std::size_t i = 0; i < n; ++i) {
      const std::span<const float> row(matrix.data() + i * dim, dim);
      EXPECT_NEAR(scores[i], distance(query, row, metric), 1e-3f) << metric_name(metric) << " row " << i;
    }
  }
  // Row i of the dot products is query . row i, not negated.
  for (std::size_t i = 0; i < n; ++i) {
    EXPECT_NEAR(dots[i], -distance(query, {matrix.data() + i * dim, dim}, Metric::DotProduct), 1e-4f);
  }
}

// The graph scores pairs through row_distance_fn with the stored norms: it must give what
// distance() gives and, for cosine above 0, what the exhaustive scan gives, bit for bit, so that
// the two search paths and every re-ranking agree. The cosine kernel that accumulates the norms
// itself stays within a few units in the last place.
TEST(Distance, RowDistanceEqualsPairwiseAndScanScores) {
  std::mt19937 rng(5);
  std::normal_distribution<float> normal;
  for (std::size_t dim : {3u, 16u, 128u, 384u}) {
    const std::size_t n = 40;
    Vec matrix(n * dim), norms(n), query(dim);
    for (float& x : matrix) x = normal(rng);
    for (float& x : query) x = normal(rng);
    for (std::size_t i = 0; i < n; ++i) norms[i] = vector_norm({matrix.data() + i * dim, dim});
    const float qn = vector_norm(query);
    for (Metric metric : {Metric::Cosine, Metric::Euclidean, Metric::DotProduct}) {
      const RowDistanceFn row = row_distance_fn(metric);
      const Vec scan = brute_force_scores(query, matrix.data(), norms.data(), dim, n, metric);
      for (std::size_t i = 0; i < n; ++i) {
        const std::span<const float> r(matrix.data() + i * dim, dim);
        const float d = row(query.data(), qn, r.data(), norms[i], dim);
        EXPECT_EQ(d, distance(query, r, metric)) << metric_name(metric) << " dim " << dim;
        if (metric == Metric::Cosine) {
          if (scan[i] > 0.0f) {
            EXPECT_EQ(d, scan[i]) << "dim " << dim;
          }
          EXPECT_NEAR(d, span_distance_fn(metric)(query.data(), r.data(), dim), 1e-6f) << "dim " << dim;
        } else if (metric == Metric::Euclidean) {
          EXPECT_EQ(d, span_distance_fn(metric)(query.data(), r.data(), dim));
        } else {
          EXPECT_EQ(d, span_distance_fn(metric)(query.data(), r.data(), dim));
          EXPECT_EQ(d, scan[i]);
        }
      }
    }
  }
}

// The side-by-side kernel must give the one-row kernel's bits for every metric and length,
// including rows the cosine treats specially and values that overflow or are not numbers.
TEST(Distance, PairKernelGivesTheOneRowKernelsBits) {
  std::mt19937 rng(8);
  std::normal_distribution<float> normal;
  auto bits = [](float x) {
    std::uint32_t u = 0;
    std::memcpy(&u, &x, sizeof u);
    return u;
  };
  enum class Row { Random, Zero, SameAsQuery, Huge, WithNaN };
  for (std::size_t dim : {1u, 2u, 15u, 16u, 17u, 31u, 32u, 33u, 100u, 128u, 383u, 384u, 385u, 1536u}) {
    Vec query(dim);
    for (float& x : query) x = normal(rng);
    const float qn = vector_norm(query);
    std::vector<Vec> rows;
    for (Row kind : {Row::Random, Row::Zero, Row::SameAsQuery, Row::Huge, Row::WithNaN, Row::Random}) {
      Vec r(dim);
      for (float& x : r) x = normal(rng);
      if (kind == Row::Zero) std::fill(r.begin(), r.end(), 0.0f);
      if (kind == Row::SameAsQuery) r = query;
      if (kind == Row::Huge) r[dim / 2] = 3e38f;
      if (kind == Row::WithNaN) r[dim - 1] = std::nanf("");
      rows.push_back(r);
    }
    for (Metric metric : {Metric::Cosine, Metric::Euclidean, Metric::DotProduct}) {
      const RowDistanceFn single = row_distance_fn(metric);
      const RowPairDistanceFn pair = row_pair_distance_fn(metric);
      for (std::size_t i = 0; i < rows.size(); ++i) {
        for (std::size_t j = 0; j < rows.size(); ++j) {
          const float ni = vector_norm(rows[i]);
          const float nj = vector_norm(rows[j]);
          float got[2] = {0.0f, 0.0f};
          pair(query.data(), qn, rows[i].data(), ni, rows[j].data(), nj, dim, got);
          EXPECT_EQ(bits(got[0]), bits(single(query.data(), qn, rows[i].data(), ni, dim)))
              << metric_name(metric) << " dim " << dim << " rows " << i << "," << j;
          EXPECT_EQ(bits(got[1]), bits(single(query.data(), qn, rows[j].data(), nj, dim)))
              << metric_name(metric) << " dim " << dim << " rows " << i << "," << j;
        }
      }
    }
  }
}

#if defined(__x86_64__)
// On a CPU with the AVX-512 subsets the library's kernels use, the side-by-side and one-pass code
// kernels must be in use: a start-up check that silently fails would leave walks on the slower
// path.
TEST(Distance, OnePassKernelsAreUsedWhereAvx512IsAvailable) {
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("avx512f") || !__builtin_cpu_supports("avx512bw") ||
      !__builtin_cpu_supports("avx512vl") || !__builtin_cpu_supports("bmi2")) {
    GTEST_SKIP() << "no AVX-512 on this CPU";
  }
  EXPECT_TRUE(row_pair_kernels_fused());
  EXPECT_TRUE(code_distance_fused());
}

// The same on a CPU with AVX2 and FMA but no AVX-512, where the library runs its AVX2 kernels.
TEST(Distance, OnePassKernelsAreUsedWhereAvx2IsAvailable) {
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma")) GTEST_SKIP() << "no AVX2 on this CPU";
  EXPECT_TRUE(row_pair_kernels_fused());
  EXPECT_TRUE(code_distance_fused());
  if (!__builtin_cpu_supports("avx512f")) {
    EXPECT_TRUE(code_pair_kernels_fused());
  }
}
#endif

// Scoring one-byte codes in one pass, one row or two side by side, must give the bits of decoding
// the row and then scoring it, including all-zero rows and queries (the cosine's special cases)
// and codes at both ends.
TEST(Distance, CodeDistanceEqualsDecodingThenScoring) {
  std::mt19937 rng(9);
  std::normal_distribution<float> normal;
  std::uniform_int_distribution<int> byte(0, 255);
  auto bits = [](float x) {
    std::uint32_t u = 0;
    std::memcpy(&u, &x, sizeof u);
    return u;
  };
  enum class Case { Random, ZeroRow, ZeroQuery, ExtremeCodes };
  for (std::size_t dim : {1u, 5u, 16u, 17u, 33u, 128u, 384u, 385u, 1000u}) {
    for (Case kind : {Case::Random, Case::ZeroRow, Case::ZeroQuery, Case::ExtremeCodes}) {
      for (int sample = 0; sample < 20; ++sample) {
        Vec query(dim), scales(dim), mins(dim), scratch(dim);
        std::vector<std::uint8_t> codes(dim);
        std::vector<std::uint8_t> other(dim);
        for (std::size_t i = 0; i < dim; ++i) {
          query[i] = kind == Case::ZeroQuery ? 0.0f : normal(rng);
          scales[i] = kind == Case::ZeroRow ? 0.0f : std::abs(normal(rng)) / 64.0f;
          mins[i] = kind == Case::ZeroRow ? 0.0f : normal(rng);
          codes[i] = static_cast<std::uint8_t>(kind == Case::ExtremeCodes ? (i % 2 ? 255 : 0) : byte(rng));
          other[i] = static_cast<std::uint8_t>(byte(rng));
        }
        for (Metric metric : {Metric::Cosine, Metric::Euclidean, Metric::DotProduct}) {
          const float got =
              code_distance_fn(metric)(query.data(), codes.data(), scales.data(), mins.data(), scratch.data(), dim);
          const float want = code_distance_fn(metric, false)(query.data(), codes.data(), scales.data(), mins.data(),
                                                             scratch.data(), dim);
          ASSERT_EQ(bits(got), bits(want)) << metric_name(metric) << " dim " << dim << " case "
                                           << static_cast<int>(kind) << " sample " << sample;
          const float want_other = code_distance_fn(metric, false)(query.data(), other.data(), scales.data(),
                                                                   mins.data(), scratch.data(), dim);
          float pair[2] = {0.0f, 0.0f};
          code_pair_distance_fn(metric)(query.data(), codes.data(), other.data(), scales.data(), mins.data(),
                                        scratch.data(), dim, pair);
          ASSERT_EQ(bits(pair[0]), bits(want)) << metric_name(metric) << " pair, dim " << dim << " case "
                                               << static_cast<int>(kind) << " sample " << sample;
          ASSERT_EQ(bits(pair[1]), bits(want_other)) << metric_name(metric) << " pair, dim " << dim << " case "
                                                     << static_cast<int>(kind) << " sample " << sample;
        }
      }
    }
  }
}

TEST(BruteForce, CosineScoresZeroNormsAsOne) {
  constexpr std::size_t dim = 4;
  const Vec matrix{0, 0, 0, 0, 1, 0, 0, 0};
  const Vec norms{0.0f, 1.0f};
  const Vec zero(dim, 0.0f);
  // A zero row scores 1.0 even against a zero query, unlike the pairwise function.
  EXPECT_EQ(brute_force_scores(zero, matrix.data(), norms.data(), dim, 2, Metric::Cosine), (Vec{1.0f, 1.0f}));
  const Vec q{2, 0, 0, 0};
  const Vec scores = brute_force_scores(q, matrix.data(), norms.data(), dim, 2, Metric::Cosine);
  EXPECT_EQ(scores[0], 1.0f);
  EXPECT_EQ(scores[1], 0.0f);
}

TEST(BruteForce, EuclideanOfAVectorWithItselfIsOnlyRoundedToZero) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> uni(-100.0f, 100.0f);
  Vec v(33);
  for (float& x : v) x = uni(rng);
  const float norm = vector_norm(v);
  const float score = brute_force_scores(v, v.data(), &norm, v.size(), 1, Metric::Euclidean)[0];
  // norm^2 + q2 - 2 q.v: rounding can leave a small value of either sign; it is not clamped.
  EXPECT_NEAR(score, 0.0f, 1e-5f * norm * norm);
}

TEST(Distance, VectorNormIsTheSquareRootOfTheSumOfSquares) {
  EXPECT_EQ(vector_norm(Vec{3, 4}), 5.0f);
  EXPECT_EQ(vector_norm(Vec{}), 0.0f);
}

TEST(Metric, NamesRoundTripAndAliasesParse) {
  EXPECT_EQ(metric_name(Metric::Cosine), "cosine");
  EXPECT_EQ(metric_name(Metric::Euclidean), "euclidean");
  EXPECT_EQ(metric_name(Metric::DotProduct), "dot_product");
  EXPECT_EQ(parse_metric("cosine"), Metric::Cosine);
  EXPECT_EQ(parse_metric("l2"), Metric::Euclidean);
  EXPECT_EQ(parse_metric("euclidean"), Metric::Euclidean);
  EXPECT_EQ(parse_metric("dot"), Metric::DotProduct);
  EXPECT_EQ(parse_metric("dot_product"), Metric::DotProduct);
  EXPECT_FALSE(parse_metric("Cosine").has_value());
  EXPECT_FALSE(parse_metric("manhattan").has_value());
  EXPECT_FALSE(parse_metric("").has_value());
}

TEST(BlasHint, IsWrittenOncePerProcessAcrossThreads) {
  ASSERT_FALSE(blas_hint_shown());
  testing::internal::CaptureStderr();
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) threads.emplace_back([] { show_blas_hint_once(); });
  for (auto& t : threads) t.join();
  show_blas_hint_once();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string(blas_hint_text()));
  EXPECT_TRUE(blas_hint_shown());
}

}  // namespace
}  // namespace quarn
