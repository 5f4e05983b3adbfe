#include "util/crc32c.h"

#include <cstring>

#include "util/crc_tables.h"

#if defined(__x86_64__)
#include <nmmintrin.h>
#endif

namespace quarn {

namespace {

constexpr crc_detail::Tables kTables = crc_detail::make_tables(0x82F63B78u);

std::uint64_t load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

std::uint32_t table_update(std::uint32_t c, const std::uint8_t* p, std::size_t n) {
  return crc_detail::update(kTables, c, p, n);
}

#if defined(__x86_64__)
__attribute__((target("sse4.2"))) std::uint32_t hw_update(std::uint32_t c, const std::uint8_t* p, std::size_t n) {
  std::uint64_t c64 = c;
  while (n >= 8) {
    c64 = _mm_crc32_u64(c64, load64(p));
    p += 8;
    n -= 8;
  }
  auto c32 = static_cast<std::uint32_t>(c64);
  while (n-- > 0) c32 = _mm_crc32_u8(c32, *p++);
  return c32;
}

// Four blocks of `len` bytes (a multiple of 8) at once: the instruction has a latency of three
// cycles and a throughput of one, so independent streams keep it busy.
__attribute__((target("sse4.2"))) void hw_four(const std::uint8_t* p, std::size_t len, std::uint32_t* out) {
  std::uint64_t a = 0xFFFFFFFFu, b = 0xFFFFFFFFu, c = 0xFFFFFFFFu, d = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < len; i += 8) {
    a = _mm_crc32_u64(a, load64(p + i));
    b = _mm_crc32_u64(b, load64(p + len + i));
    c = _mm_crc32_u64(c, load64(p + 2 * len + i));
    d = _mm_crc32_u64(d, load64(p + 3 * len + i));
  }
  out[0] = ~static_cast<std::uint32_t>(a);
  out[1] = ~static_cast<std::uint32_t>(b);
  out[2] = ~static_cast<std::uint32_t>(c);
  out[3] = ~static_cast<std::uint32_t>(d);
}

const bool kHardware = __builtin_cpu_supports("sse4.2");
#else
constexpr bool kHardware = false;
#endif

std::uint32_t update(std::uint32_t c, const std::uint8_t* p, std::size_t n) {
#if defined(__x86_64__)
  if (kHardware) return hw_update(c, p, n);
#endif
  return table_update(c, p, n);
}

}  // namespace

bool crc32c_hardware() { return kHardware; }

std::uint32_t crc32c_portable(std::span<const std::uint8_t> data, std::uint32_t crc) {
  return ~table_update(~crc, data.data(), data.size());
}

std::uint32_t crc32c(std::span<const std::uint8_t> data, std::uint32_t crc) {
  return ~update(~crc, data.data(), data.size());
}

void crc32c_blocks(std::span<const std::uint8_t> data, std::size_t block, std::uint32_t* out) {
  const std::uint8_t* p = data.data();
  std::size_t n = data.size();
#if defined(__x86_64__)
  if (kHardware && block % 8 == 0) {
    while (n >= 4 * block) {
      hw_four(p, block, out);
      p += 4 * block;
      n -= 4 * block;
      out += 4;
    }
  }
#endif
  while (n > 0) {
    const std::size_t take = n < block ? n : block;
    *out++ = crc32c(std::span<const std::uint8_t>(p, take));
    p += take;
    n -= take;
  }
}

}  // namespace quarn
