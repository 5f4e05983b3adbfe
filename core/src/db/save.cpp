#include <bit>
#include <cerrno>
#include <functional>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <span>

#include "db/db_impl.h"
#include "util/file.h"
#include "util/pool.h"
#include "quantize/quantizer.h"
#include "storage/documents_format.h"
#include "storage/manifest.h"
#include "storage/manifest_format.h"
#include "storage/snapshot_format.h"

namespace quarn {

static_assert(std::endian::native == std::endian::little, "snapshot files hold little-endian floats");

namespace {

// One temporary of a save: its path, the name it will have, and what writes its contents.
struct TempFile {
  const std::string& path;
  const char* name;
  std::function<Status(BufferedWriter&)> fill;
};

// Creates or truncates every file and fills them side by side, one pool item per file: most of a
// save is the kernel copying bytes into fresh page-cache pages, which overlaps across files. Each
// file's block checksums are taken from those pages once it is written. Then syncs and closes
// them one at a time, in order, so every file is on the disk before any rename can make it
// current. The first failure in file order is returned.
Result<std::vector<ManifestFile>> write_files(std::span<const TempFile> files) {
  std::vector<std::optional<BufferedWriter>> writers(files.size());
  std::vector<Status> filled(files.size());
  std::vector<ManifestFile> sums(files.size());
  parallel_for(files.size(), [&](std::size_t i) {
    auto file = FileHandle::create_truncate(files[i].path);
    if (!file.ok()) {
      filled[i] = std::move(file).error();
      return;
    }
    BufferedWriter& out = writers[i].emplace(std::move(*file));
    filled[i] = files[i].fill(out);
    if (filled[i].ok()) filled[i] = out.flush();
    if (!filled[i].ok()) return;
    auto sum = checksum_file(files[i].path, files[i].name, manifest_format::kBlockSize);
    if (sum.ok()) sums[i] = std::move(*sum);
    else filled[i] = std::move(sum).error();
  });
  for (const Status& s : filled) QUARN_TRY(s);
  for (auto& out : writers) {
    QUARN_TRY(out->sync());
    QUARN_TRY(out->close());
  }
  return sums;
}

// The generation after the one the directory's manifest names (1 without a readable one).
std::uint64_t next_generation(const std::string& manifest_path) {
  auto current = read_manifest(manifest_path);
  return current.ok() && current->has_value() ? (*current)->generation + 1 : 1;
}

// The save's deletion of the log may not reach the disk before a power cut, and the log then
// comes back beside the new snapshot. It must come back whole: its records set absolute state,
// so all of them replayed over the snapshot change nothing, but a torn prefix of them could set
// a record back to a value that a lost later record had replaced.
Status sync_log_before_save(const std::string& wal_path) {
  auto log = FileHandle::open_read(wal_path);
  if (!log.ok()) {
    const QuarnError& e = log.error();
    if (e.kind() == QuarnError::Kind::Io && e.os_errno() == ENOENT) return Status::success();
    return std::move(log).error();
  }
  return log->sync_data();
}

}  // namespace

Status DbImpl::save() {
  if (auto refused = refuse_write()) return std::move(*refused);
  return save_queue_.run([this] { return save_locked(); });
}

std::unique_lock<std::shared_mutex> DbImpl::lock_id_map_for_write() {
  writer_admission_.arrive();
  std::unique_lock guard(id_map_lock_);
  writer_admission_.entered();
  return guard;
}

// The temporaries are written side by side, the graph as graph.partial, and each is synced; only
// then does graph.partial become graph.tmp and the first temporary replace a snapshot file. So a
// complete graph.tmp always stands beside durable vectors, and an interrupted save can be finished
// at the next open (Storage::finish_interrupted_save) instead of leaving new vectors beside an old
// graph. The directory is synced after the renames and before the log is deleted: once the log is
// gone, the new snapshot is on the disk.
//
// Saves may follow one another without a gap; each first lets in the writers already waiting,
// so that a write waits for at most one save.
Status DbImpl::save_locked() {
  writer_admission_.wait_for_earlier_writers();
  std::shared_lock id_map(id_map_lock_);
  std::lock_guard wal(wal_mutex_);
  std::shared_lock index(index_lock_);
  std::shared_lock metadata(metadata_lock_);

  // The tables cannot change under the locks held, so the records point into them.
  std::vector<MetaRecordView> records;
  records.reserve(id_to_slot_.size());
  id_to_slot_.for_each([&](const std::string& id, Slot slot) {
    const Json* json = slot < metadata_.size() && metadata_[slot].has_value() ? &*metadata_[slot] : nullptr;
    records.push_back({id, slot, json});
  });
  std::vector<DocumentView> documents;
  documents.reserve(documents_.size());
  for (const auto& [slot, document] : documents_.entries()) documents.push_back({slot, slot_to_id_[slot], document});

  if (!storage_.dir.empty()) QUARN_TRY(create_directories(storage_.dir));
  // A temporary left by an earlier failed save of this process may still complete that save;
  // commit it before the temporaries are replaced.
  QUARN_TRY(storage_.finish_interrupted_save());
  for (const std::string* stale :
       {&storage_.graph_temp_path, &storage_.graph_partial_path, &storage_.vectors_temp_path,
        &storage_.quantized_temp_path, &storage_.documents_temp_path, &storage_.manifest_partial_path,
        &storage_.manifest_temp_path}) {
    (void)remove_file(*stale);
  }

  const VectorStore& store = index_->store();
  const std::span<const float> floats(store.data(), store.float_count());
  const std::vector<float>& norms = index_->norms();
  std::vector<TempFile> files;
  files.push_back({storage_.vectors_temp_path, snapshot_format::kVectorsFile, [&](BufferedWriter& out) -> Status {
                     QUARN_TRY(out.write(floats.data(), floats.size_bytes()));
                     return out.write(norms.data(), norms.size() * sizeof(float));
                   }});
  if (quantize_) {
    files.push_back({storage_.quantized_temp_path, snapshot_format::kQuantizedFile, [&](BufferedWriter& out) -> Status {
                       const ScalarQuantizer quantizer = ScalarQuantizer::train(floats, dim_);
                       const std::vector<std::uint8_t> codes = quantizer.quantize_batch(floats, dim_);
                       QUARN_TRY(quantizer.save(out));
                       return out.write(codes.data(), codes.size());
                     }});
  }
  if (!documents.empty()) {
    files.push_back({storage_.documents_temp_path, documents_format::kFileName, [&](BufferedWriter& out) -> Status {
                       return write_documents_file(out, index_->node_count(), documents);
                     }});
  }
  files.push_back({storage_.graph_partial_path, snapshot_format::kGraphFile, [&](BufferedWriter& out) -> Status {
                     QUARN_TRY(index_->save_graph(out));
                     return write_metadata_section(out, records);
                   }});
  auto sums = write_files(files);
  if (!sums.ok()) return std::move(sums).error();
  const Manifest manifest{next_generation(storage_.manifest_path), manifest_format::kBlockSize, std::move(*sums)};
  QUARN_TRY(write_manifest(storage_.manifest_partial_path, manifest));
  QUARN_TRY(sync_log_before_save(wal_.path()));
  // manifest.tmp stands from before the first snapshot file is replaced until after the last:
  // a reader that sees neither it nor graph.tmp, and the same manifest before and after its
  // load, has read one generation.
  QUARN_TRY(rename_file(storage_.manifest_partial_path, storage_.manifest_temp_path));
  QUARN_TRY(rename_file(storage_.graph_partial_path, storage_.graph_temp_path));

  QUARN_TRY(rename_file(storage_.vectors_temp_path, storage_.vectors_path));
  if (quantize_) {
    QUARN_TRY(rename_file(storage_.quantized_temp_path, storage_.quantized_path));
  } else if (path_exists(storage_.quantized_path)) {
    (void)remove_file(storage_.quantized_path);
  }
  // A documents.bin left beside a snapshot without documents would give them back at the next
  // open, after the log that cleared them is gone.
  if (!documents.empty()) {
    QUARN_TRY(rename_file(storage_.documents_temp_path, storage_.documents_path));
  } else if (path_exists(storage_.documents_path)) {
    QUARN_TRY(remove_file(storage_.documents_path));
  }
  QUARN_TRY(rename_file(storage_.graph_temp_path, storage_.graph_path));
  QUARN_TRY(rename_file(storage_.manifest_temp_path, storage_.manifest_path));
  QUARN_TRY(sync_directory(storage_.dir));
  // The keyword index goes beside the snapshot only to spare the next open its rebuild: one that
  // cannot be written, or a crash before it is, leaves a file the open finds stale and rebuilds.
  (void)save_keyword_file(storage_.dir, keyword_.index(), documents_.entries());
  return wal_.reset();
}

}  // namespace quarn
