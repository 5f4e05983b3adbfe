#include <array>
#include <cstring>
#include <limits>

#include "quarn/wal.h"

namespace quarn {

namespace {

// Slicing-by-8 tables for the reflected polynomial 0xEDB88320.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr CrcTables make_crc_tables() {
  CrcTables t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    t[0][i] = c;
  }
  for (std::size_t i = 0; i < 256; ++i) {
    for (std::size_t k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  }
  return t;
}

constexpr CrcTables kCrcTables = make_crc_tables();

std::uint32_t load_u32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void put_u8(std::vector<std::uint8_t>& out, std::uint8_t v) { out.push_back(v); }

std::optional<std::uint32_t> read_u32(PayloadCursor& c) {
  if (c.data.size() - c.pos < 4) {
    c.pos = c.data.size();
    return std::nullopt;
  }
  std::uint32_t v = load_u32(c.data.data() + c.pos);
  c.pos += 4;
  return v;
}

std::optional<std::uint8_t> read_flag(PayloadCursor& c) {
  if (c.pos >= c.data.size()) return std::nullopt;
  return c.data[c.pos++];
}

// `size` bytes at the cursor, or nothing (cursor moved to the end) when fewer remain.
std::optional<std::span<const std::uint8_t>> read_bytes(PayloadCursor& c, std::size_t size) {
  if (c.data.size() - c.pos < size) {
    c.pos = c.data.size();
    return std::nullopt;
  }
  auto out = c.data.subspan(c.pos, size);
  c.pos += size;
  return out;
}

void write_payload(std::vector<std::uint8_t>& out, const WalInsert& e) {
  write_string(out, e.id);
  write_vector(out, e.vector);
  write_metadata(out, e.metadata);
}

void write_payload(std::vector<std::uint8_t>& out, const WalDelete& e) { write_string(out, e.id); }

void write_payload(std::vector<std::uint8_t>& out, const WalUpdate& e) {
  write_string(out, e.id);
  put_u8(out, e.vector ? 1 : 0);
  if (e.vector) write_vector(out, *e.vector);
  put_u8(out, e.metadata ? 1 : 0);
  if (e.metadata) write_metadata(out, *e.metadata);
}

std::uint8_t type_of(const WalEntry& entry) {
  switch (entry.index()) {
    case 0:
      return wal_format::kInsert;
    case 1:
      return wal_format::kDelete;
    default:
      return wal_format::kUpdate;
  }
}

}  // namespace

std::uint32_t crc32(std::span<const std::uint8_t> data, std::uint32_t crc) {
  std::uint32_t c = ~crc;
  const std::uint8_t* p = data.data();
  std::size_t n = data.size();
  while (n >= 8) {
    const std::uint32_t lo = load_u32(p) ^ c;
    const std::uint32_t hi = load_u32(p + 4);
    c = kCrcTables[7][lo & 0xFF] ^ kCrcTables[6][(lo >> 8) & 0xFF] ^ kCrcTables[5][(lo >> 16) & 0xFF] ^
        kCrcTables[4][lo >> 24] ^ kCrcTables[3][hi & 0xFF] ^ kCrcTables[2][(hi >> 8) & 0xFF] ^
        kCrcTables[1][(hi >> 16) & 0xFF] ^ kCrcTables[0][hi >> 24];
    p += 8;
    n -= 8;
  }
  while (n-- > 0) c = (c >> 8) ^ kCrcTables[0][(c ^ *p++) & 0xFF];
  return ~c;
}

void write_string(std::vector<std::uint8_t>& out, std::string_view s) {
  put_u32(out, static_cast<std::uint32_t>(s.size()));
  out.insert(out.end(), s.begin(), s.end());
}

void write_vector(std::vector<std::uint8_t>& out, std::span<const float> v) {
  put_u32(out, static_cast<std::uint32_t>(v.size()));
  const std::size_t start = out.size();
  out.resize(start + v.size() * 4);
  std::uint8_t* dst = out.data() + start;
  for (float f : v) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    dst[0] = static_cast<std::uint8_t>(bits);
    dst[1] = static_cast<std::uint8_t>(bits >> 8);
    dst[2] = static_cast<std::uint8_t>(bits >> 16);
    dst[3] = static_cast<std::uint8_t>(bits >> 24);
    dst += 4;
  }
}

void write_metadata(std::vector<std::uint8_t>& out, const std::optional<Json>& metadata) {
  if (!metadata) {
    put_u32(out, 0);
    return;
  }
  const std::string text = json_dump(*metadata);
  put_u32(out, static_cast<std::uint32_t>(text.size()));
  out.insert(out.end(), text.begin(), text.end());
}

std::vector<std::uint8_t> encode_wal_entry(const WalEntry& entry) {
  std::vector<std::uint8_t> frame;
  frame.reserve(128);
  frame.push_back(type_of(entry));
  put_u32(frame, 0);  // payload length, filled in below
  std::visit([&](const auto& e) { write_payload(frame, e); }, entry);
  const std::size_t payload_len = frame.size() - 5;
  if (payload_len > std::numeric_limits<std::uint32_t>::max()) return {};
  const auto len = static_cast<std::uint32_t>(payload_len);
  for (int i = 0; i < 4; ++i) frame[1 + i] = static_cast<std::uint8_t>(len >> (8 * i));
  std::uint32_t crc = crc32(std::span<const std::uint8_t>(frame.data(), 1));
  crc = crc32(std::span<const std::uint8_t>(frame.data() + 5, payload_len), crc);
  put_u32(frame, crc);
  return frame;
}

