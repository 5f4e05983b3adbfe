#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "distance/simd_mirror.h"
#include "distance/distance.h"

namespace quarn {

namespace {

void decode(const std::uint8_t* codes, const float* scales, const float* mins, float* out, std::size_t dim) {
  for (std::size_t i = 0; i < dim; ++i) {
    // Rounded product, then the sum: the library is built without FMA contraction.
    const float product = static_cast<float>(codes[i]) * scales[i];
    out[i] = product + mins[i];
  }
}

// Decodes into scratch, then the metric's span kernel: the definition, wherever it runs.
template <Metric M>
float decode_then_score(const float* query, const std::uint8_t* codes, const float* scales, const float* mins,
                        float* scratch, std::size_t dim) {
  static const SpanDistanceFn span = span_distance_fn(M);
  decode(codes, scales, mins, scratch, dim);
  return span(query, scratch, dim);
}

#ifdef QUARN_X86_MIRROR
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// The library's cosine finish for its AVX-512 f32 kernel as its build compiles it: the
// Newton step and the final 1 - ab / (|a| |b|) are fused multiply-adds there (the library is C,
// built with contraction), so they are written as such here. The start-up check compares the
// two on many rows, and cosine falls back to decoding first if a build ever differs.
QUARN_AVX512_TARGET inline double cos_normalize(double ab, double a2, double b2) {
  if (a2 == 0 && b2 == 0) return 0;
  if (ab == 0) return 1;
  const __m128d squares = _mm_set_pd(a2, b2);
  const __m128d r = _mm_maskz_rsqrt14_pd(0xFF, squares);
  const __m128d rsqrts = _mm_fmadd_pd(_mm_mul_pd(_mm_mul_pd(squares, _mm_set1_pd(-0.5)), r), _mm_mul_pd(r, r),
                                      _mm_mul_pd(_mm_set1_pd(1.5), r));
  const double a2_reciprocal = _mm_cvtsd_f64(_mm_unpackhi_pd(rsqrts, rsqrts));
  const double b2_reciprocal = _mm_cvtsd_f64(rsqrts);
  const __m128d scaled = _mm_set_sd(ab * a2_reciprocal);
  const double result = _mm_cvtsd_f64(_mm_fnmadd_sd(_mm_set_sd(b2_reciprocal), scaled, _mm_set_sd(1.0)));
  return result > 0 ? result : 0;
}

// code * scale + min with the product rounded before the sum, as decode() computes it. The
// explicit rounding forms keep the compiler from fusing the two into one multiply-add.
QUARN_AVX512_TARGET inline __m512 decode_lanes(__m512 code, __m512 scale, __m512 min) {
  constexpr int kNearest = _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC;
  return _mm512_add_round_ps(_mm512_mul_round_ps(code, scale, kNearest), min, kNearest);
}

// The library's AVX-512 f32 span kernels with the row decoded 16 components at a time as it is
// read: every decoded lane and every sum step is what decoding first and then scoring computes.
template <Metric M>
QUARN_AVX512_TARGET float score_codes_avx512(const float* query, const std::uint8_t* codes, const float* scales,
                                             const float* mins, float*, std::size_t n) {
  __m512 ab = _mm512_setzero_ps();
  __m512 a2 = _mm512_setzero_ps();
  __m512 b2 = _mm512_setzero_ps();
  for (;;) {
    __m512 q;
    __m512 row;
    if (n < 16) {
      const auto mask = static_cast<__mmask16>(_bzhi_u32(0xFFFFFFFFu, static_cast<unsigned>(n)));
      q = _mm512_maskz_loadu_ps(mask, query);
      const __m512 code = _mm512_cvtepi32_ps(_mm512_cvtepu8_epi32(_mm_maskz_loadu_epi8(mask, codes)));
      row = decode_lanes(code, _mm512_maskz_loadu_ps(mask, scales), _mm512_maskz_loadu_ps(mask, mins));
      n = 0;
    } else {
      q = _mm512_loadu_ps(query);
      const __m512 code =
          _mm512_cvtepi32_ps(_mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(codes))));
      row = decode_lanes(code, _mm512_loadu_ps(scales), _mm512_loadu_ps(mins));
      query += 16;
      codes += 16;
      scales += 16;
      mins += 16;
      n -= 16;
    }
    if constexpr (M == Metric::Euclidean) {
      const __m512 d = _mm512_sub_ps(q, row);
      ab = _mm512_fmadd_ps(d, d, ab);
    } else if constexpr (M == Metric::DotProduct) {
      ab = _mm512_fmadd_ps(q, row, ab);
    } else {
      ab = _mm512_fmadd_ps(q, row, ab);
      a2 = _mm512_fmadd_ps(q, q, a2);
      b2 = _mm512_fmadd_ps(row, row, b2);
    }
    if (n == 0) break;
  }
  if constexpr (M == Metric::Euclidean) {
    return static_cast<float>(detail::reduce_lanes(ab));
  } else if constexpr (M == Metric::DotProduct) {
    return -static_cast<float>(detail::reduce_lanes(ab));
  } else {
    return static_cast<float>(
        cos_normalize(detail::reduce_lanes(ab), detail::reduce_lanes(a2), detail::reduce_lanes(b2)));
  }
}

