// Single-record writes and reads.
//
// Every writer holds the id-map lock exclusively from its look-up of the id until the index
// and the tables have been changed, with the log append in between. So a duplicate check
// cannot be overtaken by another writer of the same id, compaction cannot renumber a slot a
// writer has looked up, and for any one id the log holds the changes in the order memory saw
// them. The index lock stays held until the tables are written, so a search never meets a slot
// whose table entries are missing or stale.
#include "db/db_impl.h"
#include "db/vector_checks.h"
#include "util/growth.h"

namespace quarn {

Status DbImpl::log_append(const WalEntry& entry) {
  std::lock_guard guard(wal_mutex_);
  return wal_.append(entry);
}

void DbImpl::store_record_held(Slot slot, const std::string& id, std::optional<Json> metadata,
                               std::optional<std::string> document) {
  if (slot_to_id_.size() <= slot) slot_to_id_.resize(std::size_t{slot} + 1);
  slot_to_id_[slot] = id;
  if (metadata_.size() <= slot) metadata_.resize(std::size_t{slot} + 1);
  metadata_index_.index(slot, metadata);
  metadata_[slot] = std::move(metadata);
  if (document) documents_.set(slot, std::move(document));
}

void DbImpl::replace_metadata_locked(Slot slot, std::optional<Json> metadata) {
  if (metadata_.size() <= slot) metadata_.resize(std::size_t{slot} + 1);
  metadata_index_.remove(slot, metadata_[slot]);
  metadata_index_.index(slot, metadata);
  metadata_[slot] = std::move(metadata);
}

void DbImpl::clear_slot_held(Slot slot, const TableGuard&) {
  index_->mark_deleted(slot);
  if (slot < slot_to_id_.size()) slot_to_id_[slot].clear();
  if (slot < metadata_.size()) {
    metadata_index_.remove(slot, metadata_[slot]);
    metadata_[slot].reset();
  }
  documents_.erase(slot);
}

Slot DbImpl::insert_record_locked(const std::string& id, std::vector<float> vector,
                                    std::optional<Json> metadata, std::optional<std::string> document) {
  TableGuard guard(*this);
  // Everything that can fail for want of memory happens before the index raises its live
  // count, so a failed insert leaves the counts and the tables as they were. The tables grow
  // geometrically: reserving exactly one more slot would copy them whole at every insert.
  const std::size_t slots = index_->node_count() + 1;
  reserve_geometric(slot_to_id_, slots);
  reserve_geometric(metadata_, slots);
  id_to_slot_.reserve(id_to_slot_.size() + 1);
  std::string id_copy = id;
  const Slot slot = index_->insert(std::move(vector));
  store_record_held(slot, id, std::move(metadata), std::move(document));
  id_to_slot_.insert_or_assign(std::move(id_copy), slot);
  return slot;
}

void DbImpl::replace_record_locked(Slot slot, const std::vector<float>* vector,
                                     std::optional<std::optional<Json>> metadata, DocumentChange document) {
  std::unique_lock<std::shared_mutex> index_guard;
  if (vector != nullptr) {
    index_guard = std::unique_lock(index_lock_);
    index_->update_vector(slot, *vector);
  }
  if (metadata.has_value() || document.has_value()) {
    std::unique_lock meta_guard(metadata_lock_);
    std::unique_lock meta_index_guard(metadata_index_lock_);
    if (metadata.has_value()) replace_metadata_locked(slot, std::move(*metadata));
    if (document.has_value()) documents_.set(slot, std::move(*document));
  }
}

void DbImpl::delete_record_locked(const std::string& id, Slot slot) {
  TableGuard guard(*this);
  clear_slot_held(slot, guard);
  id_to_slot_.erase(id);
}

Status DbImpl::add_logged(const std::string& id, std::vector<float> vector, std::optional<Json> metadata,
                          std::optional<std::string> document) {
  if (auto refused = refuse_write()) return std::move(*refused);
  if (vector.size() != dim_) return QuarnError::dimension_mismatch(dim_, vector.size());
  if (auto bad = check_finite(vector)) return std::move(*bad);
  if (document) {
    if (auto problem = document_problem(*document)) return bad_document(*problem);
  }
  auto id_guard = lock_id_map_for_write();
  if (id_to_slot_.contains(id)) return QuarnError::duplicate_id(id);
  WalEntry entry = WalInsert{id, std::move(vector), std::move(metadata), std::move(document)};
  QUARN_TRY(log_append(entry));
  auto& insert = std::get<WalInsert>(entry);
  insert_record_locked(id, std::move(insert.vector), std::move(insert.metadata), std::move(insert.document));
  return Status::success();
}

Status DbImpl::upsert_logged(const std::string& id, std::vector<float> vector, std::optional<Json> metadata,
                             std::optional<std::string> document) {
  if (auto refused = refuse_write()) return std::move(*refused);
  if (vector.size() != dim_) return QuarnError::dimension_mismatch(dim_, vector.size());
  if (auto bad = check_finite(vector)) return std::move(*bad);
  if (document) {
    if (auto problem = document_problem(*document)) return bad_document(*problem);
  }
  auto id_guard = lock_id_map_for_write();
  WalEntry entry = WalInsert{id, std::move(vector), std::move(metadata), std::move(document)};
  QUARN_TRY(log_append(entry));
  auto& insert = std::get<WalInsert>(entry);
  if (auto slot = id_to_slot_.find(id)) {
    // The new metadata and document replace the old whole, so an upsert without them clears them.
    replace_record_locked(*slot, &insert.vector, std::optional<std::optional<Json>>(std::move(insert.metadata)),
                          DocumentChange(std::in_place, std::move(insert.document)));
  } else {
    insert_record_locked(id, std::move(insert.vector), std::move(insert.metadata), std::move(insert.document));
  }
  return Status::success();
}

Status DbImpl::update_logged(const std::string& id, std::optional<std::vector<float>> vector,
                             std::optional<Json> metadata, DocumentChange document) {
  if (auto refused = refuse_write()) return std::move(*refused);
  if (document && *document) {
    if (auto problem = document_problem(**document)) return bad_document(*problem);
  }
  auto id_guard = lock_id_map_for_write();
  const auto found = id_to_slot_.find(id);
  if (!found) return QuarnError::not_found(id);
  if (vector.has_value() && vector->size() != dim_) return QuarnError::dimension_mismatch(dim_, vector->size());
  if (vector.has_value()) {
    if (auto bad = check_finite(*vector)) return std::move(*bad);
  }
  const Slot slot = *found;
  // Absent metadata keeps the stored one; update never clears it.
  std::optional<std::optional<Json>> new_metadata;
  if (metadata.has_value()) new_metadata.emplace(std::move(metadata));
  WalEntry entry = WalUpdate{id, std::move(vector), std::move(new_metadata), std::move(document)};
  QUARN_TRY(log_append(entry));
  auto& upd = std::get<WalUpdate>(entry);
  replace_record_locked(slot, upd.vector ? &*upd.vector : nullptr, std::move(upd.metadata), std::move(upd.document));
  return Status::success();
}

Result<bool> DbImpl::remove_logged(const std::string& id) {
  if (auto refused = refuse_write()) return std::move(*refused);
  auto id_guard = lock_id_map_for_write();
  const auto found = id_to_slot_.find(id);
  if (!found) return false;
  const Slot slot = *found;
  // The id is unmapped only once the record is in the log: a failed append leaves the
  // record fully live.
  QUARN_TRY(log_append(WalDelete{id}));
  delete_record_locked(id, slot);
  return true;
}

Result<std::pair<std::vector<float>, std::optional<Json>>> DbImpl::get(const std::string& id) const {
  // The id-map lock stays shared until both copies are made, so no writer or compaction can
  // change or renumber the slot in between.
  std::shared_lock id_guard(id_map_lock_);
  const auto found = id_to_slot_.find(id);
  if (!found) return QuarnError::not_found(id);
  const Slot slot = *found;
  std::vector<float> vector;
  {
    std::shared_lock index_guard(index_lock_);
    if (slot >= index_->node_count()) return QuarnError::corrupt("vector slot missing");
    auto row = index_->vector(slot);
    vector.assign(row.begin(), row.end());
  }
  std::shared_lock meta_guard(metadata_lock_);
  return std::pair{std::move(vector), metadata_at(slot)};
}

Result<Record> DbImpl::get_record(const std::string& id) const {
  std::shared_lock id_guard(id_map_lock_);
  const auto found = id_to_slot_.find(id);
  if (!found) return QuarnError::not_found(id);
  const Slot slot = *found;
  Record record;
  {
    std::shared_lock index_guard(index_lock_);
    if (slot >= index_->node_count()) return QuarnError::corrupt("vector slot missing");
    auto row = index_->vector(slot);
    record.vector.assign(row.begin(), row.end());
  }
  std::shared_lock meta_guard(metadata_lock_);
  record.metadata = metadata_at(slot);
  if (const std::string* document = documents_.find(slot)) record.document = *document;
  return record;
}

void DbImpl::set_document_listener(DocumentListener* listener) {
  std::unique_lock meta_guard(metadata_lock_);
  keyword_.set_next(listener);
  if (listener != nullptr) listener->documents_replaced(documents_);
}

}  // namespace quarn
