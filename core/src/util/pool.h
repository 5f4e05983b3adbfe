#pragma once

#include <cstddef>
#include <functional>

namespace quarn {

// The process-wide worker pool, started on first use with one worker per logical processor
// available to the process (CPU affinity counts), and usable again in a child after fork().
//
// When body throws, the items not yet started are skipped, parallel_for waits until every
// thread has left body, and then rethrows the first exception in the caller.
//
// Calls body(i) for every i in [0, count) and returns when all are done. Items are split
// adaptively down to one item per task. The calling thread runs items too, so a loop started
// from inside a worker completes without deadlock.
void parallel_for(std::size_t count, const std::function<void(std::size_t)>& body);

// Number of worker threads the pool runs (or will run when started).
std::size_t worker_count();

}  // namespace quarn
