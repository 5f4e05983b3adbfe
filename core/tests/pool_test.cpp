#include <gtest/gtest.h>

#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "util/pool.h"

// A multi-threaded fork is what the pool must survive; let the race detector follow the child.
extern "C" const char* __tsan_default_options() { return "die_after_fork=0"; }

namespace quarn {
namespace {

// Runs a loop of `count` items and checks that each ran exactly once.
void expect_each_item_once(std::size_t count) {
  std::vector<std::atomic<int>> hits(count);
  parallel_for(count, [&](std::size_t i) { hits[i].fetch_add(1, std::memory_order_relaxed); });
  for (std::size_t i = 0; i < count; ++i) ASSERT_EQ(hits[i].load(), 1) << "item " << i << " of " << count;
}

TEST(Pool, RunsEveryItemExactlyOnce) {
  for (std::size_t count : {0u, 1u, 2u, 3u, 17u, 1000u, 100000u}) expect_each_item_once(count);
}

TEST(Pool, ZeroItemsNeverCallTheBody) {
  bool called = false;
  parallel_for(0, [&](std::size_t) { called = true; });
  EXPECT_FALSE(called);
}

TEST(Pool, WorkerCountFollowsTheAffinityMask) {
  cpu_set_t set;
  CPU_ZERO(&set);
  ASSERT_EQ(sched_getaffinity(0, sizeof(set), &set), 0);
  EXPECT_EQ(worker_count(), static_cast<std::size_t>(CPU_COUNT(&set)));
}

TEST(Pool, NestedLoopsInsideWorkersComplete) {
  constexpr std::size_t outer = 16, inner = 200;
  std::vector<std::atomic<int>> hits(outer * inner);
  parallel_for(outer, [&](std::size_t i) {
    parallel_for(inner, [&](std::size_t j) {
      // A third level, so a worker waits on a loop that itself waits on another.
      parallel_for(2, [&](std::size_t) {});
      hits[i * inner + j].fetch_add(1, std::memory_order_relaxed);
    });
  });
  for (auto& h : hits) ASSERT_EQ(h.load(), 1);
}

TEST(Pool, ConcurrentLoopsFromSeveralThreads) {
  constexpr int callers = 6;
  constexpr std::size_t count = 5000;
  std::vector<std::unique_ptr<std::atomic<long>>> sums;
  for (int c = 0; c < callers; ++c) sums.push_back(std::make_unique<std::atomic<long>>(0));
  std::vector<std::thread> threads;
  for (int c = 0; c < callers; ++c) {
    threads.emplace_back([&, c] {
      for (int round = 0; round < 5; ++round) {
        parallel_for(count, [&](std::size_t i) { sums[c]->fetch_add(static_cast<long>(i) + 1); });
      }
    });
  }
  for (auto& t : threads) t.join();
  const long expected = 5L * static_cast<long>(count * (count + 1) / 2);
  for (auto& s : sums) EXPECT_EQ(s->load(), expected);
}

TEST(Pool, ChildProcessCanUseThePoolAfterFork) {
  // Start the parent's workers first, so the child inherits a pool whose threads are gone.
  expect_each_item_once(1000);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    alarm(60);  // a hang in the child turns into a failure instead of a stuck test
    std::vector<std::atomic<int>> hits(10000);
    parallel_for(hits.size(), [&](std::size_t i) { hits[i].fetch_add(1); });
    parallel_for(8, [&](std::size_t) { parallel_for(10, [](std::size_t) {}); });
    for (auto& h : hits) {
      if (h.load() != 1) _exit(3);
    }
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "child ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  // The parent's pool is untouched by the fork.
  expect_each_item_once(1000);
}

}  // namespace
}  // namespace quarn
