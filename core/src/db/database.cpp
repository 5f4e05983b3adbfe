#include "db/db_impl.h"

#include <cmath>
#include <limits>
#include <map>

#include "util/file.h"

namespace quarn {

std::size_t default_ef(std::size_t k) {
  const double root = std::sqrt(static_cast<double>(k));
  const double extra = std::floor(10.0 * root);
  const auto max = std::numeric_limits<std::size_t>::max();
  std::size_t ef = max;
  if (extra < static_cast<double>(max) && static_cast<std::size_t>(extra) <= max - k) {
    ef = k + static_cast<std::size_t>(extra);
  }
  return ef < 200 ? 200 : ef;
}

DbImpl::DbImpl(Storage storage, std::string wal_path, std::unique_ptr<HnswIndex> index, std::size_t dim,
                   bool quantize)
    : index_(std::move(index)),
      keyword_(KeywordIndex::create({}).value()),
      storage_(std::move(storage)),
      wal_(std::move(wal_path)),
      dim_(dim),
      quantize_(quantize) {
  documents_.set_listener(&keyword_);
  register_for_fork();
}

std::unique_ptr<DbImpl> DbImpl::create_empty(const std::string& path, std::size_t dim, Metric metric,
                                               std::size_t m, std::size_t ef_construction, bool quantize) {
  auto index = std::make_unique<HnswIndex>(dim, m, ef_construction, metric);
  return std::unique_ptr<DbImpl>(
      new DbImpl(Storage::make(path), join_path(path, wal_format::kFileName), std::move(index), dim, quantize));
}

DbImpl::~DbImpl() {
  unregister_for_fork();
  // Fields go in the order index, id map, slot table, metadata, metadata index; the log writer
  // (every record of which was flushed when appended) is closed with the Wal afterwards.
  index_.reset();
  id_to_slot_.clear();
  slot_to_id_.clear();
  metadata_.clear();
  metadata_index_ = MetadataIndex{};
}

DbImpl::TableGuard::TableGuard(const DbImpl& db)
    : index(db.index_lock_),
      slot_table(db.slot_table_lock_),
      metadata(db.metadata_lock_),
      metadata_index(db.metadata_index_lock_) {}

std::size_t DbImpl::m() const {
  std::shared_lock guard(index_lock_);
  return index_->m();
}

std::size_t DbImpl::ef_construction() const {
  std::shared_lock guard(index_lock_);
  return index_->ef_construction();
}

std::vector<std::string> DbImpl::ids() const {
  std::shared_lock guard(id_map_lock_);
  std::vector<std::string> out;
  out.reserve(id_to_slot_.size());
  id_to_slot_.for_each([&](const std::string& id, Slot) { out.push_back(id); });
  return out;
}

bool DbImpl::contains(const std::string& id) const {
  std::shared_lock guard(id_map_lock_);
  return id_to_slot_.contains(id);
}

std::optional<Slot> DbImpl::slot_of(const std::string& id) const {
  std::shared_lock guard(id_map_lock_);
  return id_to_slot_.find(id);
}

std::size_t DbImpl::size() const {
  std::shared_lock guard(index_lock_);
  return index_->live_count();
}

std::string DbImpl::metric_name() const {
  std::shared_lock guard(index_lock_);
  return std::string(quarn::metric_name(index_->metric()));
}

std::size_t DbImpl::total_slots() const {
  std::shared_lock guard(index_lock_);
  return index_->node_count();
}

std::size_t DbImpl::deleted_count() const {
  std::shared_lock guard(index_lock_);
  return index_->deleted_count();
}

std::optional<QuarnError> DbImpl::refuse_write() const {
  if (read_only_) return QuarnError::read_only(storage_.dir);
  return std::nullopt;
}

const std::optional<Json>& DbImpl::metadata_at(Slot slot) const {
  static const std::optional<Json> none;
  return slot < metadata_.size() ? metadata_[slot] : none;
}

namespace {

std::string slot_text(Slot s) { return "slot " + std::to_string(s); }

// Compares two metadata indexes entry by entry under the system's JSON equality.
std::optional<std::string> compare_indexes(const MetadataIndex& expected, const MetadataIndex& actual) {
  if (expected.fields().size() != actual.fields().size()) {
    return "metadata index holds " + std::to_string(actual.fields().size()) + " fields, expected " +
           std::to_string(expected.fields().size());
  }
  for (const auto& [field, values] : expected.fields()) {
    auto it = actual.fields().find(field);
    if (it == actual.fields().end()) return "metadata index lacks field '" + field + "'";
    if (it->second.size() != values.size()) return "metadata index field '" + field + "' has wrong value count";
    for (const auto& [value, slots] : values) {
      auto vit = it->second.find(value);
      if (vit == it->second.end() || vit->second != slots) {
        return "metadata index entry for field '" + field + "' value " + json_dump(value) + " differs";
      }
    }
  }
  // Numeric columns: field -> (key, slot) entries in order.
  auto numbers = [](const MetadataIndex& index) {
    std::map<std::string, std::vector<std::pair<double, Slot>>> out;
    for (const auto& [field, column] : index.numeric_fields()) {
      auto& entries = out[field];
      column.for_each([&](double key, Slot slot) { entries.emplace_back(key, slot); });
    }
    return out;
  };
  if (numbers(expected) != numbers(actual)) return "metadata index numeric columns differ from a rebuilt index";
  return std::nullopt;
}

}  // namespace

std::optional<std::string> DbImpl::check_invariants() const {
  std::shared_lock id_guard(id_map_lock_);
  std::shared_lock index_guard(index_lock_);
  std::shared_lock slot_guard(slot_table_lock_);
  std::shared_lock meta_guard(metadata_lock_);
  std::shared_lock meta_index_guard(metadata_index_lock_);

  const std::size_t nodes = index_->node_count();
  if (index_->dim() != dim_) return "index dimension differs from the database's";
  if (slot_to_id_.size() != nodes) {
    return "slot table has " + std::to_string(slot_to_id_.size()) + " entries for " + std::to_string(nodes) +
           " slots";
  }
  if (metadata_.size() != nodes) {
    return "metadata table has " + std::to_string(metadata_.size()) + " entries for " + std::to_string(nodes) +
           " slots";
  }
  if (index_->live_count() + index_->deleted_count() != nodes) return "live count + deleted count != slots";
  if (id_to_slot_.size() != index_->live_count()) {
    return "id map holds " + std::to_string(id_to_slot_.size()) + " ids, live count is " +
           std::to_string(index_->live_count());
  }
  // Each id maps to a distinct live slot holding that id; with the counts above this also
  // means every live slot is reachable from exactly one id.
  std::optional<std::string> wrong;
  id_to_slot_.for_each([&](const std::string& id, Slot slot) {
    if (wrong) return;
    if (slot >= nodes) {
      wrong = "id '" + id + "' maps to " + slot_text(slot) + " beyond the index";
    } else if (index_->is_deleted(slot)) {
      wrong = "id '" + id + "' maps to deleted " + slot_text(slot);
    } else if (slot_to_id_[slot] != id) {
      wrong = "id '" + id + "' maps to " + slot_text(slot) + " holding another id";
    }
  });
  if (wrong) return wrong;
  for (Slot slot : index_->deleted()) {
    if (slot >= nodes) return "deleted " + slot_text(slot) + " beyond the index";
    if (!slot_to_id_[slot].empty()) return "deleted " + slot_text(slot) + " keeps an id";
    if (metadata_[slot].has_value()) return "deleted " + slot_text(slot) + " keeps metadata";
  }
  for (const auto& [slot, document] : documents_.entries()) {
    if (slot >= nodes || index_->is_deleted(slot)) return "document at " + slot_text(slot) + ", which is not live";
  }
  if (auto keyword = keyword_.differs_from(documents_)) return keyword;
  MetadataIndex expected;
  expected.rebuild(metadata_, index_->deleted());
  return compare_indexes(expected, metadata_index_);
}

}  // namespace quarn
