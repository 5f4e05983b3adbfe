// Deleting the records a metadata filter matches: the ids are gathered and deleted under one
// hold of the id map, so no write can add, change or remove a record in between.
#include "db/db_impl.h"

namespace quarn {

Result<std::size_t> DbImpl::delete_where(const Filter& filter) {
  auto deleted = delete_where_logged(filter);
  if (!deleted.ok()) return deleted;
  QUARN_TRY(commit());
  return deleted;
}

Result<std::size_t> DbImpl::delete_where_logged(const Filter& filter) {
  if (auto refused = refuse_write()) return std::move(*refused);
  auto id_guard = lock_id_map_for_write();
  return delete_ids_held(ids_matching(&filter, 0, std::nullopt));
}

}  // namespace quarn
