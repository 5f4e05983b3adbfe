#include "util/crc32.h"

#include "util/crc_tables.h"

namespace quarn {

namespace {

constexpr crc_detail::Tables kCrcTables = crc_detail::make_tables(0xEDB88320u);

}  // namespace

std::uint32_t crc32(std::span<const std::uint8_t> data, std::uint32_t crc) {
  return ~crc_detail::update(kCrcTables, ~crc, data.data(), data.size());
}

}  // namespace quarn
