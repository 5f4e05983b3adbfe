#include "util/bytes.h"

namespace quarn {

void put_u32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  const std::size_t at = out.size();
  out.resize(at + 4);
  store_u32(out.data() + at, v);
}

void put_f32(std::vector<std::uint8_t>& out, float v) { put_u32(out, std::bit_cast<std::uint32_t>(v)); }

void put_f32s(std::vector<std::uint8_t>& out, std::span<const float> values) {
  const std::size_t at = out.size();
  out.resize(at + values.size() * 4);
  std::uint8_t* dst = out.data() + at;
  for (float v : values) {
    store_u32(dst, std::bit_cast<std::uint32_t>(v));
    dst += 4;
  }
}

Result<std::uint8_t> ByteReader::read_u8() {
  if (remaining() < 1) return QuarnError::io_eof();
  return data_[pos_++];
}

Result<std::uint32_t> ByteReader::read_u32() {
  if (remaining() < 4) return QuarnError::io_eof();
  const std::uint32_t v = load_u32(data_.data() + pos_);
  pos_ += 4;
  return v;
}

Result<float> ByteReader::read_f32() {
  auto bits = read_u32();
  if (!bits.ok()) return std::move(bits).error();
  return std::bit_cast<float>(*bits);
}

Result<std::span<const std::uint8_t>> ByteReader::read_bytes(std::size_t size) {
  if (remaining() < size) return QuarnError::io_eof();
  auto out = data_.subspan(pos_, size);
  pos_ += size;
  return out;
}

}  // namespace quarn
