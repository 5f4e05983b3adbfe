#include "quantize/quantizer.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "util/bytes.h"
#include "util/file.h"

namespace quarn {

ScalarQuantizer ScalarQuantizer::train(std::span<const float> matrix, std::size_t dim) {
  constexpr float kMax = std::numeric_limits<float>::max();
  ScalarQuantizer q;
  q.dim = dim;
  if (dim == 0) return q;
  q.mins.assign(dim, kMax);
  std::vector<float> maxs(dim, -kMax);
  const std::size_t rows = matrix.size() / dim;
  for (std::size_t r = 0; r < rows; ++r) {
    const float* row = matrix.data() + r * dim;
    for (std::size_t i = 0; i < dim; ++i) {
      const float v = row[i];
      // NaN fails both comparisons and so never becomes a bound.
      if (v < q.mins[i]) q.mins[i] = v;
      if (v > maxs[i]) maxs[i] = v;
    }
  }
  q.scales.resize(dim);
  for (std::size_t i = 0; i < dim; ++i) {
    const float range = maxs[i] - q.mins[i];
    q.scales[i] = range != 0.0f ? range / 255.0f : 1.0f;
  }
  return q;
}

namespace {

std::uint8_t encode(float v, float min, float scale) {
  float x = (v - min) / scale;
  if (x < 0.0f) x = 0.0f;
  if (x > 255.0f) x = 255.0f;
  if (std::isnan(x)) return 0;
  // std::round rounds halves away from zero.
  return static_cast<std::uint8_t>(std::round(x));
}

}  // namespace

std::vector<std::uint8_t> ScalarQuantizer::quantize(std::span<const float> v) const {
  std::vector<std::uint8_t> codes(v.size(), 0);
  // Components past the trained dimensions (possible only with a damaged quantizer file)
  // encode as 0 rather than reading past the arrays.
  const std::size_t n = std::min({v.size(), mins.size(), scales.size()});
  for (std::size_t i = 0; i < n; ++i) codes[i] = encode(v[i], mins[i], scales[i]);
  return codes;
}

std::vector<std::uint8_t> ScalarQuantizer::quantize_batch(std::span<const float> matrix, std::size_t row_dim) const {
  if (row_dim == 0) return {};
  const std::size_t rows = matrix.size() / row_dim;
  std::vector<std::uint8_t> codes(rows * row_dim, 0);
  const std::size_t n = std::min({row_dim, mins.size(), scales.size()});
  for (std::size_t r = 0; r < rows; ++r) {
    const float* row = matrix.data() + r * row_dim;
    std::uint8_t* out = codes.data() + r * row_dim;
    for (std::size_t i = 0; i < n; ++i) out[i] = encode(row[i], mins[i], scales[i]);
  }
  return codes;
}

float ScalarQuantizer::decode(std::size_t i, std::uint8_t code) const {
  // The product is rounded to single precision before the addition: the library is built
  // without FMA code generation and in ISO mode, where GCC does not contract expressions.
  const float product = static_cast<float>(code) * scales[i];
  return product + mins[i];
}

Status ScalarQuantizer::save(BufferedWriter& out) const {
  QUARN_TRY(out.write_u32(static_cast<std::uint32_t>(dim)));
  for (float v : mins) QUARN_TRY(out.write_f32(v));
  for (float v : scales) QUARN_TRY(out.write_f32(v));
  return Status::success();
}

Result<ScalarQuantizer> ScalarQuantizer::load(ByteReader& in) {
  auto dim = in.read_u32();
  if (!dim.ok()) return std::move(dim).error();
  const std::size_t n = *dim;
  // Reject a count the data cannot hold before allocating for it.
  if (in.remaining() / 8 < n) return QuarnError::io_eof();
  ScalarQuantizer q;
  q.dim = n;
  q.mins.resize(n);
  q.scales.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    auto v = in.read_f32();
    if (!v.ok()) return std::move(v).error();
    q.mins[i] = *v;
  }
  for (std::size_t i = 0; i < n; ++i) {
    auto v = in.read_f32();
    if (!v.ok()) return std::move(v).error();
    q.scales[i] = *v;
  }
  return q;
}

}  // namespace quarn
