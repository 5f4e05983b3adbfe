#include <string>
#include <vector>

#include "storage/documents_format.h"
#include "storage/storage.h"
#include "util/bytes.h"
#include "util/crc32.h"
#include "util/file.h"
#include "util/utf8.h"

namespace quarn {

namespace fmt = documents_format;

namespace {

// Writes through `out` and keeps the checksum of everything written.
class ChecksummedWriter {
 public:
  explicit ChecksummedWriter(BufferedWriter& out) : out_(out) {}

  Status write(const void* data, std::size_t size) {
    crc_ = crc32(std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(data), size), crc_);
    return out_.write(data, size);
  }
  Status write_u32(std::uint32_t v) {
    std::uint8_t bytes[4];
    store_u32(bytes, v);
    return write(bytes, 4);
  }
  Status finish() { return out_.write_u32(crc_); }

 private:
  BufferedWriter& out_;
  std::uint32_t crc_ = 0;
};

QuarnError bad(const std::string& message) { return QuarnError::corrupt(message); }

}  // namespace

Status write_documents_file(BufferedWriter& out, std::size_t slot_count, std::span<const DocumentView> views) {
  ChecksummedWriter w(out);
  QUARN_TRY(w.write_u32(fmt::kMagic));
  QUARN_TRY(w.write_u32(fmt::kVersion));
  QUARN_TRY(w.write_u32(static_cast<std::uint32_t>(slot_count)));
  QUARN_TRY(w.write_u32(static_cast<std::uint32_t>(views.size())));
  for (const DocumentView& v : views) {
    QUARN_TRY(w.write_u32(v.slot));
    QUARN_TRY(w.write_u32(static_cast<std::uint32_t>(v.id.size())));
    QUARN_TRY(w.write(v.id.data(), v.id.size()));
    QUARN_TRY(w.write_u32(static_cast<std::uint32_t>(v.document.size())));
    QUARN_TRY(w.write(v.document.data(), v.document.size()));
  }
  return w.finish();
}

Result<std::vector<DocumentRecord>> parse_documents_file(std::span<const std::uint8_t> bytes, std::size_t slot_count,
                                                         const std::vector<MetaRecord>& records) {
  if (bytes.size() < fmt::kHeaderSize + 4) return bad("shorter than its header");
  const std::size_t body = bytes.size() - 4;
  if (crc32(bytes.first(body)) != load_u32(bytes.data() + body)) return bad("checksum mismatch");
  ByteReader in(bytes.first(body));
  const std::uint32_t magic = *in.read_u32();
  const std::uint32_t version = *in.read_u32();
  const std::uint32_t slots = *in.read_u32();
  const std::uint32_t count = *in.read_u32();
  if (magic != fmt::kMagic) return bad("bad magic");
  if (version != fmt::kVersion) return bad("unsupported version " + std::to_string(version));
  if (slots != slot_count) {
    return bad("written for " + std::to_string(slots) + " slots, the graph has " + std::to_string(slot_count));
  }
  if (count > in.remaining() / fmt::kMinRecord) return bad("record count " + std::to_string(count) + " too large");

  std::vector<const std::string*> id_at(slot_count, nullptr);
  for (const MetaRecord& r : records) id_at[r.slot] = &r.id;

  std::vector<DocumentRecord> out;
  out.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    const QuarnError cut_short = bad("record " + std::to_string(i) + " is cut short");
    auto slot = in.read_u32();
    if (!slot.ok()) return cut_short;
    auto id_len = in.read_u32();
    if (!id_len.ok()) return cut_short;
    auto id = in.read_bytes(*id_len);
    if (!id.ok()) return cut_short;
    auto doc_len = in.read_u32();
    if (!doc_len.ok()) return cut_short;
    auto doc = in.read_bytes(*doc_len);
    if (!doc.ok()) return cut_short;
    if (*slot >= slot_count || (!out.empty() && *slot <= out.back().slot)) {
      return bad("record " + std::to_string(i) + " names slot " + std::to_string(*slot) + " out of order or range");
    }
    const std::string* live_id = id_at[*slot];
    const std::string_view stored_id(reinterpret_cast<const char*>(id->data()), id->size());
    if (live_id == nullptr || *live_id != stored_id) {
      return bad("slot " + std::to_string(*slot) + " does not hold the record of the document");
    }
    if (!is_valid_utf8(*doc)) return bad("the document of slot " + std::to_string(*slot) + " is not UTF-8");
    out.push_back({*slot, std::string(reinterpret_cast<const char*>(doc->data()), doc->size())});
  }
  if (in.remaining() != 0) return bad(std::to_string(in.remaining()) + " bytes after the last record");
  return out;
}

}  // namespace quarn
