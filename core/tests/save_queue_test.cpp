#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "database_test_util.h"
#include "db/save_queue.h"

namespace quarn::testing {
namespace {

using Clock = std::chrono::steady_clock;

// A save the test holds open until release(); each run answers with its own number.
struct GatedSave {
  std::mutex mutex;
  std::condition_variable changed;
  int started = 0;
  int released = 0;

  Status operator()() {
    std::unique_lock lock(mutex);
    const int mine = ++started;
    changed.notify_all();
    changed.wait(lock, [&] { return released >= mine; });
    return QuarnError::corrupt("save " + std::to_string(mine));
  }
  void wait_started(int n) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return started >= n; });
  }
  void release(int n) {
    std::lock_guard lock(mutex);
    released = n;
    changed.notify_all();
  }
};

TEST(SaveQueue, CallersArrivingDuringASaveShareTheNextOneInsteadOfEachRunningTheirOwn) {
  SaveQueue queue;
  GatedSave save;
  auto run = [&] { return queue.run([&] { return save(); }).error().text(); };
  std::string first;
  std::thread t1([&] { first = run(); });
  save.wait_started(1);
  // Three callers ask while save 1 runs; none may be answered by save 1, which began before them.
  std::vector<std::string> later(3);
  std::vector<std::thread> waiting;
  for (auto& out : later) waiting.emplace_back([&out, &run] { out = run(); });
  while (queue.waiting() < later.size()) std::this_thread::yield();
  save.release(1);
  save.wait_started(2);
  save.release(2);
  t1.join();
  for (auto& t : waiting) t.join();
  EXPECT_NE(first.find("save 1"), std::string::npos) << first;
  for (const auto& text : later) EXPECT_NE(text.find("save 2"), std::string::npos) << text;
  EXPECT_EQ(save.started, 2);
}

TEST(SaveQueue, ASaveWaitsForWritersThatAskedBeforeItButNotForLaterOnes) {
  WriterAdmission admission;
  admission.arrive();  // a writer still waiting for its lock
  std::atomic<bool> passed{false};
  std::thread saver([&] {
    admission.wait_for_earlier_writers();
    passed = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(passed.load()) << "the save went ahead of a writer that asked first";
  admission.entered();
  saver.join();
  EXPECT_TRUE(passed.load());

  admission.arrive();
  admission.entered();
  admission.wait_for_earlier_writers();  // returns at once: every writer so far has entered
}

TEST(SaveQueue, AWriterBesideTwoThreadsSavingInALoopWaitsForAtMostAboutOneSave) {
  TempDir dir;
  auto db = make_db(dir, 16, Metric::Euclidean, 8, 32);
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> d(-1, 1);
  auto vec = [&] {
    std::vector<float> v(16);
    for (float& x : v) x = d(rng);
    return v;
  };
  for (int i = 0; i < 3000; ++i) ASSERT_TRUE(db->add("seed" + std::to_string(i), vec(), std::nullopt).ok());

  std::atomic<bool> writing{true};
  std::mutex times_mutex;
  Clock::duration longest_save{};
  int saves = 0;
  std::vector<std::thread> savers;
  for (int s = 0; s < 2; ++s) {
    savers.emplace_back([&] {
      while (writing) {
        const auto start = Clock::now();
        EXPECT_TRUE(db->save().ok());
        const auto took = Clock::now() - start;
        std::lock_guard lock(times_mutex);
        longest_save = std::max(longest_save, took);
        ++saves;
      }
    });
  }
  auto saves_done = [&] {
    std::lock_guard lock(times_mutex);
    return saves;
  };
  while (saves_done() == 0) std::this_thread::yield();
  Clock::duration longest_add{};
  // Adds go on until several saves have run beside them, however the threads are scheduled.
  for (int i = 0; i < 40 || saves_done() < 6; ++i) {
    const auto start = Clock::now();
    ASSERT_TRUE(db->add("w" + std::to_string(i), vec(), std::nullopt).ok());
    longest_add = std::max(longest_add, Clock::now() - start);
  }
  writing = false;
  for (auto& t : savers) t.join();
  const auto ms = [](Clock::duration t) { return std::chrono::duration_cast<std::chrono::milliseconds>(t).count(); };
  // One save can be in progress when an add arrives; the bound leaves room for a second and for
  // scheduling noise, far below the unbounded waits of readers taking the lock back to back.
  EXPECT_LE(ms(longest_add), 2 * ms(longest_save) + 200) << saves << " saves";
  EXPECT_GE(db->size(), 3040u);
}

}  // namespace
}  // namespace quarn::testing
