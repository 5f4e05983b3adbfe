#include "wal/group_sync.h"

#include <algorithm>

namespace quarn {

Status GroupSync::wait_durable(std::uint64_t ticket, const std::function<Result<std::uint64_t>()>& sync_all) {
  std::unique_lock lock(mutex_);
  while (durable_ < ticket) {
    if (syncing_) {
      changed_.wait(lock);
      continue;
    }
    syncing_ = true;
    ++syncs_run_;
    lock.unlock();
    Result<std::uint64_t> covered = sync_all();
    lock.lock();
    syncing_ = false;
    changed_.notify_all();
    if (!covered.ok()) return std::move(covered).error();
    durable_ = std::max(durable_, *covered);
  }
  return Status::success();
}

std::uint64_t GroupSync::syncs_run() const {
  std::lock_guard lock(mutex_);
  return syncs_run_;
}

}  // namespace quarn
