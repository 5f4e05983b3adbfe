#include <bit>
#include <mutex>
#include <shared_mutex>

#include "db/db_impl.h"
#include "util/file.h"
#include "quantize/quantizer.h"

namespace quarn {

static_assert(std::endian::native == std::endian::little, "snapshot files hold little-endian floats");

namespace {

// Creates or truncates `path`, lets `fill` write through a buffered writer, then flushes, syncs
// and closes the file: its contents are on the disk before any rename can make it current.
template <class Fill>
Status write_file(const std::string& path, Fill&& fill) {
  auto file = FileHandle::create_truncate(path);
  if (!file.ok()) return std::move(file).error();
  BufferedWriter out(std::move(*file));
  QUARN_TRY(fill(out));
  QUARN_TRY(out.sync());
  return out.close();
}

}  // namespace

// Every temporary is written and synced completely before the first rename, graph.tmp last, so
// that an interrupted save can be finished at the next open (Storage::finish_interrupted_save)
// instead of leaving new vectors beside an old graph. The directory is synced after the renames
// and before the log is deleted: once the log is gone, the new snapshot is on the disk.
Status DbImpl::save() {
  if (auto refused = refuse_write()) return std::move(*refused);
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

  if (!storage_.dir.empty()) QUARN_TRY(create_directories(storage_.dir));
  // A temporary left by an earlier failed save of this process may still complete that save;
  // commit it before the temporaries are replaced.
  QUARN_TRY(storage_.finish_interrupted_save());
  for (const std::string* stale :
       {&storage_.graph_temp_path, &storage_.vectors_temp_path, &storage_.quantized_temp_path}) {
    (void)remove_file(*stale);
  }

  const VectorStore& store = index_->store();
  const std::span<const float> floats(store.data(), store.float_count());
  const std::vector<float>& norms = index_->norms();
  auto write_vectors = [&](BufferedWriter& out) -> Status {
    QUARN_TRY(out.write(floats.data(), floats.size_bytes()));
    return out.write(norms.data(), norms.size() * sizeof(float));
  };
  QUARN_TRY(write_file(storage_.vectors_temp_path, write_vectors));
  if (quantize_) {
    const ScalarQuantizer quantizer = ScalarQuantizer::train(floats, dim_);
    const std::vector<std::uint8_t> codes = quantizer.quantize_batch(floats, dim_);
    auto write_quantized = [&](BufferedWriter& out) -> Status {
      QUARN_TRY(quantizer.save(out));
      return out.write(codes.data(), codes.size());
    };
    QUARN_TRY(write_file(storage_.quantized_temp_path, write_quantized));
  }
  auto write_graph = [&](BufferedWriter& out) -> Status {
    QUARN_TRY(index_->save_graph(out));
    return write_metadata_section(out, records);
  };
  QUARN_TRY(write_file(storage_.graph_temp_path, write_graph));

  QUARN_TRY(rename_file(storage_.vectors_temp_path, storage_.vectors_path));
  if (quantize_) {
    QUARN_TRY(rename_file(storage_.quantized_temp_path, storage_.quantized_path));
  } else if (path_exists(storage_.quantized_path)) {
    (void)remove_file(storage_.quantized_path);
  }
  QUARN_TRY(rename_file(storage_.graph_temp_path, storage_.graph_path));
  QUARN_TRY(sync_directory(storage_.dir));
  return wal_.reset();
}

}  // namespace quarn