// The library's cosine finish for its AVX2 f32 kernel, written as the library writes it; the
// start-up check finds out whether this build contracts it as the library's build does.
QUARN_AVX2_TARGET inline double cos_normalize_avx2(double ab, double a2, double b2) {
  if (a2 == 0 && b2 == 0) return 0;
  if (ab == 0) return 1;
  const __m128d squares = _mm_set_pd(a2, b2);
  __m128d rsqrts = _mm_cvtps_pd(_mm_rsqrt_ps(_mm_cvtpd_ps(squares)));
  rsqrts = _mm_add_pd(_mm_mul_pd(_mm_set1_pd(1.5), rsqrts),
                      _mm_mul_pd(_mm_mul_pd(_mm_mul_pd(squares, _mm_set1_pd(-0.5)), rsqrts), _mm_mul_pd(rsqrts, rsqrts)));
  const double a2_reciprocal = _mm_cvtsd_f64(_mm_unpackhi_pd(rsqrts, rsqrts));
  const double b2_reciprocal = _mm_cvtsd_f64(rsqrts);
  const double result = 1 - ab * a2_reciprocal * b2_reciprocal;
  return result > 0 ? result : 0;
}

// decode() for 8 lanes and for one component. The empty asm hides the rounded product from the
// compiler, which would otherwise fuse the product and the sum into one multiply-add.
QUARN_AVX2_TARGET inline __m256 decode_lanes8(__m256 code, __m256 scale, __m256 min) {
  __m256 product = _mm256_mul_ps(code, scale);
  __asm__("" : "+x"(product));
  return _mm256_add_ps(product, min);
}
QUARN_AVX2_TARGET inline float decode_one(std::uint8_t code, float scale, float min) {
  float product = static_cast<float>(code) * scale;
  __asm__("" : "+x"(product));
  return product + min;
}

// The library's AVX2 f32 span kernels (whole steps of 8 lanes, a double-precision reduction,
// then the remaining components one at a time) with each of `Rows` code rows decoded as it is
// read. Side by side, every row takes the steps it takes alone; the query's own sum (cosine)
// does not depend on the row and is taken once.
template <Metric M, std::size_t Rows>
QUARN_AVX2_TARGET void score_code_rows_avx2(const float* query, const std::uint8_t* const* codes,
                                            const float* scales, const float* mins, std::size_t n, float* out) {
  __m256 ab_lanes[Rows];
  __m256 b2_lanes[Rows];
  __m256 a2_lanes = _mm256_setzero_ps();
  for (std::size_t r = 0; r < Rows; ++r) {
    ab_lanes[r] = _mm256_setzero_ps();
    b2_lanes[r] = _mm256_setzero_ps();
  }
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256 q = _mm256_loadu_ps(query + i);
    const __m256 scale = _mm256_loadu_ps(scales + i);
    const __m256 min = _mm256_loadu_ps(mins + i);
    for (std::size_t r = 0; r < Rows; ++r) {
      const __m256 code = _mm256_cvtepi32_ps(
          _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(codes[r] + i))));
      const __m256 row = decode_lanes8(code, scale, min);
      if constexpr (M == Metric::Euclidean) {
        const __m256 d = _mm256_sub_ps(q, row);
        ab_lanes[r] = _mm256_fmadd_ps(d, d, ab_lanes[r]);
      } else {
        ab_lanes[r] = _mm256_fmadd_ps(q, row, ab_lanes[r]);
        if constexpr (M == Metric::Cosine) b2_lanes[r] = _mm256_fmadd_ps(row, row, b2_lanes[r]);
      }
    }
    if constexpr (M == Metric::Cosine) a2_lanes = _mm256_fmadd_ps(q, q, a2_lanes);
  }
  double ab[Rows];
  double b2[Rows];
  for (std::size_t r = 0; r < Rows; ++r) {
    ab[r] = detail::reduce_lanes8(ab_lanes[r]);
    b2[r] = detail::reduce_lanes8(b2_lanes[r]);
  }
  double a2 = detail::reduce_lanes8(a2_lanes);
  for (; i < n; ++i) {
    const float q = query[i];
    for (std::size_t r = 0; r < Rows; ++r) {
      const float row = decode_one(codes[r][i], scales[i], mins[i]);
      if constexpr (M == Metric::Euclidean) {
        const float d = q - row;
        ab[r] += static_cast<double>(d * d);
      } else {
        ab[r] += static_cast<double>(q * row);
        if constexpr (M == Metric::Cosine) b2[r] += static_cast<double>(row * row);
      }
    }
    if constexpr (M == Metric::Cosine) a2 += static_cast<double>(q * q);
  }
  for (std::size_t r = 0; r < Rows; ++r) {
    if constexpr (M == Metric::Euclidean) {
      out[r] = static_cast<float>(ab[r]);
    } else if constexpr (M == Metric::DotProduct) {
      out[r] = -static_cast<float>(ab[r]);
    } else {
      out[r] = static_cast<float>(cos_normalize_avx2(ab[r], a2, b2[r]));
    }
  }
}

