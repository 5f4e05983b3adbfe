#include "util/pool.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace quarn {

namespace {

// One parallel_for call. Shared by the caller and the workers that join it, so it outlives
// whichever of them touches it last.
struct Loop {
  Loop(const std::function<void(std::size_t)>& fn, std::size_t n, std::size_t threads)
      : body(&fn), count(n), parts(threads * 4) {}

  // Claims the next range of items; chunks shrink as the remaining work shrinks, down to one item.
  bool claim(std::size_t& begin, std::size_t& end) {
    std::size_t cur = next.load(std::memory_order_relaxed);
    while (cur < count) {
      const std::size_t chunk = std::max<std::size_t>(1, (count - cur) / parts);
      if (next.compare_exchange_weak(cur, cur + chunk, std::memory_order_relaxed)) {
        begin = cur;
        end = cur + chunk;
        return true;
      }
    }
    return false;
  }

  bool exhausted() const { return next.load(std::memory_order_relaxed) >= count; }

  // Runs claimed ranges until none is left. An exception thrown by the body is kept (the first
  // one wins) and stops the hand-out of further items, which then count as done, so that every
  // participant still returns and the caller's wait() ends.
  void run() {
    std::size_t begin = 0;
    std::size_t end = 0;
    while (claim(begin, end)) {
      std::size_t finished_items = end - begin;
      try {
        for (std::size_t i = begin; i < end; ++i) (*body)(i);
      } catch (...) {
        {
          std::lock_guard<std::mutex> guard(mutex);
          if (!error) error = std::current_exception();
        }
        const std::size_t unclaimed = next.exchange(count, std::memory_order_relaxed);
        if (unclaimed < count) finished_items += count - unclaimed;
      }
      const std::size_t total = done.fetch_add(finished_items, std::memory_order_acq_rel) + finished_items;
      if (total == count) {
        std::lock_guard<std::mutex> guard(mutex);
        finished.notify_all();
      }
    }
  }

  void wait() {
    std::unique_lock<std::mutex> lock(mutex);
    finished.wait(lock, [this] { return done.load(std::memory_order_acquire) == count; });
  }

  const std::function<void(std::size_t)>* body;
  const std::size_t count;
  const std::size_t parts;
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> done{0};
  std::mutex mutex;  // guards `error` and pairs with `finished`
  std::condition_variable finished;
  std::exception_ptr error;
};

class Pool {
 public:
  explicit Pool(std::size_t workers) {
    threads_.reserve(workers);
    for (std::size_t i = 0; i < workers; ++i) threads_.emplace_back([this] { work(); });
  }

  // Only a pool that lost the race to become the process pool is ever destroyed.
  ~Pool() {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    for (auto& t : threads_) t.join();
  }

  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

  std::size_t size() const { return threads_.size(); }

  void submit(const std::shared_ptr<Loop>& loop) {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      queue_.push_back(loop);
    }
    wake_.notify_all();
  }

  void retire(const Loop* loop) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = std::find_if(queue_.begin(), queue_.end(), [loop](const auto& l) { return l.get() == loop; });
    if (it != queue_.end()) queue_.erase(it);
  }

 private:
  void work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
      if (stop_) return;
      std::shared_ptr<Loop> loop = queue_.front();
      if (loop->exhausted()) {
        queue_.pop_front();
        continue;
      }
      lock.unlock();
      loop->run();
      loop.reset();
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::shared_ptr<Loop>> queue_;
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

// The process pool lives until exit: its workers block on a condition variable, and never
// joining them keeps loops usable from static destructors.
std::atomic<Pool*> process_pool{nullptr};
std::atomic<bool> fork_handler_installed{false};

// After fork() only the forking thread exists in the child: the old pool's workers are gone
// and its locks may be held forever, so the child forgets it and builds a new one on demand.
void forget_pool_in_child() { process_pool.store(nullptr, std::memory_order_relaxed); }

Pool& get_pool() {
  if (Pool* p = process_pool.load(std::memory_order_acquire)) return *p;
  if (!fork_handler_installed.exchange(true)) pthread_atfork(nullptr, nullptr, forget_pool_in_child);
  // The caller of a loop works on it too, so one thread fewer than the CPUs keeps a loop at one
  // thread per CPU instead of time-slicing a thread too many.
  auto fresh = std::make_unique<Pool>(worker_count() - 1);
  Pool* expected = nullptr;
  if (process_pool.compare_exchange_strong(expected, fresh.get(), std::memory_order_acq_rel)) {
    return *fresh.release();
  }
  return *expected;
}

}  // namespace

std::size_t worker_count() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return static_cast<std::size_t>(n);
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

void parallel_for(std::size_t count, const std::function<void(std::size_t)>& body) {
  if (count == 0) return;
  if (count == 1) {
    body(0);
    return;
  }
  Pool& pool = get_pool();
  auto loop = std::make_shared<Loop>(body, count, pool.size() + 1);
  pool.submit(loop);
  loop->run();
  pool.retire(loop.get());
  loop->wait();
  // Every worker has left the body by now, so the caller may unwind past it.
  if (loop->error) std::rethrow_exception(loop->error);
}

}  // namespace quarn
