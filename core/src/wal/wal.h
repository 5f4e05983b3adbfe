#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "util/bytes.h"
#include "util/file.h"
#include "quarn/json.h"
#include "quarn/result.h"

namespace quarn {

namespace wal_format {
inline constexpr char kFileName[] = "wal.quarn";
inline constexpr std::uint8_t kInsert = 1;
inline constexpr std::uint8_t kDelete = 2;
inline constexpr std::uint8_t kUpdate = 3;
// Opens a batch: its u32 payload counts the records that follow and belong to it. A reader
// applies them only when all of them are readable, so a batch cut short by a crash leaves
// nothing; readers that predate it skip the frame and apply the records one by one.
inline constexpr std::uint8_t kBatch = 4;
// Insert and Update of a record with a document: the payload of kInsert or kUpdate followed by
// the document. kInsertDocument appends it as a string; kUpdateDocument appends a u8 (0 clears
// the document, 1 sets it) and, after a 1, the string. Written only for records that carry a
// document change, so a database without documents writes the frames above alone; readers that
// predate them skip these frames.
inline constexpr std::uint8_t kInsertDocument = 5;
inline constexpr std::uint8_t kUpdateDocument = 6;
// type byte + payload length + checksum
inline constexpr std::size_t kFrameOverhead = 9;
}  // namespace wal_format

struct WalInsert {
  std::string id;
  std::vector<float> vector;
  std::optional<Json> metadata;
  std::optional<std::string> document = std::nullopt;
};
struct WalDelete {
  std::string id;
};
struct WalUpdate {
  std::string id;
  std::optional<std::vector<float>> vector;
  // absent: keep; present and empty: clear; present with a value: replace
  std::optional<std::optional<Json>> metadata;
  // absent: keep; present and empty: clear; present with a value: replace
  std::optional<std::optional<std::string>> document = std::nullopt;
};
using WalEntry = std::variant<WalInsert, WalDelete, WalUpdate>;


// The whole frame of one record: type, payload length, payload, checksum. Empty when the
// payload would not fit its 32-bit length field.
std::vector<std::uint8_t> encode_wal_entry(const WalEntry& entry);
// The frame of an Insert record, written into `frame` (whose old contents are dropped) straight
// from its fields: the bytes encode_wal_entry gives for the same WalInsert. False when the
// payload would not fit its 32-bit length field.
bool encode_wal_insert(std::vector<std::uint8_t>& frame, std::string_view id, std::span<const float> vector,
                       const std::optional<Json>& metadata, const std::string* document = nullptr);
// The frame that opens a batch of `count` records.
std::vector<std::uint8_t> encode_wal_batch_header(std::uint32_t count);
// Decodes a payload of the given type; nothing when the type is unknown or a field fails.
std::optional<WalEntry> decode_wal_payload(std::uint8_t type, std::span<const std::uint8_t> payload);

// Field encodings inside a payload.
void write_string(std::vector<std::uint8_t>& out, std::string_view s);
void write_vector(std::vector<std::uint8_t>& out, std::span<const float> v);
void write_metadata(std::vector<std::uint8_t>& out, const std::optional<Json>& metadata);

// Payload fields read through a cursor; each fails on short data and then moves the cursor to
// the end.
std::optional<std::string> read_string(ByteReader& cursor);  // also fails on bad UTF-8
std::optional<std::vector<float>> read_vector(ByteReader& cursor);
// Outer optional: success; inner: absent for length 0. Also fails on unparsable JSON.
std::optional<std::optional<Json>> read_metadata(ByteReader& cursor);

// Bytes at the end of the log that a read left out: a torn tail (the last record or batch cut
// short, or unreadable with nothing readable after it), or, read with recover, everything from a
// damaged record on, when readable records follow it.
struct WalDrop {
  bool damage = false;
  std::uint64_t offset = 0;          // where the records kept end
  std::uint64_t damage_offset = 0;   // the damaged frame (damage only)
  std::uint64_t bytes = 0;           // bytes left out
  std::uint64_t records = 0;         // readable records among them (an incomplete batch's included)
};

// The log file writer. The caller holds the database's log mutex for every call.
class Wal {
 public:
  explicit Wal(std::string path) : path_(std::move(path)) {}

  // Opens the file lazily (append, create 0666), writes one frame and flushes it. Never syncs.
  // A failed write closes the file and cuts it back to its last complete record.
  Status append(const WalEntry& entry);
  // append() of an Insert record given by its fields, encoded without copying the vector.
  Status append_insert(std::string_view id, std::span<const float> vector, const std::optional<Json>& metadata,
                       const std::string* document = nullptr);
  // Writes the frame that opens a batch of `count` records and returns where the batch starts,
  // for rollback(). The caller appends exactly `count` records next.
  Result<std::uint64_t> begin_batch(std::uint32_t count);
  // Cuts the file back to `mark`, dropping every record appended since, and closes the writer.
  // When the cut itself fails it is retried before the next append; until then a reader still
  // drops an incomplete batch.
  Status rollback(std::uint64_t mark);
  // Drops the writer (flushing and closing it) and deletes the file if it exists.
  Status reset();
  // Reads every record: stops at a torn tail or a bad checksum, skips undecodable records, and
  // drops the records of a batch that is not complete. A frame that fails its checksum with a
  // readable frame somewhere after it is damage, not a torn tail: the read fails with Corrupt
  // naming the file and the frame's offset, unless `recover`, which keeps the records before it.
  // What was left out goes to `dropped`. A missing file has no records. The file is left as it
  // is, but the bytes from the first torn or damaged record (or incomplete batch) on are cut off
  // when the next append opens the file, so that records appended after them stay readable.
  Result<std::vector<WalEntry>> read_all(bool recover = false, std::optional<WalDrop>* dropped = nullptr);

  const std::string& path() const { return path_; }
  bool writer_open() const { return writer_.has_value(); }
  // Frames appended through this writer so far, over the life of the object.
  std::uint64_t frames_appended() const { return frames_appended_; }
  // A descriptor of the log file for syncing what has been appended, without this writer's
  // state: invalid when there is no file (a save removed it, so its records are in the synced
  // snapshot). `directory_due` is set when the file may have been created since the last call,
  // so that its directory entry must be synced too.
  Result<FileHandle> handle_for_sync(bool& directory_due);
  // After a failed directory sync: the next handle_for_sync asks for it again.
  void directory_sync_failed() { directory_sync_due_ = true; }

 private:
  Status open_writer();
  Status write_frame(const std::vector<std::uint8_t>& frame);

  std::string path_;
  std::optional<BufferedWriter> writer_;
  // Frame buffer reused by append_insert across the records of a batch.
  std::vector<std::uint8_t> scratch_;
  // Length of the file up to the end of the last record appended through writer_.
  std::uint64_t size_ = 0;
  // Where the readable records end, when read_all found unreadable bytes after them, or where a
  // rolled-back batch began when cutting it off failed.
  std::optional<std::uint64_t> readable_end_;
  std::uint64_t frames_appended_ = 0;
  bool directory_sync_due_ = false;
};

}  // namespace quarn
