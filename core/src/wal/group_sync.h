#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "quarn/result.h"

namespace quarn {

// Shares log syncs among the writers waiting for them (group commit): one caller syncs for
// every record appended before its sync began, and the callers that arrive meanwhile wait for
// that sync or the next, instead of each paying for one of their own.
class GroupSync {
 public:
  // Returns once the records numbered up to `ticket` are durable. `sync_all` makes every record
  // appended so far durable and returns how many that covers; it runs on one caller at a time.
  // A failed sync fails the caller that ran it; the others retry with a sync of their own.
  Status wait_durable(std::uint64_t ticket, const std::function<Result<std::uint64_t>()>& sync_all);

  // Syncs run so far (tests: shared syncs mean fewer of these than writers).
  std::uint64_t syncs_run() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t durable_ = 0;
  bool syncing_ = false;
  std::uint64_t syncs_run_ = 0;
};

}  // namespace quarn
