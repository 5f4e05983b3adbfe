// Batch writes: one dimension pass, one duplicate pass, one log pass and one batch_insert per
// batch. Like the single writes, they hold the id-map lock exclusively from the look-ups until
// the tables are written.
#include <algorithm>
#include <limits>
#include <unordered_map>

#include "db/db_impl.h"
#include "vector_checks.h"

namespace quarn {

namespace {

std::optional<QuarnError> check_vectors(const std::vector<Item>& items, std::size_t dim) {
  for (const Item& item : items) {
    if (item.vector.size() != dim) return QuarnError::dimension_mismatch(dim, item.vector.size());
  }
  for (const Item& item : items) {
    if (auto bad = check_finite(item.vector)) return bad;
  }
  return std::nullopt;
}

// Moves an item into an Insert record for the log and back again, to avoid copying vectors.
Status log_item(Wal& wal, Item& item) {
  WalEntry entry = WalInsert{std::move(item.id), std::move(item.vector), std::move(item.metadata)};
  Status status = wal.append(entry);
  auto& insert = std::get<WalInsert>(entry);
  item.id = std::move(insert.id);
  item.vector = std::move(insert.vector);
  item.metadata = std::move(insert.metadata);
  return status;
}

// Logs a whole batch inside one batch frame. On failure the log is cut back to where the batch
// began, so that no replay applies any of it; memory has not been touched yet.
Status log_batch(Wal& wal, std::vector<Item>& items) {
  if (items.size() > std::numeric_limits<std::uint32_t>::max()) {
    return QuarnError::io_invalid_data("batch of more than 4294967295 records");
  }
  auto mark = wal.begin_batch(static_cast<std::uint32_t>(items.size()));
  if (!mark.ok()) return std::move(mark).error();
  for (Item& item : items) {
    Status logged = log_item(wal, item);
    if (!logged.ok()) {
      // Even when the cut fails, the batch frame keeps a reader from applying a partial batch.
      (void)wal.rollback(*mark);
      return logged;
    }
  }
  return Status::success();
}

// Hands progress on to the caller's callback in steps of about 1% of the batch and once with
// done == total. An exception from the callback ends the reports: the batch is logged by then,
// and stopping halfway would leave memory behind the log.
class ProgressSteps {
 public:
  ProgressSteps(const BatchProgress& callback, std::size_t total)
      : callback_(callback ? &callback : nullptr), total_(total), step_(std::max<std::size_t>(1, total / 100)) {}

  void report(std::size_t done) {
    if (callback_ == nullptr || done <= last_) return;
    if (done < total_ && done - last_ < step_) return;
    last_ = done;
    try {
      (*callback_)(done, total_);
    } catch (...) {
      callback_ = nullptr;
    }
  }
  void finish() { report(total_); }

 private:
  const BatchProgress* callback_;
  std::size_t total_;
  std::size_t step_;
  std::size_t last_ = 0;
};

}  // namespace

void DbImpl::insert_batch_held(std::vector<Item> items, const TableGuard&, const LinkProgress& progress) {
  if (items.empty()) return;
  // An id named more than once takes one slot, at its first occurrence, with the contents of
  // its last: exactly what replaying the batch's Insert records produces.
  std::vector<Item> unique;
  unique.reserve(items.size());
  std::unordered_map<std::string, std::size_t> position;
  position.reserve(items.size());
  for (Item& item : items) {
    auto [it, fresh] = position.try_emplace(item.id, unique.size());
    if (fresh) {
      unique.push_back(std::move(item));
    } else {
      unique[it->second].vector = std::move(item.vector);
      unique[it->second].metadata = std::move(item.metadata);
    }
  }
  std::vector<std::vector<float>> vectors;
  vectors.reserve(unique.size());
  for (Item& item : unique) vectors.push_back(std::move(item.vector));
  // Room in the tables first: once the index has raised its live count, nothing may fail.
  const std::size_t slots_after = index_->node_count() + unique.size();
  slot_to_id_.reserve(slots_after);
  metadata_.reserve(slots_after);
  id_to_slot_.reserve(id_to_slot_.size() + unique.size());
  const std::vector<Slot> slots = index_->batch_insert(std::move(vectors), progress);
  for (std::size_t i = 0; i < unique.size(); ++i) {
    store_record_held(slots[i], unique[i].id, std::move(unique[i].metadata));
    id_to_slot_.insert_or_assign(std::move(unique[i].id), slots[i]);
  }
}

Status DbImpl::add_many(std::vector<Item> items, const BatchOptions& options) {
  if (auto refused = refuse_write()) return std::move(*refused);
  if (auto error = check_vectors(items, dim_)) return std::move(*error);
  if (items.empty()) return Status::success();
  std::unique_lock id_guard(id_map_lock_);
  if (!id_to_slot_.empty()) {
    for (const Item& item : items) {
      if (id_to_slot_.count(item.id) != 0) return QuarnError::duplicate_id(item.id);
    }
  }
  {
    std::lock_guard wal_guard(wal_mutex_);
    QUARN_TRY(log_batch(wal_, items));
  }
  TableGuard guard(*this);
  ProgressSteps steps(options.progress, items.size());
  insert_batch_held(std::move(items), guard, [&](std::size_t linked) { steps.report(linked); });
  steps.finish();
  return Status::success();
}

Status DbImpl::upsert_many(std::vector<Item> items, const BatchOptions& options) {
  if (auto refused = refuse_write()) return std::move(*refused);
  if (auto error = check_vectors(items, dim_)) return std::move(*error);
  if (items.empty()) return Status::success();
  std::unique_lock id_guard(id_map_lock_);
  {
    std::lock_guard wal_guard(wal_mutex_);
    QUARN_TRY(log_batch(wal_, items));
  }
  TableGuard guard(*this);
  ProgressSteps steps(options.progress, items.size());
  std::size_t updated = 0;
  std::vector<Item> fresh;
  for (Item& item : items) {
    auto it = id_to_slot_.find(item.id);
    if (it == id_to_slot_.end()) {
      fresh.push_back(std::move(item));
      continue;
    }
    // Existing ids keep their slots; an item without metadata clears the slot's metadata.
    index_->update_vector(it->second, item.vector);
    replace_metadata_locked(it->second, std::move(item.metadata));
    steps.report(++updated);
  }
  insert_batch_held(std::move(fresh), guard, [&](std::size_t linked) { steps.report(updated + linked); });
  steps.finish();
  return Status::success();
}

Result<std::size_t> DbImpl::delete_many(const std::vector<std::string>& ids) {
  if (auto refused = refuse_write()) return std::move(*refused);
  std::unique_lock id_guard(id_map_lock_);
  std::lock_guard wal_guard(wal_mutex_);
  TableGuard guard(*this);
  std::size_t deleted = 0;
  for (const std::string& id : ids) {
    auto it = id_to_slot_.find(id);
    if (it == id_to_slot_.end()) continue;
    // A failed append leaves this id and every later one untouched; earlier ones stay deleted.
    QUARN_TRY(wal_.append(WalDelete{id}));
    clear_slot_held(it->second, guard);
    id_to_slot_.erase(it);
    ++deleted;
  }
  return deleted;
}

}  // namespace quarn
