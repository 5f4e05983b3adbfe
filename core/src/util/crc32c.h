#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace quarn {

// CRC-32C (Castagnoli, reflected polynomial 0x82F63B78), through the SSE4.2 crc32 instruction
// where the CPU has it and slicing-by-8 tables elsewhere; both give the same values. Pass the
// previous result as `crc` to continue a checksum over several pieces.
std::uint32_t crc32c(std::span<const std::uint8_t> data, std::uint32_t crc = 0);

// The CRC-32C of each `block`-byte piece of `data` (the last may be shorter) into `out`, which
// holds ceil(size / block) values. Pieces are independent, so several are computed side by side.
void crc32c_blocks(std::span<const std::uint8_t> data, std::size_t block, std::uint32_t* out);

// Whether the hardware path is in use (for reports).
bool crc32c_hardware();
// crc32c through the tables alone, whatever the CPU (tests compare the two paths).
std::uint32_t crc32c_portable(std::span<const std::uint8_t> data, std::uint32_t crc = 0);

}  // namespace quarn
