// Batch writes: one check pass, one duplicate pass, one log pass and one batch insert per batch.
// A batch travels as one block of rows: the log records are encoded from it and the store takes
// it in one piece, so no row is copied on the way. Like the single writes, they hold the id-map
// lock exclusively from the look-ups until the tables are written.
#include <algorithm>
#include <limits>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "db/db_impl.h"
#include "db/vector_checks.h"
#include "util/growth.h"

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

std::span<const float> row_of(const ItemBlock& block, std::size_t row, std::size_t dim) {
  return block.vectors.subspan(row * dim, dim);
}

std::optional<QuarnError> check_block(const ItemBlock& block, std::size_t dim) {
  const std::size_t n = block.ids.size();
  if (block.vectors.size() != n * dim) {
    if (n != 0 && block.vectors.size() % n == 0) return QuarnError::dimension_mismatch(dim, block.vectors.size() / n);
    return QuarnError::invalid_argument(std::to_string(block.vectors.size()) + " floats for " + std::to_string(n) +
                                       " vectors of dimension " + std::to_string(dim));
  }
  if (!block.metadata.empty() && block.metadata.size() != n) {
    return QuarnError::invalid_argument(std::to_string(block.metadata.size()) + " metadata entries for " +
                                       std::to_string(n) + " records");
  }
  for (std::size_t r = 0; r < n; ++r) {
    if (auto bad = check_finite(row_of(block, r, dim))) return bad;
  }
  if (!block.documents.empty() && block.documents.size() != n) {
    return QuarnError::invalid_argument(std::to_string(block.documents.size()) + " documents for " +
                                       std::to_string(n) + " records");
  }
  for (std::size_t r = 0; r < block.documents.size(); ++r) {
    if (!block.documents[r]) continue;
    if (auto problem = document_problem(*block.documents[r])) return bad_document(*problem, r, block.ids[r]);
  }
  return std::nullopt;
}

// add_many takes each id once; the first id met again is named with both of its rows.
std::optional<QuarnError> check_ids_once(const std::vector<std::string>& ids) {
  std::unordered_map<std::string_view, std::size_t> first_row;
  first_row.reserve(ids.size());
  for (std::size_t r = 0; r < ids.size(); ++r) {
    auto [at, fresh] = first_row.try_emplace(ids[r], r);
    if (!fresh) {
      return QuarnError::invalid_argument("id '" + ids[r] + "' appears twice in the batch (rows " +
                                          std::to_string(at->second) + " and " + std::to_string(r) +
                                          "); add_many takes each id once");
    }
  }
  return std::nullopt;
}

const std::optional<Json>& metadata_of(const ItemBlock& block, std::size_t row) {
  static const std::optional<Json> none;
  return block.metadata.empty() ? none : block.metadata[row];
}

std::optional<Json> take_metadata(ItemBlock& block, std::size_t row) {
  if (block.metadata.empty()) return std::nullopt;
  return std::move(block.metadata[row]);
}

const std::string* document_of(const ItemBlock& block, std::size_t row) {
  if (block.documents.empty() || !block.documents[row]) return nullptr;
  return &*block.documents[row];
}

std::optional<std::string> take_document(ItemBlock& block, std::size_t row) {
  if (block.documents.empty()) return std::nullopt;
  return std::move(block.documents[row]);
}

// The items' vectors moved into one block (`floats` keeps it), each item's own vector freed as
// soon as it is copied.
ItemBlock to_block(std::vector<Item> items, std::size_t dim, std::vector<float>& floats) {
  ItemBlock block;
  floats.reserve(items.size() * dim);
  block.ids.reserve(items.size());
  block.metadata.reserve(items.size());
  const bool any_document = std::any_of(items.begin(), items.end(), [](const Item& i) { return i.document.has_value(); });
  if (any_document) block.documents.reserve(items.size());
  for (Item& item : items) {
    floats.insert(floats.end(), item.vector.begin(), item.vector.end());
    std::vector<float>().swap(item.vector);
    block.ids.push_back(std::move(item.id));
    block.metadata.push_back(std::move(item.metadata));
    if (any_document) block.documents.push_back(std::move(item.document));
  }
  block.vectors = floats;
  return block;
}

