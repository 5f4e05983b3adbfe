// A loop body that throws: parallel_for waits for every thread to leave the body, then rethrows
// the first exception in the caller; the pool keeps working afterwards.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "util/pool.h"

namespace quarn {
namespace {

TEST(PoolFailure, FirstExceptionIsRethrownAfterEveryWorkerHasLeftTheBody) {
  struct Case {
    std::size_t count;
    std::size_t throw_at;
  };
  for (const Case& c : {Case{2, 0}, Case{2, 1}, Case{100, 0}, Case{100, 99}, Case{10000, 5000}}) {
    std::atomic<int> inside{0};
    std::atomic<int> max_after{0};
    std::atomic<bool> returned{false};
    auto body = [&](std::size_t i) {
      ++inside;
      // Work that outlasts the throw, so that a caller returning early would be seen.
      std::this_thread::sleep_for(std::chrono::microseconds(i % 7 == 0 ? 200 : 1));
      if (returned.load()) ++max_after;
      --inside;
      if (i == c.throw_at) throw std::runtime_error("item " + std::to_string(i));
    };
    try {
      parallel_for(c.count, body);
      ADD_FAILURE() << "no exception for " << c.count;
    } catch (const std::runtime_error& e) {
      returned = true;
      EXPECT_EQ(std::string(e.what()), "item " + std::to_string(c.throw_at));
      EXPECT_EQ(inside.load(), 0) << "a worker was still in the body";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(max_after.load(), 0) << "the body ran after parallel_for returned";
  }
}

TEST(PoolFailure, ThePoolRunsLoopsAfterAFailure) {
  EXPECT_THROW(parallel_for(1000, [](std::size_t i) {
                 if (i % 100 == 3) throw std::length_error("too long");
               }),
               std::length_error);
  std::atomic<std::size_t> sum{0};
  parallel_for(1000, [&](std::size_t i) { sum += i; });
  EXPECT_EQ(sum.load(), 999u * 1000u / 2u);
}

}  // namespace
}  // namespace quarn
