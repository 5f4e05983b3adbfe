#include <array>
#include <bit>
#include <cstdint>
#include <vector>

#include <simsimd/simsimd.h>

#include "distance/distance.h"
#include "distance/row_finish.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QUARN_ROW_PAIR_AVX512 1
#endif

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

struct PairKernels {
  RowPairDistanceFn l2sq = pair_by_single<Metric::Euclidean>;
  RowPairDistanceFn negated_dot = pair_by_single<Metric::DotProduct>;
  RowPairDistanceFn cosine = pair_by_single<Metric::Cosine>;
  bool fused = false;
};

#ifdef QUARN_ROW_PAIR_AVX512
// GCC 12 reports the deliberately undefined pass-through operand of some AVX-512 intrinsics as
// uninitialised.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#define QUARN_AVX512_TARGET __attribute__((target("avx2,avx512f,avx512bw,avx512vl,bmi2")))

// The AVX-512 f32 kernels of the distance library keep one 16-lane sum, add 16 floats per step
// (the last step masked) and reduce the lanes in a fixed order. These run the same steps for two
// rows side by side: each row's sum sees the same operations in the same order, so the results
// are the same bits, while the two dependency chains overlap instead of following each other.
QUARN_AVX512_TARGET inline double reduce_lanes(__m512 a) {
  const __m512 x = _mm512_add_ps(a, _mm512_shuffle_f32x4(a, a, _MM_SHUFFLE(0, 0, 3, 2)));
  __m128 r = _mm512_castps512_ps128(_mm512_add_ps(x, _mm512_shuffle_f32x4(x, x, _MM_SHUFFLE(0, 0, 0, 1))));
  r = _mm_hadd_ps(r, r);
  return _mm_cvtss_f32(_mm_hadd_ps(r, r));
}

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
  *s0 = reduce_lanes(acc0);
  *s1 = reduce_lanes(acc1);
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

// Whether the distance library serves f32 dot products and squared distances with its AVX-512
// kernels, the ones the two-row kernels mirror.
bool library_uses_avx512_f32() {
  const simsimd_capability_t caps = simsimd_capabilities();
  for (const simsimd_metric_kind_t kind : {simsimd_metric_dot_k, simsimd_metric_l2sq_k}) {
    simsimd_kernel_punned_t kernel = nullptr;
    simsimd_capability_t used = simsimd_cap_serial_k;
    simsimd_find_kernel_punned(kind, simsimd_datatype_f32_k, caps, simsimd_cap_any_k, &kernel, &used);
    if (kernel == nullptr || used != simsimd_cap_skylake_k) return false;
  }
  return true;
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

const PairKernels& pair_kernels() {
  static const PairKernels kernels = [] {
    PairKernels k;
#ifdef QUARN_ROW_PAIR_AVX512
    if (library_uses_avx512_f32() && agrees_with_single(pair_avx512<Metric::Euclidean>, Metric::Euclidean) &&
        agrees_with_single(pair_avx512<Metric::DotProduct>, Metric::DotProduct) &&
        agrees_with_single(pair_avx512<Metric::Cosine>, Metric::Cosine)) {
      k.l2sq = pair_avx512<Metric::Euclidean>;
      k.negated_dot = pair_avx512<Metric::DotProduct>;
      k.cosine = pair_avx512<Metric::Cosine>;
      k.fused = true;
    }
#endif
    return k;
  }();
  return kernels;
}

}  // namespace

RowPairDistanceFn row_pair_distance_fn(Metric metric) {
  const PairKernels& k = pair_kernels();
  switch (metric) {
    case Metric::Euclidean:
      return k.l2sq;
    case Metric::DotProduct:
      return k.negated_dot;
    case Metric::Cosine:
      break;
  }
  return k.cosine;
}

bool row_pair_kernels_fused() { return pair_kernels().fused; }

}  // namespace quarn
