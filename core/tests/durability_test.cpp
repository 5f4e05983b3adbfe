#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "database_test_util.h"
#include "scoped_hook.h"
#include "util/file.h"

namespace quarn::testing {
namespace {

// The file calls a database makes, as (operation, path) in order.
struct CallLog {
  std::mutex mutex;
  std::vector<std::pair<FileOp, std::string>> calls;
  FileFaultHook hook() {
    return [this](FileOp op, const std::string& path, const std::string&) {
      std::lock_guard lock(mutex);
      calls.emplace_back(op, path);
      return 0;
    };
  }
  std::size_t syncs_of(const std::string& path) {
    std::lock_guard lock(mutex);
    std::size_t n = 0;
    for (const auto& [op, p] : calls) n += op == FileOp::Sync && p == path;
    return n;
  }
  // The last call that wrote or synced the log.
  std::optional<FileOp> last_log_call(const std::string& wal) {
    std::lock_guard lock(mutex);
    for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
      if (it->second == wal && (it->first == FileOp::Write || it->first == FileOp::Sync)) return it->first;
    }
    return std::nullopt;
  }
  void clear() {
    std::lock_guard lock(mutex);
    calls.clear();
  }
};

std::unique_ptr<Database> open_db(const TempDir& dir, Durability durability) {
  OpenOptions options;
  options.dim = 4;
  options.metric = "l2";
  options.durability = durability;
  auto db = Database::open(dir.path(), options);
  EXPECT_TRUE(db.ok()) << db.error().text();
  return std::move(*db);
}

std::vector<float> row(int n) { return {static_cast<float>(n), 1, 2, 3}; }

// Every kind of write, each given a database that holds "a" and "b".
const std::vector<std::pair<const char*, std::function<Status(Database&)>>> kWrites = {
    {"add", [](Database& db) { return db.add("x", row(9), std::nullopt); }},
    {"upsert", [](Database& db) { return db.upsert("a", row(9), std::nullopt); }},
    {"update", [](Database& db) { return db.update("a", row(9), std::nullopt); }},
    {"remove", [](Database& db) { return Status(db.remove("a").ok() ? Status::success() : QuarnError::corrupt("remove")); }},
    {"add_many", [](Database& db) { return db.add_many({{"x", row(1), std::nullopt}, {"y", row(2), std::nullopt}}); }},
    {"upsert_many", [](Database& db) { return db.upsert_many({{"a", row(1), std::nullopt}, {"y", row(2), std::nullopt}}); }},
    {"delete_many", [](Database& db) { return Status(db.delete_many({"a", "b"}).ok() ? Status::success() : QuarnError::corrupt("delete_many")); }},
};

TEST(Durability, SyncModeReturnsOnlyAfterTheLogIsSyncedAndFlushModeNeverSyncsIt) {
  for (const auto& [name, write] : kWrites) {
    for (Durability mode : {Durability::Sync, Durability::Flush}) {
      SCOPED_TRACE(std::string(name) + (mode == Durability::Sync ? " sync" : " flush"));
      TempDir dir;
      auto db = open_db(dir, mode);
      ASSERT_TRUE(db->add_many({{"a", row(0), std::nullopt}, {"b", row(1), std::nullopt}}).ok());
      CallLog log;
      ScopedHook hook(log.hook());
      ASSERT_TRUE(write(*db).ok());
      if (mode == Durability::Sync) {
        EXPECT_EQ(log.last_log_call(dir.wal_path()), FileOp::Sync) << "a write returned before its record was synced";
      } else {
        EXPECT_EQ(log.syncs_of(dir.wal_path()), 0u);
        ASSERT_TRUE(db->sync().ok());
        EXPECT_EQ(log.last_log_call(dir.wal_path()), FileOp::Sync) << "sync() did not sync the log";
      }
    }
  }
}

TEST(Durability, TheDirectoryIsSyncedOnceAfterTheLogFileIsCreated) {
  TempDir dir;
  auto db = open_db(dir, Durability::Sync);
  CallLog log;
  ScopedHook hook(log.hook());
  ASSERT_TRUE(db->add("a", row(0), std::nullopt).ok());
  EXPECT_EQ(log.syncs_of(dir.path()), 1u) << "the new log's directory entry was not synced";
  ASSERT_TRUE(db->add("b", row(1), std::nullopt).ok());
  EXPECT_EQ(log.syncs_of(dir.path()), 1u) << "the directory was synced again for an existing log";
}

TEST(Durability, AFailedSyncFailsTheWriteThatWaitedForIt) {
  TempDir dir;
  auto db = open_db(dir, Durability::Sync);
  ASSERT_TRUE(db->add("a", row(0), std::nullopt).ok());
  const std::string wal = dir.wal_path();
  ScopedHook hook([wal](FileOp op, const std::string& path, const std::string&) {
    return op == FileOp::Sync && path == wal ? EIO : 0;
  });
  const Status s = db->add("b", row(1), std::nullopt);
  ASSERT_FALSE(s.ok());
  EXPECT_NE(s.error().text().find("wal.quarn"), std::string::npos) << s.error().text();
}

TEST(Durability, ConcurrentWritersShareSyncs) {
  TempDir dir;
  auto db = open_db(dir, Durability::Sync);
  ASSERT_TRUE(db->add("warm", row(0), std::nullopt).ok());
  const std::string wal = dir.wal_path();
  std::atomic<int> wal_syncs{0};
  // A slow disk: while one sync runs, the other writers log their records and wait for the next.
  ScopedHook hook([&](FileOp op, const std::string& path, const std::string&) {
    if (op == FileOp::Sync && path == wal) {
      ++wal_syncs;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return 0;
  });
  constexpr int kThreads = 8, kEach = 15;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) EXPECT_TRUE(db->add(std::to_string(t) + "-" + std::to_string(i), row(i), std::nullopt).ok());
    });
  }
  for (auto& w : writers) w.join();
  EXPECT_EQ(db->size(), 1u + kThreads * kEach);
  EXPECT_LT(wal_syncs.load(), kThreads * kEach / 2) << "writers did not share syncs";
}

}  // namespace
}  // namespace quarn::testing
