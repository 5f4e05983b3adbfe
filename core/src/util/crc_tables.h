#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "util/bytes.h"

namespace quarn::crc_detail {

// Slicing-by-8 tables of a reflected CRC-32 polynomial.
using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr Tables make_tables(std::uint32_t poly) {
  Tables t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ poly : c >> 1;
    t[0][i] = c;
  }
  for (std::size_t i = 0; i < 256; ++i) {
    for (std::size_t k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  }
  return t;
}

// Continues the inverted register `c` over [p, p + n), eight bytes at a time.
inline std::uint32_t update(const Tables& t, std::uint32_t c, const std::uint8_t* p, std::size_t n) {
  while (n >= 8) {
    const std::uint32_t lo = load_u32(p) ^ c;
    const std::uint32_t hi = load_u32(p + 4);
    c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^ t[3][hi & 0xFF] ^
        t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
    p += 8;
    n -= 8;
  }
  while (n-- > 0) c = (c >> 8) ^ t[0][(c ^ *p++) & 0xFF];
  return c;
}

}  // namespace quarn::crc_detail
