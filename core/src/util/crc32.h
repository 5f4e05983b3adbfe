#pragma once

#include <cstdint>
#include <span>

namespace quarn {

// CRC-32 (the reflected polynomial 0xEDB88320 of zlib); pass the previous result as `crc` to
// continue a checksum over several pieces.
std::uint32_t crc32(std::span<const std::uint8_t> data, std::uint32_t crc = 0);

}  // namespace quarn
