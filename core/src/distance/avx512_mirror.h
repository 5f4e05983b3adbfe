#pragma once

// Kernels that mirror the distance library's AVX-512 f32 kernels step for step, so that they
// give the same bits while doing more per pass. Used only where the library itself runs its
// AVX-512 kernels (library_uses_avx512_f32), and checked against the library at start-up.

#include <initializer_list>

#include <simsimd/simsimd.h>

#include "distance/distance.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QUARN_AVX512_MIRROR 1
#define QUARN_AVX512_TARGET __attribute__((target("avx2,fma,avx512f,avx512bw,avx512vl,bmi2")))
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

// Whether the library serves f32 for each of these metric kinds with its AVX-512 kernel.
inline bool library_uses_avx512_f32(std::initializer_list<simsimd_metric_kind_t> kinds) {
  const simsimd_capability_t caps = simsimd_capabilities();
  for (const simsimd_metric_kind_t kind : kinds) {
    simsimd_kernel_punned_t kernel = nullptr;
    simsimd_capability_t used = simsimd_cap_serial_k;
    simsimd_find_kernel_punned(kind, simsimd_datatype_f32_k, caps, simsimd_cap_any_k, &kernel, &used);
    if (kernel == nullptr || used != simsimd_cap_skylake_k) return false;
  }
  return true;
}

#ifdef QUARN_AVX512_MIRROR
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
#pragma GCC diagnostic pop
#endif

}  // namespace quarn::detail