std::vector<std::uint8_t> encode_wal_batch_header(std::uint32_t count) {
  std::vector<std::uint8_t> frame;
  frame.reserve(wal_format::kFrameOverhead + 4);
  frame.push_back(wal_format::kBatch);
  put_u32(frame, 4);
  put_u32(frame, count);
  std::uint32_t crc = crc32(std::span<const std::uint8_t>(frame.data(), 1));
  crc = crc32(std::span<const std::uint8_t>(frame.data() + 5, 4), crc);
  put_u32(frame, crc);
  return frame;
}

std::optional<WalEntry> decode_wal_payload(std::uint8_t type, std::span<const std::uint8_t> payload) {
  PayloadCursor c{payload, 0};
  switch (type) {
    case wal_format::kInsert: {
      auto id = read_string(c);
      if (!id) return std::nullopt;
      auto vector = read_vector(c);
      if (!vector) return std::nullopt;
      auto metadata = read_metadata(c);
      if (!metadata) return std::nullopt;
      return WalInsert{std::move(*id), std::move(*vector), std::move(*metadata)};
    }
    case wal_format::kDelete: {
      auto id = read_string(c);
      if (!id) return std::nullopt;
      return WalDelete{std::move(*id)};
    }
    case wal_format::kUpdate: {
      WalUpdate u;
      auto id = read_string(c);
      if (!id) return std::nullopt;
      u.id = std::move(*id);
      auto vector_flag = read_flag(c);
      if (!vector_flag) return std::nullopt;
      if (*vector_flag == 1) {
        auto vector = read_vector(c);
        if (!vector) return std::nullopt;
        u.vector = std::move(*vector);
      }
      auto metadata_flag = read_flag(c);
      if (!metadata_flag) return std::nullopt;
      if (*metadata_flag == 1) {
        auto metadata = read_metadata(c);
        if (!metadata) return std::nullopt;
        u.metadata = std::move(*metadata);
      }
      return u;
    }
    default:
      return std::nullopt;
  }
}

std::optional<std::string> read_string(PayloadCursor& cursor) {
  auto len = read_u32(cursor);
  if (!len) return std::nullopt;
  auto bytes = read_bytes(cursor, *len);
  if (!bytes) return std::nullopt;
  if (!is_valid_utf8(*bytes)) {
    cursor.pos = cursor.data.size();
    return std::nullopt;
  }
  return std::string(reinterpret_cast<const char*>(bytes->data()), bytes->size());
}

std::optional<std::vector<float>> read_vector(PayloadCursor& cursor) {
  auto count = read_u32(cursor);
  if (!count) return std::nullopt;
  auto bytes = read_bytes(cursor, static_cast<std::size_t>(*count) * 4);
  if (!bytes) return std::nullopt;
  std::vector<float> v(*count);
  for (std::size_t i = 0; i < v.size(); ++i) {
    const std::uint32_t bits = load_u32(bytes->data() + 4 * i);
    std::memcpy(&v[i], &bits, 4);
  }
  return v;
}

std::optional<std::optional<Json>> read_metadata(PayloadCursor& cursor) {
  auto len = read_u32(cursor);
  if (!len) return std::nullopt;
  if (*len == 0) return std::optional<Json>{};
  auto bytes = read_bytes(cursor, *len);
  if (!bytes) return std::nullopt;
  JsonParse parsed = json_parse(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
  if (!parsed.value) {
    cursor.pos = cursor.data.size();
    return std::nullopt;
  }
  return std::optional<Json>(std::move(*parsed.value));
}

bool is_valid_utf8(std::span<const std::uint8_t> bytes, std::string* error) {
  std::size_t i = 0;
  const std::size_t n = bytes.size();
  while (i < n) {
    const std::uint8_t b0 = bytes[i];
    if (b0 < 0x80) {
      ++i;
      continue;
    }
    std::size_t len;
    std::uint8_t lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      len = 3;
      if (b0 == 0xE0) lo = 0xA0;  // overlong
      if (b0 == 0xED) hi = 0x9F;  // surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      len = 4;
      if (b0 == 0xF0) lo = 0x90;  // overlong
      if (b0 == 0xF4) hi = 0x8F;  // beyond U+10FFFF
    } else {
      if (error) *error = "invalid utf-8 sequence at byte " + std::to_string(i);
      return false;
    }
    std::size_t valid = 1;
    if (i + 1 < n && bytes[i + 1] >= lo && bytes[i + 1] <= hi) {
      valid = 2;
      while (valid < len && i + valid < n && bytes[i + valid] >= 0x80 && bytes[i + valid] <= 0xBF) ++valid;
    }
    if (valid < len) {
      if (error) {
        *error = (i + valid >= n ? "incomplete utf-8 sequence at byte " : "invalid utf-8 sequence at byte ") +
                 std::to_string(i);
      }
      return false;
    }
    i += len;
  }
  return true;
}

}  // namespace quarn