// Logs a whole block inside one batch frame. On failure the log is cut back to where the batch
// began, so that no replay applies any of it; memory has not been touched yet.
Status log_block(Wal& wal, const ItemBlock& block, std::size_t dim) {
  if (block.ids.size() > std::numeric_limits<std::uint32_t>::max()) {
    return QuarnError::invalid_argument("a batch holds at most 4294967295 records");
  }
  auto mark = wal.begin_batch(static_cast<std::uint32_t>(block.ids.size()));
  if (!mark.ok()) return std::move(mark).error();
  for (std::size_t r = 0; r < block.ids.size(); ++r) {
    Status logged = wal.append_insert(block.ids[r], row_of(block, r, dim), metadata_of(block, r), document_of(block, r));
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

void DbImpl::insert_batch_held(std::vector<Item> items, const TableGuard& guard, const LinkProgress& progress) {
  std::vector<float> floats;
  ItemBlock block = to_block(std::move(items), dim_, floats);
  insert_rows_held(block, nullptr, guard, progress);
}

void DbImpl::insert_rows_held(ItemBlock& block, const std::vector<std::size_t>* rows, const TableGuard&,
                              const LinkProgress& progress) {
  const std::size_t count = rows != nullptr ? rows->size() : block.ids.size();
  if (count == 0) return;
  // An id named more than once takes one slot, at its first occurrence, with the contents of
  // its last: exactly what replaying the batch's Insert records produces.
  std::vector<std::size_t> first;
  std::vector<std::size_t> last;
  {
    std::unordered_map<std::string_view, std::size_t> position;
    position.reserve(count);
    for (std::size_t k = 0; k < count; ++k) {
      const std::size_t r = rows != nullptr ? (*rows)[k] : k;
      auto [it, fresh] = position.try_emplace(block.ids[r], first.size());
      if (fresh) {
        first.push_back(r);
        last.push_back(r);
      } else {
        last[it->second] = r;
      }
    }
  }
  // The block goes to the index as it is when it is inserted whole, each id once; otherwise the
  // rows to insert are gathered first.
  std::span<const float> vectors = block.vectors;
  std::vector<float> gathered;
  if (rows != nullptr || first.size() != block.ids.size()) {
    gathered.reserve(first.size() * dim_);
    for (std::size_t r : last) {
      const auto row = row_of(block, r, dim_);
      gathered.insert(gathered.end(), row.begin(), row.end());
    }
    vectors = gathered;
  }
  // Room in the tables first: once the index has raised its live count, nothing may fail.
  const std::size_t slots_after = index_->node_count() + first.size();
  reserve_geometric(slot_to_id_, slots_after);
  reserve_geometric(metadata_, slots_after);
  id_to_slot_.reserve(id_to_slot_.size() + first.size());
  const std::vector<Slot> slots = index_->batch_insert_rows(vectors, progress);
  for (std::size_t u = 0; u < first.size(); ++u) {
    std::string& id = block.ids[first[u]];
    store_record_held(slots[u], id, take_metadata(block, last[u]), take_document(block, last[u]));
    id_to_slot_.insert_or_assign(std::move(id), slots[u]);
  }
}

Status DbImpl::add_many(std::vector<Item> items, const BatchOptions& options) {
  if (auto error = check_vectors(items, dim_)) return std::move(*error);
  std::vector<float> floats;
  return add_block(to_block(std::move(items), dim_, floats), options);
}

Status DbImpl::upsert_many(std::vector<Item> items, const BatchOptions& options) {
  if (auto refused = refuse_write()) return std::move(*refused);
  if (auto error = check_vectors(items, dim_)) return std::move(*error);
  std::vector<float> floats;
  return upsert_block(to_block(std::move(items), dim_, floats), options);
}

Status DbImpl::add_block_logged(ItemBlock block, const BatchOptions& options) {
  // A batch that could never be written is refused as such before the database's state is
  // consulted, so a reader reports the same argument errors as a writer.
  if (auto error = check_block(block, dim_)) return std::move(*error);
  if (auto repeated = check_ids_once(block.ids)) return std::move(*repeated);
  if (auto refused = refuse_write()) return std::move(*refused);
  if (block.ids.empty()) return Status::success();
  auto id_guard = lock_id_map_for_write();
  if (!id_to_slot_.empty()) {
    for (const std::string& id : block.ids) {
      if (id_to_slot_.contains(id)) return QuarnError::duplicate_id(id);
    }
  }
  {
    std::lock_guard wal_guard(wal_mutex_);
    QUARN_TRY(log_block(wal_, block, dim_));
  }
  TableGuard guard(*this);
  ProgressSteps steps(options.progress, block.ids.size());
  insert_rows_held(block, nullptr, guard, [&](std::size_t linked) { steps.report(linked); });
  steps.finish();
  return Status::success();
}

Status DbImpl::upsert_block_logged(ItemBlock block, const BatchOptions& options) {
  if (auto refused = refuse_write()) return std::move(*refused);
  if (auto error = check_block(block, dim_)) return std::move(*error);
  if (block.ids.empty()) return Status::success();
  auto id_guard = lock_id_map_for_write();
  {
    std::lock_guard wal_guard(wal_mutex_);
    QUARN_TRY(log_block(wal_, block, dim_));
  }
  TableGuard guard(*this);
  ProgressSteps steps(options.progress, block.ids.size());
  std::size_t updated = 0;
  std::vector<std::size_t> fresh;
  for (std::size_t r = 0; r < block.ids.size(); ++r) {
    const auto slot = id_to_slot_.find(block.ids[r]);
    if (!slot) {
      fresh.push_back(r);
      continue;
    }
    // Existing ids keep their slots; a row without metadata or document clears the slot's.
    index_->update_vector(*slot, row_of(block, r, dim_));
    replace_metadata_locked(*slot, take_metadata(block, r));
    documents_.set(*slot, take_document(block, r));
    steps.report(++updated);
  }
  const bool all_fresh = fresh.size() == block.ids.size();
  insert_rows_held(block, all_fresh ? nullptr : &fresh, guard,
                   [&](std::size_t linked) { steps.report(updated + linked); });
  steps.finish();
  return Status::success();
}

Result<std::size_t> DbImpl::delete_many_logged(const std::vector<std::string>& ids) {
  if (auto refused = refuse_write()) return std::move(*refused);
  auto id_guard = lock_id_map_for_write();
  return delete_ids_held(ids);
}

Result<std::size_t> DbImpl::delete_ids_held(const std::vector<std::string>& ids) {
  std::lock_guard wal_guard(wal_mutex_);
  TableGuard guard(*this);
  std::vector<const std::string*> present;
  std::unordered_set<std::string_view> seen;
  for (const std::string& id : ids) {
    if (id_to_slot_.find(id) && seen.insert(id).second) present.push_back(&id);
  }
  if (present.empty()) return std::size_t{0};
  if (present.size() > std::numeric_limits<std::uint32_t>::max()) {
    return QuarnError::invalid_argument("a batch holds at most 4294967295 records");
  }
  // One batch, so that a replay deletes all of the ids or none; a failed append deletes none.
  if (present.size() == 1) {
    QUARN_TRY(wal_.append(WalDelete{*present[0]}));
  } else {
    auto mark = wal_.begin_batch(static_cast<std::uint32_t>(present.size()));
    if (!mark.ok()) return std::move(mark).error();
    for (const std::string* id : present) {
      Status logged = wal_.append(WalDelete{*id});
      if (!logged.ok()) {
        (void)wal_.rollback(*mark);
        return std::move(logged).error();
      }
    }
  }
  for (const std::string* id : present) {
    clear_slot_held(*id_to_slot_.find(*id), guard);
    id_to_slot_.erase(*id);
  }
  return present.size();
}

}  // namespace quarn
