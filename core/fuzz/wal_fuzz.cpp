// The log decoder: record payloads, whole log files, and their replay on open.
//
// Input: one mode byte, then
//   mode 0: a type byte and a payload for decode_wal_payload; whatever decodes must encode
//           to a frame that decodes to the same record.
//   mode 1: the bytes of wal.quarn; read_all, then one append: the next read_all returns the
//           earlier records plus the appended one (torn or damaged tails are cut, nothing
//           readable is lost).
//   mode 2: the bytes of wal.quarn replayed by an open that creates a database of dimension
//           1 + (second byte % 8) beside it; the tables agree with each other, and a save
//           followed by an open gives the same records.
#include <cstdint>
#include <cstring>
#include <variant>

#include "db_state.h"
#include "fuzz_util.h"
#include "db/db_impl.h"
#include "util/crc32.h"
#include "wal/wal.h"

using namespace quarn;

namespace {

bool same_entry(const WalEntry& a, const WalEntry& b) {
  if (a.index() != b.index()) return false;
  if (const auto* x = std::get_if<WalInsert>(&a)) {
    const auto& y = std::get<WalInsert>(b);
    return x->id == y.id && quarn_fuzz::same_bits(x->vector, y.vector) &&
           quarn_fuzz::same_metadata(x->metadata, y.metadata);
  }
  if (const auto* x = std::get_if<WalDelete>(&a)) return x->id == std::get<WalDelete>(b).id;
  const auto& x = std::get<WalUpdate>(a);
  const auto& y = std::get<WalUpdate>(b);
  if (x.id != y.id || x.vector.has_value() != y.vector.has_value()) return false;
  if (x.vector && !quarn_fuzz::same_bits(*x.vector, *y.vector)) return false;
  if (x.metadata.has_value() != y.metadata.has_value()) return false;
  return !x.metadata || quarn_fuzz::same_metadata(*x.metadata, *y.metadata);
}

void payload_roundtrip(quarn_fuzz::Splitter& in) {
  const std::uint8_t type = in.byte();
  const auto payload = in.rest();
  std::optional<WalEntry> entry = decode_wal_payload(type, payload);
  if (!entry) return;
  const std::vector<std::uint8_t> frame = encode_wal_entry(*entry);
  FUZZ_CHECK(frame.size() >= wal_format::kFrameOverhead, "a decoded record encodes");
  FUZZ_CHECK(frame[0] == type, "the frame keeps the record type");
  std::uint32_t length = 0;
  std::memcpy(&length, frame.data() + 1, 4);
  FUZZ_CHECK(length == frame.size() - wal_format::kFrameOverhead, "the frame length matches its payload");
  std::span<const std::uint8_t> body(frame.data() + 5, length);
  std::uint32_t stored = 0;
  std::memcpy(&stored, frame.data() + 5 + length, 4);
  FUZZ_CHECK(stored == crc32(body, crc32(std::span<const std::uint8_t>(frame.data(), 1))), "the checksum matches");
  std::optional<WalEntry> again = decode_wal_payload(type, body);
  FUZZ_CHECK(again.has_value(), "an encoded record decodes");
  FUZZ_CHECK(same_entry(*entry, *again), "decode -> encode -> decode keeps the record");
}

void file_then_append(quarn_fuzz::Splitter& in) {
  const std::string& dir = quarn_fuzz::scratch().fresh();
  const std::string path = quarn_fuzz::scratch().file(wal_format::kFileName);
  quarn_fuzz::write_bytes(path, in.rest());

  Wal wal(path);
  auto first = wal.read_all();
  FUZZ_CHECK(first.ok(), "a readable file never fails to read");
  const WalEntry appended = WalUpdate{"appended", std::vector<float>{1.0f, 2.0f}, std::optional<Json>(Json(7u))};
  Status status = wal.append(appended);
  FUZZ_CHECK(status.ok(), "append after read succeeds");

  Wal reader(path);
  auto second = reader.read_all();
  FUZZ_CHECK(second.ok(), "the log reads after an append");
  FUZZ_CHECK(second->size() == first->size() + 1, "an append after a damaged tail stays readable");
  for (std::size_t i = 0; i < first->size(); ++i) {
    FUZZ_CHECK(same_entry((*first)[i], (*second)[i]), "records before the append are unchanged");
  }
  FUZZ_CHECK(same_entry(second->back(), appended), "the appended record reads back");
  (void)dir;
}

void replay(quarn_fuzz::Splitter& in) {
  const std::uint64_t dim = 1 + in.byte() % 8;
  const std::string& dir = quarn_fuzz::scratch().fresh();
  quarn_fuzz::write_bytes(quarn_fuzz::scratch().file(wal_format::kFileName), in.rest());

  OpenOptions options;
  options.dim = dim;
  options.metric = "l2";
  auto db = quarn_fuzz::open_db(dir, options, /*must=*/true);
  quarn_fuzz::check_invariants(*db);
  quarn_fuzz::check_save_roundtrip(std::move(db), dir);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quarn_fuzz::Splitter in(data, size);
  switch (in.byte() % 3) {
    case 0:
      payload_roundtrip(in);
      break;
    case 1:
      file_then_append(in);
      break;
    default:
      replay(in);
      break;
  }
  return 0;
}
