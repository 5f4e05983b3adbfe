// Walks over the records matching a filter in slot order: the ids query with offset and limit.
#include <algorithm>

#include "db/db_impl.h"
#include "filter/filter_index.h"

namespace quarn {

void DbImpl::visit_matching(const Filter* filter, const std::function<bool(Slot)>& fn) const {
  std::shared_lock index_guard(index_lock_);
  std::shared_lock slot_guard(slot_table_lock_);
  std::shared_lock meta_guard(metadata_lock_);
  std::shared_lock meta_index_guard(metadata_index_lock_);
  const HnswIndex& index = *index_;
  const std::size_t nodes = std::min({index.node_count(), slot_to_id_.size(), metadata_.size()});
  std::optional<Candidates> candidates;
  if (filter != nullptr) candidates = resolve_from_index(*filter, metadata_index_);
  // Candidates of an exact filter need no record test.
  const bool test = filter != nullptr && !(candidates && filter->index_answers_exactly());
  auto visit = [&](Slot s) {
    if (s >= nodes) return false;
    if (index.is_deleted(s) || (test && !filter->matches(metadata_[s]))) return true;
    return fn(s);
  };
  if (candidates) {
    candidates->get().for_each(visit);
    return;
  }
  for (std::size_t s = 0; s < nodes; ++s) {
    if (!visit(static_cast<Slot>(s))) return;
  }
}

std::vector<std::string> DbImpl::ids_matching(const Filter* filter, std::size_t offset,
                                              std::optional<std::size_t> limit) const {
  std::vector<std::string> out;
  if (limit == 0) return out;
  std::size_t skipped = 0;
  visit_matching(filter, [&](Slot s) {
    if (skipped < offset) {
      ++skipped;
      return true;
    }
    out.push_back(slot_to_id_[s]);
    return !limit || out.size() < *limit;
  });
  return out;
}

}  // namespace quarn
