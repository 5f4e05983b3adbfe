#pragma once

#include <cstdint>

namespace quarn {

// The keyword index file, little-endian:
//   u32 magic, u32 version, u8 tokenizer flags, f32 k1, f32 b,
//   u32 term count, then per term in ascending bytewise order:
//     u32 byte length, the term's UTF-8 bytes, u32 posting count,
//     per posting: varint (slot - previous slot - 1, the first against -1), varint tf;
//   u32 CRC-32 of every byte before it.
// Document lengths are the sums of the frequencies of each slot, so they are not stored.
inline constexpr std::uint32_t kKeywordMagic = 0x574B5251;  // "QRKW"
inline constexpr std::uint32_t kKeywordVersion = 1;
inline constexpr std::uint32_t kKeywordMaxTermBytes = 1u << 16;

}  // namespace quarn
