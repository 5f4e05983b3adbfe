#include "db/save_queue.h"

namespace quarn {

Status SaveQueue::run(const std::function<Status()>& save) {
  std::unique_lock lock(mutex_);
  if (!next_) next_ = std::make_shared<Ticket>();
  const std::shared_ptr<Ticket> mine = next_;
  while (!mine->done) {
    if (running_ || next_ != mine) {
      ++waiting_;
      changed_.wait(lock);
      --waiting_;
      continue;
    }
    // This caller runs the save for everyone holding the ticket; later callers get a new one.
    running_ = true;
    next_.reset();
    lock.unlock();
    Status status = save();
    lock.lock();
    mine->status = std::move(status);
    mine->done = true;
    running_ = false;
    changed_.notify_all();
  }
  return mine->status;
}

std::size_t SaveQueue::waiting() const {
  std::lock_guard lock(mutex_);
  return waiting_;
}

void WriterAdmission::arrive() {
  std::lock_guard lock(mutex_);
  ++arrived_;
}

void WriterAdmission::entered() {
  {
    std::lock_guard lock(mutex_);
    ++entered_;
  }
  changed_.notify_all();
}

void WriterAdmission::wait_for_earlier_writers() {
  std::unique_lock lock(mutex_);
  const unsigned long long target = arrived_;
  changed_.wait(lock, [&] { return entered_ >= target; });
}

}  // namespace quarn
