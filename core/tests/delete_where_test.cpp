#include <atomic>
#include <functional>
#include <thread>

#include "database_test_util.h"
#include "util/file.h"

namespace quarn::testing {
namespace {

constexpr std::size_t kRecords = 300;

// Record i: {"n": i % 7, "tag": "a" | "b"}; every tenth has no metadata and every 25th holds a
// bare number, which no filter matches.
std::optional<Json> metadata_of(std::size_t i) {
  if (i % 10 == 9) return std::nullopt;
  if (i % 25 == 0) return J("5");
  return J(R"({"n": )" + std::to_string(i % 7) + R"(, "tag": ")" + (i % 3 == 0 ? "a" : "b") + "\"}");
}

bool has_object(std::size_t i) { return i % 10 != 9 && i % 25 != 0; }

std::unique_ptr<DbImpl> filled(const TempDir& dir) {
  auto db = make_db(dir, 2);
  std::vector<Item> items;
  for (std::size_t i = 0; i < kRecords; ++i) {
    items.push_back(Item{"r" + std::to_string(i), {float(i), 1.0f}, metadata_of(i)});
  }
  EXPECT_TRUE(db->add_many(std::move(items)).ok());
  return db;
}

std::vector<std::string> ids_where(const std::function<bool(std::size_t)>& keep) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < kRecords; ++i) {
    if (keep(i)) out.push_back("r" + std::to_string(i));
  }
  return out;
}

// Each filter with the records it must delete, worked out from how they were made rather than
// by the engine's own matching.
struct Case {
  const char* name;
  Filter filter;
  std::function<bool(std::size_t)> deleted;
};

std::vector<Case> cases() {
  return {
      {"equality answered by the index", Filter::eq("n", J("3")), [](std::size_t i) { return has_object(i) && i % 7 == 3; }},
      {"range", Filter::range(Filter::Op::Gte, "n", 5), [](std::size_t i) { return has_object(i) && i % 7 >= 5; }},
      {"inequality, tested record by record", Filter::ne("tag", J(R"("a")")),
       [](std::size_t i) { return has_object(i) && i % 3 != 0; }},
      {"and of two fields",
       Filter::all_of({Filter::eq("tag", J(R"("a")")), Filter::range(Filter::Op::Lt, "n", 2)}),
       [](std::size_t i) { return has_object(i) && i % 3 == 0 && i % 7 < 2; }},
      {"or", Filter::any_of({Filter::eq("n", J("0")), Filter::eq("n", J("6"))}),
       [](std::size_t i) { return has_object(i) && (i % 7 == 0 || i % 7 == 6); }},
      {"nothing matches", Filter::eq("n", J("99")), [](std::size_t) { return false; }},
      {"missing field", Filter::exists("n", false), [](std::size_t) { return false; }},
  };
}

TEST(DeleteWhere, DeletesExactlyTheMatchingRecordsNowAndAfterReplay) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    auto db = filled(dir);
    const std::vector<std::string> gone = ids_where(c.deleted);
    auto deleted = db->delete_where(c.filter);
    ASSERT_TRUE(deleted.ok());
    EXPECT_EQ(*deleted, gone.size());
    const std::vector<std::string> kept = ids_where([&](std::size_t i) { return !c.deleted(i); });
    EXPECT_EQ(db->ids_matching(nullptr, 0, std::nullopt), kept);
    EXPECT_EQ(db->count(&c.filter), 0u);
    EXPECT_EQ(db->check_invariants(), std::nullopt);
    auto replayed = make_db(dir, 2);
    ASSERT_TRUE(replayed->replay_wal().ok());
    EXPECT_EQ(replayed->ids_matching(nullptr, 0, std::nullopt), kept);
  }
}

TEST(DeleteWhere, LogsOneBatchLikeDeleteManyOfTheSameIds) {
  TempDir by_filter_dir;
  TempDir by_ids_dir;
  auto by_filter = filled(by_filter_dir);
  auto by_ids = filled(by_ids_dir);
  const Filter filter = Filter::eq("n", J("4"));
  ASSERT_TRUE(by_filter->delete_where(filter).ok());
  ASSERT_TRUE(by_ids->delete_many(ids_where([](std::size_t i) { return has_object(i) && i % 7 == 4; })).ok());
  EXPECT_EQ(by_filter_dir.wal_bytes(), by_ids_dir.wal_bytes());
}

TEST(DeleteWhere, FailedLogWriteInTheMiddleDeletesNothingNowOrOnReplay) {
  TempDir dir;
  auto db = filled(dir);
  const auto log = dir.wal_bytes();
  int writes = 0;
  // Writes: the batch frame, the first Delete record, then the second, which fails.
  set_file_fault_hook([&](FileOp op, const std::string&, const std::string&) {
    return op == FileOp::Write && ++writes == 3 ? EIO : 0;
  });
  const auto deleted = db->delete_where(Filter::eq("tag", J(R"("a")")));
  set_file_fault_hook({});
  ASSERT_FALSE(deleted.ok());
  EXPECT_EQ(db->size(), kRecords);
  EXPECT_EQ(dir.wal_bytes(), log);
  auto replayed = make_db(dir, 2);
  ASSERT_TRUE(replayed->replay_wal().ok());
  EXPECT_EQ(replayed->size(), kRecords);
}

TEST(DeleteWhere, ReadOnlyDatabaseRefusesIt) {
  TempDir dir;
  {
    auto db = filled(dir);
    ASSERT_TRUE(db->save().ok());
  }
  OpenOptions options;
  options.read_only = true;
  auto reader = Database::open(dir.path(), options);
  ASSERT_TRUE(reader.ok());
  auto deleted = (*reader)->delete_where(Filter::eq("n", J("1")));
  ASSERT_FALSE(deleted.ok());
  EXPECT_EQ((*reader)->size(), kRecords);
}

// A writer turns records from {"drop": 1} into {"keep": 1} while delete_where deletes the
// "drop" ones. A record changed between the matching and the deleting would be deleted though
// it no longer matched, and the writer's change lost: every id must survive in the "keep" form,
// either never matched or written again after the delete.
TEST(DeleteWhere, RecordChangedByAConcurrentWriterIsNeverDeletedAfterItStoppedMatching) {
  const std::size_t n = small_scale() ? 1000 : 4000;
  for (int round = 0; round < 5; ++round) {
    TempDir dir;
    auto db = make_db(dir, 1);
    std::vector<Item> items;
    for (std::size_t i = 0; i < n; ++i) items.push_back(Item{"d" + std::to_string(i), {float(i)}, J(R"({"drop":1})")});
    ASSERT_TRUE(db->add_many(std::move(items)).ok());
    std::atomic<std::size_t> written{0};
    std::thread writer([&] {
      for (std::size_t i = 0; i < n; ++i) {
        EXPECT_TRUE(db->upsert("d" + std::to_string(i), {float(i)}, J(R"({"keep":1})")).ok());
        written.store(i + 1);
      }
    });
    // Matching starts while the writer is well under way, so that it keeps writing meanwhile.
    while (written.load() < n / 4) std::this_thread::yield();
    ASSERT_TRUE(db->delete_where(Filter::eq("drop", J("1"))).ok());
    writer.join();
    const Filter keep = Filter::eq("keep", J("1"));
    EXPECT_EQ(db->size(), n);
    EXPECT_EQ(db->count(&keep), n);
    EXPECT_EQ(db->check_invariants(), std::nullopt);
  }
}

}  // namespace
}  // namespace quarn::testing
