// Compaction, statistics and the quantized-search switch.
#include <limits>
#include <unordered_map>

#include "db/db_impl.h"

namespace quarn {

Status DbImpl::compact() {
  if (auto refused = refuse_write()) return std::move(*refused);
  // The id-map lock is held exclusively throughout, so no writer can change the old index or
  // tables while the new ones are built and swapped in; searches (which do not take it) keep
  // running during the rebuild under the shared index lock.
  auto id_guard = lock_id_map_for_write();
  std::unique_ptr<HnswIndex> fresh;
  std::unordered_map<Slot, Slot> new_slot;
  {
    std::shared_lock index_guard(index_lock_);
    const HnswIndex& old = *index_;
    if (old.deleted_count() == 0) return Status::success();
    const std::size_t nodes = old.node_count();
    // The live rows are read in place: rows kept on disk are never all in memory at once.
    std::vector<const float*> rows;
    rows.reserve(old.live_count());
    new_slot.reserve(old.live_count());
    for (std::size_t s = 0; s < nodes; ++s) {
      const auto slot = static_cast<Slot>(s);
      if (old.is_deleted(slot)) continue;
      new_slot.emplace(slot, static_cast<Slot>(rows.size()));
      rows.push_back(old.vector(slot).data());
    }
    fresh = std::make_unique<HnswIndex>(old.dim(), old.m(), old.ef_construction(), old.metric());
    if (old.rows_on_disk()) QUARN_TRY(fresh->move_rows_to_disk("", storage_.dir));
    if (!rows.empty()) fresh->batch_insert_gather(rows);
    if (old.has_quantized()) fresh->enable_quantized_search();
  }

  TableGuard guard(*this);
  // The quantized-search switch takes only the index lock, so it may have been flipped
  // between the build and now; the new index follows the old one's current state.
  if (index_->has_quantized() && !fresh->has_quantized()) fresh->enable_quantized_search();
  if (!index_->has_quantized() && fresh->has_quantized()) fresh->disable_quantized_search();

  const std::size_t live = fresh->node_count();
  IdTable ids;
  ids.reserve(live);
  std::vector<std::string> slot_ids(live);
  std::vector<std::optional<Json>> metadata(live);
  id_to_slot_.for_each([&](const std::string& id, Slot old_slot) {
    auto it = new_slot.find(old_slot);
    if (it == new_slot.end()) return;
    const Slot s = it->second;
    ids.insert_or_assign(id, s);
    slot_ids[s] = id;
    if (old_slot < metadata_.size()) metadata[s] = std::move(metadata_[old_slot]);
  });
  MetadataIndex rebuilt;
  rebuilt.rebuild(metadata, fresh->deleted());
  DocumentTable::Map documents;
  for (auto& [old_slot, document] : documents_.take_entries()) {
    auto it = new_slot.find(old_slot);
    if (it != new_slot.end()) documents.emplace_hint(documents.end(), it->second, std::move(document));
  }

  id_to_slot_ = std::move(ids);
  slot_to_id_ = std::move(slot_ids);
  metadata_ = std::move(metadata);
  metadata_index_ = std::move(rebuilt);
  documents_.replace_all(std::move(documents));
  index_ = std::move(fresh);
  return Status::success();
}

Stats DbImpl::stats() const {
  std::shared_lock guard(index_lock_);
  const HnswIndex& index = *index_;
  Stats st;
  st.num_deleted = index.deleted_count();
  st.vectors_in_memory = !index.rows_on_disk();
  st.uses_quantized_search = index.has_quantized();
  const std::size_t nodes = index.node_count();
  if (nodes == 0) return st;

  const std::size_t live = index.live_count();
  st.num_vectors = live;
  st.num_layers = index.max_level() + 1;
  std::size_t sum = 0;
  std::size_t max_degree = 0;
  std::size_t min_degree = std::numeric_limits<std::size_t>::max();
  std::size_t graph_entries = 0;
  for (std::size_t s = 0; s < nodes; ++s) {
    const auto slot = static_cast<Slot>(s);
    for (std::size_t l = 0; l <= index.level(slot); ++l) {
      const std::size_t len = index.links().list(slot, l).size();
      graph_entries += len;
      if (l == 0 && !index.is_deleted(slot)) {
        sum += len;
        max_degree = std::max(max_degree, len);
        min_degree = std::min(min_degree, len);
      }
    }
  }
  st.avg_degree_layer0 = live == 0 ? 0.0 : static_cast<double>(sum) / static_cast<double>(live);
  st.max_degree_layer0 = max_degree;
  st.min_degree_layer0 = live == 0 ? 0 : min_degree;
  st.reachable_layer0 = index.live_reachable_on_layer0();
  st.memory_vectors_bytes = st.vectors_in_memory ? index.store().float_count() * 4 : 0;
  st.memory_graph_bytes = graph_entries * 4;
  if (const auto& q = index.quantized()) st.memory_quantized_bytes = 8 * q->quantizer.dim + q->codes.size();
  st.uses_brute_force = live * index.dim() < kScanLimit;
  return st;
}

void DbImpl::enable_quantized_search() {
  std::unique_lock guard(index_lock_);
  index_->enable_quantized_search();
}

void DbImpl::disable_quantized_search() {
  std::unique_lock guard(index_lock_);
  index_->disable_quantized_search();
}

bool DbImpl::vectors_in_memory() const {
  std::shared_lock guard(index_lock_);
  return !index_->rows_on_disk();
}

bool DbImpl::quantized_search() const {
  std::shared_lock guard(index_lock_);
  return index_->has_quantized();
}

}  // namespace quarn
