#include <array>
#include <bit>
#include <cstdint>
#include <vector>

#include "distance/distance.h"
#include "distance/simd_mirror.h"
#include "distance/row_finish.h"

namespace quarn {

namespace {

// Two rows through the one-row kernel: equal to it by construction, wherever it runs.
template <Metric M>
void pair_by_single(const float* a, float a_norm, const float* b0, float b0_norm, const float* b1, float b1_norm,
                    std::size_t dim, float* out) {
  static const RowDistanceFn single = row_distance_fn(M);
  out[0] = single(a, a_norm, b0, b0_norm, dim);
  out[1] = single(a, a_norm, b1, b1_norm, dim);
}

#ifdef QUARN_X86_MIRROR
// GCC 12 reports the deliberately undefined pass-through operand of some AVX-512 intrinsics as
// uninitialised.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// The library's AVX-512 f32 kernels keep one 16-lane sum, add 16 floats per step (the last step
// masked) and reduce the lanes in a fixed order. These run the same steps for two rows side by
// side: each row's sum sees the same operations in the same order, so the results are the same
// bits, while the two dependency chains overlap instead of following each other.

// Sums of a*b (Squares false) or (a-b)^2 (Squares true) of `a` with b0 and b1.
template <bool Squares>
QUARN_AVX512_TARGET void sum_pair(const float* a, const float* b0, const float* b1, std::size_t n, double* s0,
                                  double* s1) {
  __m512 acc0 = _mm512_setzero_ps();
  __m512 acc1 = _mm512_setzero_ps();
  for (;;) {
    __m512 av;
    __m512 v0;
    __m512 v1;
    if (n < 16) {
      const auto mask = static_cast<__mmask16>(_bzhi_u32(0xFFFFFFFFu, static_cast<unsigned>(n)));
      av = _mm512_maskz_loadu_ps(mask, a);
      v0 = _mm512_maskz_loadu_ps(mask, b0);
      v1 = _mm512_maskz_loadu_ps(mask, b1);
      n = 0;
    } else {
      av = _mm512_loadu_ps(a);
      v0 = _mm512_loadu_ps(b0);
      v1 = _mm512_loadu_ps(b1);
      a += 16;
      b0 += 16;
      b1 += 16;
      n -= 16;
    }
    if constexpr (Squares) {
      const __m512 d0 = _mm512_sub_ps(av, v0);
      const __m512 d1 = _mm512_sub_ps(av, v1);
      acc0 = _mm512_fmadd_ps(d0, d0, acc0);
      acc1 = _mm512_fmadd_ps(d1, d1, acc1);
    } else {
      acc0 = _mm512_fmadd_ps(av, v0, acc0);
      acc1 = _mm512_fmadd_ps(av, v1, acc1);
    }
    if (n == 0) break;
  }
  *s0 = detail::reduce_lanes(acc0);
  *s1 = detail::reduce_lanes(acc1);
}

template <Metric M>
QUARN_AVX512_TARGET void pair_avx512(const float* a, float a_norm, const float* b0, float b0_norm, const float* b1,
                                     float b1_norm, std::size_t dim, float* out) {
  double s0 = 0.0;
  double s1 = 0.0;
  sum_pair<M == Metric::Euclidean>(a, b0, b1, dim, &s0, &s1);
  out[0] = detail::finish_row<M>(s0, a_norm, b0_norm);
  out[1] = detail::finish_row<M>(s1, a_norm, b1_norm);
}

// The library's AVX2 f32 kernels keep one 8-lane sum over whole steps of 8 floats, reduce it in
// double precision, then add the remaining floats one at a time (each product rounded to float,
// the sum in double). The same for two rows side by side.
template <bool Squares>
QUARN_AVX2_TARGET void sum_pair_avx2(const float* a, const float* b0, const float* b1, std::size_t n, double* s0,
                                     double* s1) {
  __m256 acc0 = _mm256_setzero_ps();
  __m256 acc1 = _mm256_setzero_ps();
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256 av = _mm256_loadu_ps(a + i);
    const __m256 v0 = _mm256_loadu_ps(b0 + i);
    const __m256 v1 = _mm256_loadu_ps(b1 + i);
    if constexpr (Squares) {
      const __m256 d0 = _mm256_sub_ps(av, v0);
      const __m256 d1 = _mm256_sub_ps(av, v1);
      acc0 = _mm256_fmadd_ps(d0, d0, acc0);
      acc1 = _mm256_fmadd_ps(d1, d1, acc1);
    } else {
      acc0 = _mm256_fmadd_ps(av, v0, acc0);
      acc1 = _mm256_fmadd_ps(av, v1, acc1);
    }
  }
  double r0 = detail::reduce_lanes8(acc0);
  double r1 = detail::reduce_lanes8(acc1);
  for (; i < n; ++i) {
    if constexpr (Squares) {
      const float d0 = a[i] - b0[i];
      const float d1 = a[i] - b1[i];
      r0 += static_cast<double>(d0 * d0);
      r1 += static_cast<double>(d1 * d1);
    } else {
      r0 += static_cast<double>(a[i] * b0[i]);
      r1 += static_cast<double>(a[i] * b1[i]);
    }
  }
  *s0 = r0;
  *s1 = r1;
}

template <Metric M>
QUARN_AVX2_TARGET void pair_avx2(const float* a, float a_norm, const float* b0, float b0_norm, const float* b1,
                                 float b1_norm, std::size_t dim, float* out) {
  double s0 = 0.0;
  double s1 = 0.0;
  sum_pair_avx2<M == Metric::Euclidean>(a, b0, b1, dim, &s0, &s1);
  out[0] = detail::finish_row<M>(s0, a_norm, b0_norm);
  out[1] = detail::finish_row<M>(s1, a_norm, b1_norm);
}

// The two-row kernel against the one-row kernel on fixed rows of awkward lengths, compared bit
// for bit: a library whose kernel no longer matches (a new summation order, say) is detected at
// startup and the walks keep the one-row kernel rather than change their results.
bool agrees_with_single(RowPairDistanceFn pair, Metric metric) {
  const RowDistanceFn single = row_distance_fn(metric);
  std::uint32_t state = 12345u;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<float>(static_cast<std::int32_t>(state >> 8) - (1 << 23)) / static_cast<float>(1 << 21);
  };
  for (const std::size_t dim : {1, 3, 15, 16, 17, 31, 33, 100, 128, 384, 1000}) {
    std::array<std::vector<float>, 3> rows;
    for (auto& row : rows) {
      row.resize(dim);
      for (float& x : row) x = next();
    }
    const float na = vector_norm(rows[0]);
    const float n1 = vector_norm(rows[1]);
    const float n2 = vector_norm(rows[2]);
    float got[2] = {0.0f, 0.0f};
    pair(rows[0].data(), na, rows[1].data(), n1, rows[2].data(), n2, dim, got);
    const float want0 = single(rows[0].data(), na, rows[1].data(), n1, dim);
    const float want1 = single(rows[0].data(), na, rows[2].data(), n2, dim);
    if (std::bit_cast<std::uint32_t>(got[0]) != std::bit_cast<std::uint32_t>(want0) ||
        std::bit_cast<std::uint32_t>(got[1]) != std::bit_cast<std::uint32_t>(want1)) {
      return false;
    }
  }
  return true;
}
#pragma GCC diagnostic pop
#endif