template <Metric M>
QUARN_AVX2_TARGET float score_codes_avx2(const float* query, const std::uint8_t* codes, const float* scales,
                                         const float* mins, float*, std::size_t n) {
  float out = 0.0f;
  score_code_rows_avx2<M, 1>(query, &codes, scales, mins, n, &out);
  return out;
}

template <Metric M>
QUARN_AVX2_TARGET void score_codes_pair_avx2(const float* query, const std::uint8_t* codes0,
                                             const std::uint8_t* codes1, const float* scales, const float* mins,
                                             float*, std::size_t n, float* out) {
  const std::uint8_t* const codes[2] = {codes0, codes1};
  score_code_rows_avx2<M, 2>(query, codes, scales, mins, n, out);
}

// A kernel against decoding then scoring, bit for bit, on 40 fixed pairs of rows of each of 10
// awkward lengths: a last-bit difference shows up in a good share of rows, so a build whose
// kernels differ is caught here. `score` puts its distances of the two rows into out[0], out[1].
template <class Score>
bool agrees_with_decoding(Score score, Metric metric) {
  const CodeDistanceFn reference = code_distance_fn(metric, false);
  std::uint32_t state = 777u;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  // Full 23-bit mantissas, so that products and sums round (values on a coarse grid would not).
  auto signed_value = [&next] {
    const float magnitude = 1.0f + static_cast<float>(next() & 0x7FFFFFu) / 8388608.0f;
    return (next() & 1u) != 0 ? magnitude : -magnitude;
  };
  for (const std::size_t dim : {1, 3, 15, 16, 17, 31, 33, 100, 128, 384}) {
    std::vector<float> query(dim);
    std::vector<float> scales(dim);
    std::vector<float> mins(dim);
    std::vector<std::uint8_t> codes0(dim);
    std::vector<std::uint8_t> codes1(dim);
    std::vector<float> scratch(dim);
    for (int sample = 0; sample < 40; ++sample) {
      for (std::size_t i = 0; i < dim; ++i) {
        query[i] = signed_value() * 4.0f;
        scales[i] = std::abs(signed_value()) / 64.0f;
        mins[i] = signed_value();
        codes0[i] = static_cast<std::uint8_t>(next());
        codes1[i] = static_cast<std::uint8_t>(next());
      }
      float got[2] = {0.0f, 0.0f};
      score(query.data(), codes0.data(), codes1.data(), scales.data(), mins.data(), scratch.data(), dim, got);
      const float want0 = reference(query.data(), codes0.data(), scales.data(), mins.data(), scratch.data(), dim);
      const float want1 = reference(query.data(), codes1.data(), scales.data(), mins.data(), scratch.data(), dim);
      if (std::bit_cast<std::uint32_t>(got[0]) != std::bit_cast<std::uint32_t>(want0)) return false;
      if (std::bit_cast<std::uint32_t>(got[1]) != std::bit_cast<std::uint32_t>(want1)) return false;
    }
  }
  return true;
}

bool one_row_agrees_with_decoding(CodeDistanceFn fused, Metric metric) {
  return agrees_with_decoding(
      [fused](const float* query, const std::uint8_t* codes0, const std::uint8_t* codes1, const float* scales,
              const float* mins, float* scratch, std::size_t dim, float* out) {
        out[0] = fused(query, codes0, scales, mins, scratch, dim);
        out[1] = fused(query, codes1, scales, mins, scratch, dim);
      },
      metric);
}
#pragma GCC diagnostic pop
#endif

