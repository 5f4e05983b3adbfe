#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "quarn/result.h"

namespace quarn {

class BufferedWriter;
class ByteReader;

// SQ8 scalar quantizer: one byte per component from a per-dimension minimum and scale.
struct ScalarQuantizer {
  std::vector<float> mins;
  std::vector<float> scales;
  std::size_t dim = 0;

  // Rows = matrix.size() / dim. dim must not be 0.
  static ScalarQuantizer train(std::span<const float> matrix, std::size_t dim);
  // Rounds half away from zero after clamping to [0, 255]; NaN encodes as 0.
  std::vector<std::uint8_t> quantize(std::span<const float> v) const;
  std::vector<std::uint8_t> quantize_batch(std::span<const float> matrix, std::size_t dim) const;
  // Decodes component i of a code: code * scales[i] + mins[i], without a fused multiply-add.
  float decode(std::size_t i, std::uint8_t code) const;

  // Writes dim (u32), mins, scales, little-endian.
  Status save(BufferedWriter& out) const;
  // Reads the record from the reader's position; short data is "failed to fill whole buffer".
  static Result<ScalarQuantizer> load(ByteReader& in);
};

}  // namespace quarn
