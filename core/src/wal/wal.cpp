#include "wal/wal.h"

#include "util/crc32.h"
#include "util/file_mapping.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace quarn {

namespace {

// Sequential reads through an 8192-byte buffer. read_exact yields false when the file ends
// before `size` bytes arrived, and an error only for a failure of the operating system.
class LogReader {
 public:
  explicit LogReader(FileHandle& file) : file_(file) {}

  Result<bool> read_exact(std::uint8_t* dst, std::size_t size) {
    while (size > 0) {
      if (pos_ == end_) {
        if (size >= buffer_.size()) {
          auto n = read_some(dst, size);
          if (!n.ok()) return std::move(n).error();
          if (*n == 0) return false;
          dst += *n;
          size -= *n;
          continue;
        }
        auto n = read_some(buffer_.data(), buffer_.size());
        if (!n.ok()) return std::move(n).error();
        if (*n == 0) return false;
        pos_ = 0;
        end_ = *n;
      }
      const std::size_t take = std::min(size, end_ - pos_);
      std::copy_n(buffer_.data() + pos_, take, dst);
      pos_ += take;
      dst += take;
      size -= take;
    }
    return true;
  }

 private:
  Result<std::size_t> read_some(std::uint8_t* dst, std::size_t size) { return file_.read_some(dst, size); }

  FileHandle& file_;
  std::array<std::uint8_t, 8192> buffer_{};
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
};

bool is_missing(const QuarnError& error) {
  return error.kind() == QuarnError::Kind::Io && error.os_errno() == ENOENT;
}

// Payloads are read in pieces of this size, so a damaged length field costs at most this much
// memory beyond the bytes the file really holds.
constexpr std::size_t kPayloadChunk = std::size_t{1} << 20;

// Reads a payload of `length` bytes into `payload`; false at a torn tail.
Result<bool> read_payload(LogReader& reader, std::uint32_t length, std::uint64_t size_hint,
                          std::vector<std::uint8_t>& payload) {
  payload.clear();
  payload.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(length, size_hint)));
  while (payload.size() < length) {
    const std::size_t old = payload.size();
    const std::size_t chunk = std::min<std::size_t>(length - old, kPayloadChunk);
    payload.resize(old + chunk);
    auto complete = reader.read_exact(payload.data() + old, chunk);
    if (!complete.ok() || !*complete) return complete;
  }
  return true;
}

bool frame_at(std::span<const std::uint8_t> log, std::uint64_t q, std::uint64_t max_length, std::uint64_t& end) {
  const std::uint64_t size = log.size();
  if (size - q < wal_format::kFrameOverhead) return false;
  const std::uint8_t type = log[q];
  if (type < wal_format::kInsert || type > wal_format::kUpdateDocument) return false;
  const std::uint64_t length = load_u32(log.data() + q + 1);
  if (length > max_length || length > size - q - wal_format::kFrameOverhead) return false;
  const std::uint32_t crc = crc32(log.subspan(q + 5, length), crc32(log.subspan(q, 1)));
  if (crc != load_u32(log.data() + q + 5 + length)) return false;
  end = q + wal_format::kFrameOverhead + length;
  return true;
}

// The readable records (batch openers not counted) in log[from, end): frames that pass their
// checksum, found by following lengths from `natural` (where the damaged frame's length field
// says the next frame starts) and by trying every later byte. A length above `max_length` is
// not tried, which bounds the work on damaged bytes.
std::uint64_t readable_records_after(std::span<const std::uint8_t> log, std::uint64_t from, std::uint64_t natural,
                                     std::uint64_t max_length) {
  std::uint64_t count = 0;
  std::uint64_t q = natural > from && natural < log.size() ? natural : from;
  std::uint64_t end = 0;
  while (q < log.size()) {
    if (frame_at(log, q, max_length, end)) {
      if (log[q] != wal_format::kBatch) ++count;
      q = end;
    } else {
      q = q == natural ? from : q + 1;
      natural = UINT64_MAX;
    }
  }
  return count;
}

}  // namespace

Status Wal::open_writer() {
  if (writer_) return Status::success();
  if (readable_end_) {
    Status cut = truncate_file(path_, *readable_end_);
    if (!cut.ok() && !is_missing(cut.error())) return cut;
    readable_end_.reset();
  }
  auto file = FileHandle::open_append(path_);
  if (!file.ok()) return std::move(file).error();
  auto size = file->size();
  if (!size.ok()) return std::move(size).error();
  size_ = *size;
  if (size_ == 0) directory_sync_due_ = true;
  writer_.emplace(std::move(*file));
  return Status::success();
}

Status Wal::write_frame(const std::vector<std::uint8_t>& frame) {
  QUARN_TRY(open_writer());
  Status status = writer_->write(frame.data(), frame.size());
  if (status.ok()) status = writer_->flush();
  if (!status.ok()) {
    // Part of the frame may have reached the file; cutting it off keeps the records that
    // later appends add readable. The file is reopened by the next append.
    writer_.reset();
    if (!truncate_file(path_, size_).ok()) readable_end_ = size_;
    return status;
  }
  size_ += frame.size();
  ++frames_appended_;
  return Status::success();
}

Result<FileHandle> Wal::handle_for_sync(bool& directory_due) {
  directory_due = false;
  auto file = FileHandle::open_read(path_);
  if (!file.ok()) {
    if (!is_missing(file.error())) return file;
    directory_sync_due_ = false;
    return FileHandle();
  }
  directory_due = directory_sync_due_;
  directory_sync_due_ = false;
  return file;
}

Status Wal::append(const WalEntry& entry) {
  const std::vector<std::uint8_t> frame = encode_wal_entry(entry);
  if (frame.empty()) return QuarnError::invalid_argument("a record must encode to less than 4 GiB");
  return write_frame(frame);
}

