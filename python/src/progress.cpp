#include "progress.h"

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>

#include "database_object.h"

namespace quarn_py {

// The engine's thread holds the database's locks and never waits for the interpreter lock;
// this thread holds the interpreter lock and no database lock, so a fork or another Python
// thread cannot deadlock with the batch, and a callable that calls into the database only
// waits for the batch to end.
void run_batch(const py::object& progress, const EngineBatch& write) {
  if (progress.is_none()) {
    check(without_gil([&] { return write(quarn::BatchOptions{}); }));
    return;
  }
  struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t done = 0;
    std::size_t total = 0;
    bool finished = false;
  } shared;
  quarn::BatchOptions options;
  options.progress = [&shared](std::size_t done, std::size_t total) {
    {
      std::lock_guard lock(shared.mutex);
      shared.done = done;
      shared.total = total;
    }
    shared.changed.notify_one();
  };
  quarn::Status status = quarn::Status::success();
  std::exception_ptr failed;  // bad_alloc and the like, thrown on the engine's thread
  std::thread engine([&] {
    try {
      status = write(options);
    } catch (...) {
      failed = std::current_exception();
    }
    {
      std::lock_guard lock(shared.mutex);
      shared.finished = true;
    }
    shared.changed.notify_one();
  });
  // Nothing below throws until the engine's thread is joined.
  std::exception_ptr raised;
  std::size_t reported = 0;
  for (;;) {
    std::size_t done = 0;
    std::size_t total = 0;
    bool finished = false;
    {
      py::gil_scoped_release release;
      std::unique_lock lock(shared.mutex);
      shared.changed.wait(lock, [&] { return shared.finished || shared.done != reported; });
      done = shared.done;
      total = shared.total;
      finished = shared.finished;
    }
    if (done != reported) {
      reported = done;
      if (!raised) {
        try {
          progress(done, total);
        } catch (...) {
          raised = std::current_exception();
        }
      }
    }
    if (finished) break;
  }
  {
    py::gil_scoped_release release;
    engine.join();
  }
  if (failed) std::rethrow_exception(failed);
  check(status);
  if (raised) std::rethrow_exception(raised);
}

}  // namespace quarn_py