using CodeKernels = detail::PerMetric<CodeDistanceFn>;

const CodeKernels& decoding_kernels() {
  static const CodeKernels kernels{decode_then_score<Metric::Euclidean>, decode_then_score<Metric::DotProduct>,
                                   decode_then_score<Metric::Cosine>};
  return kernels;
}

// Each metric takes the one-pass kernel that mirrors the library's kernels for this CPU only when
// it agrees with decoding first.
const CodeKernels& fused_code_kernels() {
  static const CodeKernels kernels = [] {
    CodeKernels k = decoding_kernels();
#ifdef QUARN_X86_MIRROR
    CodeKernels mirror = k;
    switch (detail::library_f32_capability({simsimd_metric_dot_k, simsimd_metric_l2sq_k, simsimd_metric_cos_k})) {
      case simsimd_cap_skylake_k:
        mirror = {score_codes_avx512<Metric::Euclidean>, score_codes_avx512<Metric::DotProduct>,
                  score_codes_avx512<Metric::Cosine>};
        break;
      case simsimd_cap_haswell_k:
        mirror = {score_codes_avx2<Metric::Euclidean>, score_codes_avx2<Metric::DotProduct>,
                  score_codes_avx2<Metric::Cosine>};
        break;
      default:
        return k;
    }
    const bool euclidean = one_row_agrees_with_decoding(mirror.euclidean, Metric::Euclidean);
    const bool dot_product = one_row_agrees_with_decoding(mirror.dot_product, Metric::DotProduct);
    const bool cosine = one_row_agrees_with_decoding(mirror.cosine, Metric::Cosine);
    if (euclidean) k.euclidean = mirror.euclidean;
    if (dot_product) k.dot_product = mirror.dot_product;
    if (cosine) k.cosine = mirror.cosine;
    k.all_mirrored = euclidean && dot_product && cosine;
#endif
    return k;
  }();
  return kernels;
}

// Two rows through a one-row kernel, one after the other.
template <CodeDistanceFn F>
void one_by_one(const float* query, const std::uint8_t* codes0, const std::uint8_t* codes1, const float* scales,
                const float* mins, float* scratch, std::size_t dim, float* out) {
  out[0] = F(query, codes0, scales, mins, scratch, dim);
  out[1] = F(query, codes1, scales, mins, scratch, dim);
}

// The two-row form of the metric's chosen one-row kernel: side by side where a kernel for it
// exists and agrees with decoding first, otherwise that kernel twice.
template <Metric M>
CodePairDistanceFn pair_kernel_for(CodeDistanceFn chosen, bool& side_by_side) {
#ifdef QUARN_X86_MIRROR
  if (chosen == &score_codes_avx2<M>) {
    if (agrees_with_decoding(score_codes_pair_avx2<M>, M)) {
      side_by_side = true;
      return score_codes_pair_avx2<M>;
    }
    return one_by_one<score_codes_avx2<M>>;
  }
  if (chosen == &score_codes_avx512<M>) return one_by_one<score_codes_avx512<M>>;
#endif
  (void)chosen;
  return one_by_one<decode_then_score<M>>;
}

using CodePairKernels = detail::PerMetric<CodePairDistanceFn>;

const CodePairKernels& code_pair_kernels() {
  static const CodePairKernels kernels = [] {
    const CodeKernels& one = fused_code_kernels();
    bool euclidean = false;
    bool dot_product = false;
    bool cosine = false;
    CodePairKernels k{pair_kernel_for<Metric::Euclidean>(one.euclidean, euclidean),
                      pair_kernel_for<Metric::DotProduct>(one.dot_product, dot_product),
                      pair_kernel_for<Metric::Cosine>(one.cosine, cosine)};
    k.all_mirrored = euclidean && dot_product && cosine;
    return k;
  }();
  return kernels;
}

}  // namespace

CodePairDistanceFn code_pair_distance_fn(Metric metric) { return code_pair_kernels().of(metric); }

bool code_pair_kernels_fused() { return code_pair_kernels().all_mirrored; }

CodeDistanceFn code_distance_fn(Metric metric, bool allow_fused) {
  return (allow_fused ? fused_code_kernels() : decoding_kernels()).of(metric);
}

bool code_distance_fused() { return fused_code_kernels().all_mirrored; }

}  // namespace quarn