using PairKernels = detail::PerMetric<RowPairDistanceFn>;

// The side-by-side kernels that mirror the library's kernels for this CPU, where they agree bit
// for bit; two one-row calls otherwise.
const PairKernels& pair_kernels() {
  static const PairKernels kernels = [] {
    PairKernels k{pair_by_single<Metric::Euclidean>, pair_by_single<Metric::DotProduct>,
                  pair_by_single<Metric::Cosine>};
#ifdef QUARN_X86_MIRROR
    PairKernels mirror = k;
    switch (detail::library_f32_capability({simsimd_metric_dot_k, simsimd_metric_l2sq_k})) {
      case simsimd_cap_skylake_k:
        mirror = {pair_avx512<Metric::Euclidean>, pair_avx512<Metric::DotProduct>, pair_avx512<Metric::Cosine>, true};
        break;
      case simsimd_cap_haswell_k:
        mirror = {pair_avx2<Metric::Euclidean>, pair_avx2<Metric::DotProduct>, pair_avx2<Metric::Cosine>, true};
        break;
      default:
        return k;
    }
    if (agrees_with_single(mirror.euclidean, Metric::Euclidean) &&
        agrees_with_single(mirror.dot_product, Metric::DotProduct) &&
        agrees_with_single(mirror.cosine, Metric::Cosine)) {
      k = mirror;
    }
#endif
    return k;
  }();
  return kernels;
}

}  // namespace

RowPairDistanceFn row_pair_distance_fn(Metric metric) { return pair_kernels().of(metric); }

bool row_pair_kernels_fused() { return pair_kernels().all_mirrored; }

}  // namespace quarn
