#pragma once

// Kernels that mirror the distance library's AVX-512 and AVX2 f32 kernels step for step, so that
// they give the same bits while doing more per pass. Each is used only where the library itself
// runs the kernels it mirrors (library_f32_capability), and checked against the library at
// start-up.

#include <initializer_list>

#include <simsimd/simsimd.h>

#include "distance/distance.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QUARN_X86_MIRROR 1
#define QUARN_AVX512_TARGET __attribute__((target("avx2,fma,avx512f,avx512bw,avx512vl,bmi2")))
#define QUARN_AVX2_TARGET __attribute__((target("avx2,fma")))
#endif

namespace quarn::detail {

// One kernel per metric, and whether each is the library-mirroring one.
template <class Fn>
struct PerMetric {
  Fn euclidean;
  Fn dot_product;
  Fn cosine;
  bool all_mirrored = false;

  Fn of(Metric metric) const {
    switch (metric) {
      case Metric::Euclidean:
        return euclidean;
      case Metric::DotProduct:
        return dot_product;
      case Metric::Cosine:
        break;
    }
    return cosine;
  }
};

// The instruction set the library serves f32 with for all of these metric kinds, or serial when
// they are served by different ones.
inline simsimd_capability_t library_f32_capability(std::initializer_list<simsimd_metric_kind_t> kinds) {
  const simsimd_capability_t caps = simsimd_capabilities();
  simsimd_capability_t common = simsimd_cap_serial_k;
  bool first = true;
  for (const simsimd_metric_kind_t kind : kinds) {
    simsimd_kernel_punned_t kernel = nullptr;
    simsimd_capability_t used = simsimd_cap_serial_k;
    simsimd_find_kernel_punned(kind, simsimd_datatype_f32_k, caps, simsimd_cap_any_k, &kernel, &used);
    if (kernel == nullptr || (!first && used != common)) return simsimd_cap_serial_k;
    common = used;
    first = false;
  }
  return common;
}

#ifdef QUARN_X86_MIRROR
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// The library's reduction of 16 lanes to one sum, in its order.
QUARN_AVX512_TARGET inline double reduce_lanes(__m512 a) {
  const __m512 x = _mm512_add_ps(a, _mm512_shuffle_f32x4(a, a, _MM_SHUFFLE(0, 0, 3, 2)));
  __m128 r = _mm512_castps512_ps128(_mm512_add_ps(x, _mm512_shuffle_f32x4(x, x, _MM_SHUFFLE(0, 0, 0, 1))));
  r = _mm_hadd_ps(r, r);
  return _mm_cvtss_f32(_mm_hadd_ps(r, r));
}

// The library's AVX2 reduction of 8 lanes: widened to double, halves added, then pairs.
QUARN_AVX2_TARGET inline double reduce_lanes8(__m256 a) {
  const __m256d sum = _mm256_add_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(a)), _mm256_cvtps_pd(_mm256_extractf128_ps(a, 1)));
  const __m128d r = _mm_add_pd(_mm256_castpd256_pd128(sum), _mm256_extractf128_pd(sum, 1));
  return _mm_cvtsd_f64(_mm_hadd_pd(r, r));
}
#pragma GCC diagnostic pop
#endif

}  // namespace quarn::detail