Status Wal::append_insert(std::string_view id, std::span<const float> vector, const std::optional<Json>& metadata,
                          const std::string* document) {
  if (!encode_wal_insert(scratch_, id, vector, metadata, document)) return QuarnError::invalid_argument("a record must encode to less than 4 GiB");
  return write_frame(scratch_);
}

Result<std::uint64_t> Wal::begin_batch(std::uint32_t count) {
  QUARN_TRY(open_writer());
  const std::uint64_t mark = size_;
  QUARN_TRY(write_frame(encode_wal_batch_header(count)));
  return mark;
}

Status Wal::rollback(std::uint64_t mark) {
  writer_.reset();
  Status cut = truncate_file(path_, mark);
  if (!cut.ok()) {
    readable_end_ = mark;
    return cut;
  }
  readable_end_.reset();
  return Status::success();
}

Status Wal::reset() {
  readable_end_.reset();
  // The writer's descriptor outlives the unlink and is closed in the background: its last close
  // frees the log's cached pages (about 10 ms for 50 MB), which the caller need not wait for.
  // The file is deleted next, so a failure to close it changes nothing.
  FileHandle last_reference;
  if (writer_) {
    last_reference = writer_->detach();
    writer_.reset();
  }
  Status removed = remove_file(path_);
  close_in_background(std::move(last_reference));
  if (!removed.ok() && !is_missing(removed.error())) return removed;
  return Status::success();
}

Result<std::vector<WalEntry>> Wal::read_all(bool recover, std::optional<WalDrop>* dropped) {
  std::vector<WalEntry> entries;
  readable_end_.reset();
  auto present = file_exists(path_);
  if (!present.ok()) return std::move(present).error();
  if (!*present) return entries;
  auto file = FileHandle::open_read(path_);
  if (!file.ok()) return std::move(file).error();
  auto size = file->size();
  if (!size.ok()) return std::move(size).error();
  const std::uint64_t file_size = *size;
  if (file_size == 0) return entries;

  LogReader reader(*file);
  std::vector<std::uint8_t> payload;
  std::uint64_t consumed = 0;
  std::uint64_t readable_end = 0;
  // An open batch: the records still missing and the decoded ones so far.
  std::uint32_t batch_missing = 0;
  std::vector<WalEntry> batch;
  // The frame the read stopped at (cut short or failing its checksum), and where its length
  // field says the next one starts.
  std::optional<std::uint64_t> bad_frame;
  std::uint64_t bad_frame_next = 0;
  std::uint64_t longest = 0;
  for (;;) {
    std::uint8_t header[5];
    auto complete = reader.read_exact(header, sizeof header);
    if (!complete.ok()) return std::move(complete).error();
    if (!*complete) break;
    const std::uint8_t type = header[0];
    const std::uint32_t length = load_u32(header + 1);
    const std::uint64_t frame_start = consumed;
    consumed += sizeof header;
    bad_frame = frame_start;
    bad_frame_next = frame_start + wal_format::kFrameOverhead + length;

    const std::uint64_t left = file_size > consumed ? file_size - consumed : 0;
    complete = read_payload(reader, length, left, payload);
    if (!complete.ok()) return std::move(complete).error();
    if (!*complete) break;

    std::uint8_t stored[4];
    complete = reader.read_exact(stored, sizeof stored);
    if (!complete.ok()) return std::move(complete).error();
    if (!*complete) break;
    consumed += std::uint64_t{length} + sizeof stored;

    const std::uint32_t crc = crc32(payload, crc32(std::span<const std::uint8_t>(&type, 1)));
    if (crc != load_u32(stored)) break;
    bad_frame.reset();
    longest = std::max<std::uint64_t>(longest, length);

    if (batch_missing > 0) {
      // Inside a batch every frame counts as one of its records, whatever its type.
      if (auto entry = decode_wal_payload(type, payload)) batch.push_back(std::move(*entry));
      if (--batch_missing == 0) {
        for (WalEntry& e : batch) entries.push_back(std::move(e));
        batch.clear();
        readable_end = consumed;
      }
      continue;
    }
    if (type == wal_format::kBatch && length == 4) {
      batch_missing = load_u32(payload.data());
      if (batch_missing == 0) readable_end = consumed;
      continue;
    }
    readable_end = consumed;
    if (auto entry = decode_wal_payload(type, payload)) entries.push_back(std::move(*entry));
  }
  if (readable_end < file_size) {
    WalDrop drop{false, readable_end, 0, file_size - readable_end, batch.size()};
    if (bad_frame) {
      auto mapped = FileMapping::map_file(path_);
      if (!mapped.ok()) return std::move(mapped).error();
      const std::span<const std::uint8_t> log(mapped->data(), std::min<std::uint64_t>(mapped->file_size(), file_size));
      // Records are rarely far longer than the longest one read so far.
      const std::uint64_t max_length = std::max<std::uint64_t>(2 * longest, std::uint64_t{1} << 16);
      const std::uint64_t after = readable_records_after(log, *bad_frame + 1, bad_frame_next, max_length);
      if (after > 0) {
        if (!recover) {
          return QuarnError::corrupt("the record at byte offset " + std::to_string(*bad_frame) +
                                         " fails its checksum, and " + std::to_string(after) +
                                         " readable records follow it; open with recover=True to keep the " +
                                         std::to_string(entries.size()) + " records before it",
                                     path_);
        }
        drop.damage = true;
        drop.damage_offset = *bad_frame;
        drop.records += after;
      }
    }
    if (dropped != nullptr) *dropped = drop;
    readable_end_ = readable_end;
  }
  return entries;
}

}  // namespace quarn
