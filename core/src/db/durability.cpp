// The public writes: each is logged and applied under the database's locks, then, in sync mode,
// waits for a log sync it shares with the writers beside it. The wait happens after the locks
// are released, so other writers can log their records meanwhile and ride the same sync; a
// concurrent reader may see a record before it is durable, never a writer's acknowledgement.
#include "db/db_impl.h"

namespace quarn {

namespace {

template <typename T>
Result<T> then_commit(Result<T> done, DbImpl& db, Status (DbImpl::*commit)()) {
  if (!done.ok()) return done;
  QUARN_TRY((db.*commit)());
  return done;
}

}  // namespace

Status DbImpl::add(const std::string& id, std::vector<float> vector, std::optional<Json> metadata,
                   std::optional<std::string> document) {
  QUARN_TRY(add_logged(id, std::move(vector), std::move(metadata), std::move(document)));
  return commit();
}

Status DbImpl::upsert(const std::string& id, std::vector<float> vector, std::optional<Json> metadata,
                      std::optional<std::string> document) {
  QUARN_TRY(upsert_logged(id, std::move(vector), std::move(metadata), std::move(document)));
  return commit();
}

Status DbImpl::update(const std::string& id, std::optional<std::vector<float>> vector, std::optional<Json> metadata,
                      DocumentChange document) {
  QUARN_TRY(update_logged(id, std::move(vector), std::move(metadata), std::move(document)));
  return commit();
}

Result<bool> DbImpl::remove(const std::string& id) { return then_commit(remove_logged(id), *this, &DbImpl::commit); }

Status DbImpl::add_block(ItemBlock block, const BatchOptions& options) {
  QUARN_TRY(add_block_logged(std::move(block), options));
  return commit();
}

Status DbImpl::upsert_block(ItemBlock block, const BatchOptions& options) {
  QUARN_TRY(upsert_block_logged(std::move(block), options));
  return commit();
}

Result<std::size_t> DbImpl::delete_many(const std::vector<std::string>& ids) {
  return then_commit(delete_many_logged(ids), *this, &DbImpl::commit);
}

Status DbImpl::commit() { return durability_ == Durability::Sync ? sync() : Status::success(); }

Status DbImpl::sync() {
  if (read_only_) return Status::success();
  std::uint64_t ticket;
  {
    std::lock_guard guard(wal_mutex_);
    ticket = wal_.frames_appended();
  }
  return group_sync_.wait_durable(ticket, [this] { return sync_log_now(); });
}

Result<std::uint64_t> DbImpl::sync_log_now() {
  std::uint64_t covered;
  bool directory_due = false;
  FileHandle log;
  {
    std::lock_guard guard(wal_mutex_);
    covered = wal_.frames_appended();
    auto handle = wal_.handle_for_sync(directory_due);
    if (!handle.ok()) return std::move(handle).error();
    log = std::move(*handle);
  }
  if (log.valid()) QUARN_TRY(log.sync_data());
  if (directory_due) {
    Status synced = sync_directory(storage_.dir);
    if (!synced.ok()) {
      std::lock_guard guard(wal_mutex_);
      wal_.directory_sync_failed();
      return std::move(synced).error();
    }
  }
  return covered;
}

}  // namespace quarn
