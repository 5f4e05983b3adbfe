#include "wal/wal.h"

#include "util/crc32.h"
#include "util/utf8.h"

namespace quarn {

namespace {

void write_payload(std::vector<std::uint8_t>& out, const WalInsert& e) {
  write_string(out, e.id);
  write_vector(out, e.vector);
  write_metadata(out, e.metadata);
  if (e.document) write_string(out, *e.document);
}

void write_payload(std::vector<std::uint8_t>& out, const WalDelete& e) { write_string(out, e.id); }

void write_payload(std::vector<std::uint8_t>& out, const WalUpdate& e) {
  write_string(out, e.id);
  put_u8(out, e.vector ? 1 : 0);
  if (e.vector) write_vector(out, *e.vector);
  put_u8(out, e.metadata ? 1 : 0);
  if (e.metadata) write_metadata(out, *e.metadata);
  if (e.document) {
    put_u8(out, e.document->has_value() ? 1 : 0);
    if (e.document->has_value()) write_string(out, **e.document);
  }
}

std::uint8_t type_of(const WalEntry& entry) {
  switch (entry.index()) {
    case 0:
      return std::get<WalInsert>(entry).document ? wal_format::kInsertDocument : wal_format::kInsert;
    case 1:
      return wal_format::kDelete;
    default:
      return std::get<WalUpdate>(entry).document ? wal_format::kUpdateDocument : wal_format::kUpdate;
  }
}

}  // namespace

void write_string(std::vector<std::uint8_t>& out, std::string_view s) {
  put_u32(out, static_cast<std::uint32_t>(s.size()));
  out.insert(out.end(), s.begin(), s.end());
}

void write_vector(std::vector<std::uint8_t>& out, std::span<const float> v) {
  put_u32(out, static_cast<std::uint32_t>(v.size()));
  put_f32s(out, v);
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

namespace {

// Starts a frame of `type` in `frame`, dropping what it held; finish_frame completes it.
void start_frame(std::vector<std::uint8_t>& frame, std::uint8_t type) {
  frame.clear();
  frame.push_back(type);
  put_u32(frame, 0);  // payload length, filled in by finish_frame
}

// Fills in the payload length and appends the checksum; false when the payload is too long.
bool finish_frame(std::vector<std::uint8_t>& frame) {
  const std::size_t payload_len = frame.size() - 5;
  if (payload_len > std::numeric_limits<std::uint32_t>::max()) return false;
  const auto len = static_cast<std::uint32_t>(payload_len);
  for (int i = 0; i < 4; ++i) frame[1 + i] = static_cast<std::uint8_t>(len >> (8 * i));
  std::uint32_t crc = crc32(std::span<const std::uint8_t>(frame.data(), 1));
  crc = crc32(std::span<const std::uint8_t>(frame.data() + 5, payload_len), crc);
  put_u32(frame, crc);
  return true;
}

}  // namespace

std::vector<std::uint8_t> encode_wal_entry(const WalEntry& entry) {
  std::vector<std::uint8_t> frame;
  frame.reserve(128);
  start_frame(frame, type_of(entry));
  std::visit([&](const auto& e) { write_payload(frame, e); }, entry);
  if (!finish_frame(frame)) return {};
  return frame;
}

bool encode_wal_insert(std::vector<std::uint8_t>& frame, std::string_view id, std::span<const float> vector,
                       const std::optional<Json>& metadata, const std::string* document) {
  start_frame(frame, document != nullptr ? wal_format::kInsertDocument : wal_format::kInsert);
  write_string(frame, id);
  write_vector(frame, vector);
  write_metadata(frame, metadata);
  if (document != nullptr) write_string(frame, *document);
  return finish_frame(frame);
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
  ByteReader c(payload);
  switch (type) {
    case wal_format::kInsert:
    case wal_format::kInsertDocument: {
      auto id = read_string(c);
      if (!id) return std::nullopt;
      auto vector = read_vector(c);
      if (!vector) return std::nullopt;
      auto metadata = read_metadata(c);
      if (!metadata) return std::nullopt;
      WalInsert insert{std::move(*id), std::move(*vector), std::move(*metadata), std::nullopt};
      if (type == wal_format::kInsertDocument) {
        auto document = read_string(c);
        if (!document) return std::nullopt;
        insert.document = std::move(*document);
      }
      return insert;
    }
    case wal_format::kDelete: {
      auto id = read_string(c);
      if (!id) return std::nullopt;
      return WalDelete{std::move(*id)};
    }
    case wal_format::kUpdate:
    case wal_format::kUpdateDocument: {
      WalUpdate u;
      auto id = read_string(c);
      if (!id) return std::nullopt;
      u.id = std::move(*id);
      auto vector_flag = c.read_u8();
      if (!vector_flag.ok()) return std::nullopt;
      if (*vector_flag == 1) {
        auto vector = read_vector(c);
        if (!vector) return std::nullopt;
        u.vector = std::move(*vector);
      }
      auto metadata_flag = c.read_u8();
      if (!metadata_flag.ok()) return std::nullopt;
      if (*metadata_flag == 1) {
        auto metadata = read_metadata(c);
        if (!metadata) return std::nullopt;
        u.metadata = std::move(*metadata);
      }
      if (type == wal_format::kUpdateDocument) {
        auto document_flag = c.read_u8();
        if (!document_flag.ok() || *document_flag > 1) return std::nullopt;
        if (*document_flag == 0) {
          u.document.emplace();
        } else {
          auto document = read_string(c);
          if (!document) return std::nullopt;
          u.document.emplace(std::move(*document));
        }
      }
      return u;
    }
    default:
      return std::nullopt;
  }
}

namespace {

// A field that cannot be read fails its record: the cursor moves to the end.
std::nullopt_t fail(ByteReader& cursor) {
  cursor.skip_rest();
  return std::nullopt;
}

}  // namespace

std::optional<std::string> read_string(ByteReader& cursor) {
  auto len = cursor.read_u32();
  if (!len.ok()) return fail(cursor);
  auto bytes = cursor.read_bytes(*len);
  if (!bytes.ok() || !is_valid_utf8(*bytes)) return fail(cursor);
  return std::string(reinterpret_cast<const char*>(bytes->data()), bytes->size());
}

std::optional<std::vector<float>> read_vector(ByteReader& cursor) {
  auto count = cursor.read_u32();
  if (!count.ok()) return fail(cursor);
  auto bytes = cursor.read_bytes(static_cast<std::size_t>(*count) * 4);
  if (!bytes.ok()) return fail(cursor);
  std::vector<float> v(*count);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = load_f32(bytes->data() + 4 * i);
  return v;
}

std::optional<std::optional<Json>> read_metadata(ByteReader& cursor) {
  auto len = cursor.read_u32();
  if (!len.ok()) return fail(cursor);
  if (*len == 0) return std::optional<Json>{};
  auto bytes = cursor.read_bytes(*len);
  if (!bytes.ok()) return fail(cursor);
  JsonParse parsed = json_parse(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
  if (!parsed.value) return fail(cursor);
  return std::optional<Json>(std::move(*parsed.value));
}

}  // namespace quarn
