#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>

#include "quarn/result.h"

namespace quarn {

// Runs saves one at a time and lets callers share them: a save asked for while another runs
// waits for the next one and returns its status, so any number of callers asking at once cost
// at most two saves, and no caller is answered by a save that began before it asked.
class SaveQueue {
 public:
  Status run(const std::function<Status()>& save);
  // Callers holding a ticket for a save that has not started (tests).
  std::size_t waiting() const;

 private:
  struct Ticket {
    bool done = false;
    Status status = Status::success();
  };
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool running_ = false;
  std::size_t waiting_ = 0;
  // The save the next caller joins; it starts once the running one, if any, has ended.
  std::shared_ptr<Ticket> next_;
};

// Counts writers that want the id map exclusively, so that a save can let every writer that
// asked before it go first: a write then waits for at most the one save that holds the map,
// however often saves follow one another.
class WriterAdmission {
 public:
  // Around the exclusive acquisition of the lock: arrive() before, entered() after.
  void arrive();
  void entered();
  // Returns once every writer that arrived before the call has entered.
  void wait_for_earlier_writers();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  unsigned long long arrived_ = 0;
  unsigned long long entered_ = 0;
};

}  // namespace quarn
