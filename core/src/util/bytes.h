#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "quarn/result.h"

namespace quarn {

// Every number in the engine's files is little-endian; these are the only encoder and decoder.
inline std::uint32_t load_u32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void store_u32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}
inline float load_f32(const std::uint8_t* p) { return std::bit_cast<float>(load_u32(p)); }

// Appends to a byte buffer.
inline void put_u8(std::vector<std::uint8_t>& out, std::uint8_t v) { out.push_back(v); }
void put_u32(std::vector<std::uint8_t>& out, std::uint32_t v);
void put_f32(std::vector<std::uint8_t>& out, float v);
// Appends every float of `values` in one resize.
void put_f32s(std::vector<std::uint8_t>& out, std::span<const float> values);

// Cursor over bytes in memory; a read that finds too few bytes fails with io_eof() and leaves
// the cursor where it was.
class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> data) : data_(data) {}

  std::size_t remaining() const { return data_.size() - pos_; }
  std::size_t position() const { return pos_; }
  std::span<const std::uint8_t> rest() const { return data_.subspan(pos_); }
  // Moves to the end, so that nothing more can be read.
  void skip_rest() { pos_ = data_.size(); }

  Result<std::uint8_t> read_u8();
  Result<std::uint32_t> read_u32();
  Result<float> read_f32();
  // A span of `size` bytes inside the data.
  Result<std::span<const std::uint8_t>> read_bytes(std::size_t size);

 private:
  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
};

}  // namespace quarn
