// CRC-32C against the published check values, the hardware path against the tables, and block
// checksums against checksums of each block on its own.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "util/crc32c.h"

namespace quarn {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes random_bytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng());
  return out;
}

// The iSCSI check values (RFC 3720 B.4) and the usual "123456789" check.
TEST(Crc32c, MatchesThePublishedCheckValues) {
  Bytes ascending(32);
  Bytes descending(32);
  for (std::size_t i = 0; i < 32; ++i) {
    ascending[i] = static_cast<std::uint8_t>(i);
    descending[i] = static_cast<std::uint8_t>(31 - i);
  }
  const struct {
    Bytes data;
    std::uint32_t crc;
  } cases[] = {
      {Bytes(32, 0x00), 0x8A9136AAu},
      {Bytes(32, 0xFF), 0x62A8AB43u},
      {ascending, 0x46DD794Eu},
      {descending, 0x113FDB5Cu},
      {Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '9'}, 0xE3069283u},
      {Bytes(), 0u},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(crc32c(c.data), c.crc);
    EXPECT_EQ(crc32c_portable(c.data), c.crc);
  }
}

// Lengths around the 8-byte step of both paths, and continuation over pieces.
TEST(Crc32c, HardwareAndTablesAgreeAndPiecesContinue) {
  const Bytes data = random_bytes(4099, 7);
  for (std::size_t n : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 63u, 64u, 65u, 4095u, 4099u}) {
    const std::span<const std::uint8_t> part(data.data(), n);
    const std::uint32_t whole = crc32c_portable(part);
    EXPECT_EQ(crc32c(part), whole) << n;
    for (std::size_t cut : {std::size_t{0}, n / 3, n}) {
      EXPECT_EQ(crc32c(part.subspan(cut), crc32c(part.first(cut))), whole) << n << " cut " << cut;
    }
  }
}

// Four-at-a-time blocks, a short last block, and block sizes that are not a multiple of 8.
TEST(Crc32c, BlockChecksumsEqualEachBlockOnItsOwn) {
  const Bytes data = random_bytes(5 * 4096 + 123, 11);
  for (std::size_t block : {std::size_t{4096}, std::size_t{1000}, std::size_t{1}, data.size(), data.size() + 5}) {
    for (std::size_t n : {std::size_t{0}, std::size_t{4096}, 4 * std::size_t{4096}, data.size()}) {
      const std::span<const std::uint8_t> part(data.data(), n);
      std::vector<std::uint32_t> got((n + block - 1) / block);
      crc32c_blocks(part, block, got.data());
      for (std::size_t b = 0; b < got.size(); ++b) {
        const std::size_t start = b * block;
        EXPECT_EQ(got[b], crc32c_portable(part.subspan(start, std::min(block, n - start))))
            << "block " << b << " of " << block << " bytes, " << n << " in all";
      }
    }
  }
}

}  // namespace
}  // namespace quarn
