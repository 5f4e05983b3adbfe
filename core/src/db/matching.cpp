// Walks over the records matching a filter in slot order: the ids query with offset and limit.
#include <algorithm>

#include "db/db_impl.h"
#include "filter/filter_index.h"

namespace quarn {

Status DbImpl::visit_matching(const Filter* filter, const DocumentFilter* document_filter,
                              const std::function<bool(Slot)>& fn) const {
  std::shared_lock index_guard(index_lock_);
  std::shared_lock slot_guard(slot_table_lock_);
  std::shared_lock meta_guard(metadata_lock_);
  std::shared_lock meta_index_guard(metadata_index_lock_);
  const HnswIndex& index = *index_;
  const std::size_t nodes = std::min({index.node_count(), slot_to_id_.size(), metadata_.size()});
  auto narrowing = narrow(filter, document_filter);
  if (!narrowing.ok()) return std::move(narrowing).error();
  const Filter* test = narrowing->test;
  auto visit = [&](Slot s) {
    if (s >= nodes) return false;
    if (index.is_deleted(s) || (test != nullptr && !test->matches(metadata_[s]))) return true;
    return fn(s);
  };
  if (narrowing->candidates) {
    narrowing->candidates->get().for_each(visit);
    return Status::success();
  }
  for (std::size_t s = 0; s < nodes; ++s) {
    if (!visit(static_cast<Slot>(s))) break;
  }
  return Status::success();
}

std::vector<std::string> DbImpl::ids_matching(const Filter* filter, std::size_t offset,
                                              std::optional<std::size_t> limit) const {
  return ids_matching(filter, nullptr, offset, limit).value();
}

Result<std::vector<std::string>> DbImpl::ids_matching(const Filter* filter, const DocumentFilter* document_filter,
                                                      std::size_t offset, std::optional<std::size_t> limit) const {
  std::vector<std::string> out;
  if (limit == 0) return out;
  std::size_t skipped = 0;
  QUARN_TRY(visit_matching(filter, document_filter, [&](Slot s) {
    if (skipped < offset) {
      ++skipped;
      return true;
    }
    out.push_back(slot_to_id_[s]);
    return !limit || out.size() < *limit;
  }));
  return out;
}

}  // namespace quarn
