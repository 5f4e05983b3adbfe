#include <atomic>
#include <thread>
#include <tuple>

#include "database_test_util.h"

namespace quarn::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(DatabaseWrite, CountersFollowAddDeleteAndReAddWithoutReusingSlots) {
  TempDir dir;
  auto db = make_db(dir, 2);
  ASSERT_TRUE(db->add("a", {0, 0}, std::nullopt).ok());
  ASSERT_TRUE(db->add("b", {1, 0}, std::nullopt).ok());
  ASSERT_TRUE(db->add("c", {2, 0}, std::nullopt).ok());
  ASSERT_TRUE(*db->remove("b"));
  EXPECT_EQ(db->size(), 2u);
  EXPECT_EQ(db->total_slots(), 3u);
  EXPECT_EQ(db->deleted_count(), 1u);

  ASSERT_TRUE(db->add("b", {3, 0}, std::nullopt).ok());
  EXPECT_EQ(db->slot_of("b"), Slot{3});
  EXPECT_EQ(db->total_slots(), 4u);
  EXPECT_EQ(db->deleted_count(), 1u);
  EXPECT_EQ(db->size(), 3u);
  EXPECT_EQ(db->get("b")->first, (std::vector<float>{3, 0}));
  EXPECT_EQ(db->check_invariants(), std::nullopt);
}

TEST(DatabaseWrite, AddLogsTheExactInsertRecordAndFailedChecksLogNothing) {
  TempDir dir;
  auto db = make_db(dir, 3);
  auto wrong = db->add("a", {1, 2}, std::nullopt);
  ASSERT_FALSE(wrong.ok());
  EXPECT_EQ(wrong.error().text(), "dimension mismatch: expected 3, got 2");
  EXPECT_FALSE(dir.wal_exists());

  ASSERT_TRUE(db->add("a", {1, 2, 3}, std::nullopt).ok());
  const Bytes insert_a = {0x01, 0x19, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x61, 0x03, 0x00,
                          0x00, 0x00, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00,
                          0x40, 0x40, 0x00, 0x00, 0x00, 0x00, 0x0C, 0xA8, 0x63, 0x94};
  EXPECT_EQ(dir.wal_bytes(), insert_a);

  auto dup = db->add("a", {4, 5, 6}, J(R"({"x":1})"));
  ASSERT_FALSE(dup.ok());
  EXPECT_EQ(dup.error().kind(), QuarnError::Kind::DuplicateId);
  EXPECT_EQ(dup.error().text(), "id 'a' already exists, use upsert instead");
  EXPECT_EQ(dir.wal_bytes(), insert_a);
  EXPECT_EQ(db->get("a")->first, (std::vector<float>{1, 2, 3}));
}

TEST(DatabaseWrite, UpsertReplacesWholeRecordButUpdateKeepsWhatIsNotGiven) {
  TempDir dir;
  auto db = make_db(dir, 2);
  ASSERT_TRUE(db->upsert("a", {1, 1}, J(R"({"tag":"x"})")).ok());  // upsert of a new id inserts
  EXPECT_EQ(db->slot_of("a"), Slot{0});

  ASSERT_TRUE(db->update("a", std::vector<float>{2, 2}, std::nullopt).ok());
  auto got = db->get("a");
  EXPECT_EQ(got->first, (std::vector<float>{2, 2}));
  EXPECT_EQ(got->second, J(R"({"tag":"x"})"));

  ASSERT_TRUE(db->update("a", std::nullopt, J(R"({"tag":"y"})")).ok());
  got = db->get("a");
  EXPECT_EQ(got->first, (std::vector<float>{2, 2}));
  EXPECT_EQ(got->second, J(R"({"tag":"y"})"));

  ASSERT_TRUE(db->upsert("a", {3, 3}, std::nullopt).ok());
  got = db->get("a");
  EXPECT_EQ(got->first, (std::vector<float>{3, 3}));
  EXPECT_EQ(got->second, std::nullopt);
  EXPECT_EQ(db->slot_of("a"), Slot{0});
  EXPECT_EQ(db->total_slots(), 1u);

  // The metadata index follows: the old tag no longer selects the record.
  Filter old_tag = Filter::eq("tag", Json("y"));
  EXPECT_EQ(db->count(&old_tag), 0u);
  EXPECT_EQ(db->check_invariants(), std::nullopt);
}

TEST(DatabaseWrite, UpdateChecksIdBeforeDimensionAndLogsOneRecordEvenWithNothingToChange) {
  TempDir dir;
  auto db = make_db(dir, 2);
  auto missing = db->update("ghost", std::vector<float>{1}, std::nullopt);
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().text(), "id 'ghost' not found");
  EXPECT_FALSE(dir.wal_exists());

  ASSERT_TRUE(db->add("a", {1, 1}, J(R"({"k":1})")).ok());
  const Bytes after_add = dir.wal_bytes();
  auto wrong = db->update("a", std::vector<float>{1, 2, 3}, std::nullopt);
  ASSERT_FALSE(wrong.ok());
  EXPECT_EQ(wrong.error().text(), "dimension mismatch: expected 2, got 3");
  EXPECT_EQ(dir.wal_bytes(), after_add);

  ASSERT_TRUE(db->update("a", std::nullopt, std::nullopt).ok());
  // Update of "a": id, vector flag 0, metadata flag 0.
  Bytes payload;
  put_str(payload, "a");
  payload.push_back(0);
  payload.push_back(0);
  EXPECT_EQ(dir.wal_bytes(), concat(after_add, frame(3, payload)));
  auto got = db->get("a");
  EXPECT_EQ(got->first, (std::vector<float>{1, 1}));
  EXPECT_EQ(got->second, J(R"({"k":1})"));
}

TEST(DatabaseWrite, DeleteOfLiveIdLogsOneRecordAndOfUnknownIdNothing) {
  TempDir dir;
  auto db = make_db(dir, 3);
  auto absent = db->remove("a");
  ASSERT_TRUE(absent.ok());
  EXPECT_FALSE(*absent);
  EXPECT_FALSE(dir.wal_exists());

  ASSERT_TRUE(db->add("a", {1, 2, 3}, J(R"({"k":"v"})")).ok());
  const Bytes after_add = dir.wal_bytes();
  ASSERT_TRUE(*db->remove("a"));
  const Bytes delete_a = {0x02, 0x05, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x61, 0xD6, 0x78, 0xDF, 0xFB};
  EXPECT_EQ(dir.wal_bytes(), concat(after_add, delete_a));

  auto got = db->get("a");
  ASSERT_FALSE(got.ok());
  EXPECT_EQ(got.error().text(), "id 'a' not found");
  EXPECT_FALSE(db->contains("a"));
  EXPECT_FALSE(*db->remove("a"));
  EXPECT_EQ(dir.wal_bytes().size(), after_add.size() + delete_a.size());
  EXPECT_EQ(db->check_invariants(), std::nullopt);
}

TEST(DatabaseWrite, FailedLogAppendLeavesEveryRecordAsItWas) {
  TempDir dir;
  auto db = make_db(dir, 2);
  dir.block_wal();

  auto add = db->add("a", {1, 1}, std::nullopt);
  ASSERT_FALSE(add.ok());
  EXPECT_EQ(add.error().kind(), QuarnError::Kind::Io);
  EXPECT_EQ(db->size(), 0u);
  EXPECT_EQ(db->total_slots(), 0u);
  EXPECT_FALSE(db->contains("a"));
  EXPECT_FALSE(db->upsert("a", {1, 1}, std::nullopt).ok());
  EXPECT_EQ(db->total_slots(), 0u);
}

TEST(DatabaseWrite, DeleteWhoseLogAppendFailsKeepsTheRecordFullyLive) {
  TempDir dir;
  auto db = make_db(dir, 2);
  // Load two records through the log, then make the log path unwritable.
  Bytes log;
  for (auto [id, x, meta] : {std::tuple{"a", 1.0f, R"({"k":1})"}, std::tuple{"b", 5.0f, ""}}) {
    Bytes payload;
    put_str(payload, id);
    put_vec(payload, {x, x});
    put_str(payload, meta);
    log = concat(log, frame(1, payload));
  }
  std::ofstream(dir.wal_path(), std::ios::binary)
      .write(reinterpret_cast<const char*>(log.data()), static_cast<std::streamsize>(log.size()));
  ASSERT_TRUE(db->replay_wal().ok());
  std::filesystem::remove(dir.wal_path());
  dir.block_wal();
  ASSERT_EQ(db->size(), 2u);

  auto removed = db->remove("a");
  ASSERT_FALSE(removed.ok());
  EXPECT_EQ(removed.error().kind(), QuarnError::Kind::Io);
  auto many = db->delete_many({"b", "a"});
  ASSERT_FALSE(many.ok());
  EXPECT_EQ(many.error().kind(), QuarnError::Kind::Io);
  auto update = db->update("a", std::vector<float>{9, 9}, std::nullopt);
  EXPECT_FALSE(update.ok());

  EXPECT_TRUE(db->contains("a"));
  EXPECT_TRUE(db->contains("b"));
  EXPECT_EQ(db->size(), 2u);
  EXPECT_EQ(db->deleted_count(), 0u);
  auto got = db->get("a");
  ASSERT_TRUE(got.ok());
  EXPECT_EQ(got->first, (std::vector<float>{1, 1}));
  EXPECT_EQ(got->second, J(R"({"k":1})"));
  Filter k1 = Filter::eq("k", J("1"));
  EXPECT_EQ(db->count(&k1), 1u);
  auto hits = db->search(std::vector<float>{1, 1}, top(1));
  ASSERT_EQ(hits->size(), 1u);
  EXPECT_EQ((*hits)[0].id, "a");
  EXPECT_EQ(db->check_invariants(), std::nullopt);
}

TEST(DatabaseWrite, GetCopiesAndIdsListEveryLiveIdOnce) {
  TempDir dir;
  auto db = make_db(dir, 1);
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(db->add("id" + std::to_string(i), {static_cast<float>(i)}, std::nullopt).ok());
  }
  for (int i = 0; i < 50; i += 2) ASSERT_TRUE(*db->remove("id" + std::to_string(i)));
  auto ids = db->ids();
  std::sort(ids.begin(), ids.end());
  std::vector<std::string> expected;
  for (int i = 1; i < 50; i += 2) expected.push_back("id" + std::to_string(i));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(ids, expected);
  EXPECT_TRUE(db->contains("id7"));
  EXPECT_FALSE(db->contains("id8"));
  // The empty string is an ordinary id, distinct from a tombstone.
  ASSERT_TRUE(db->add("", {100}, std::nullopt).ok());
  EXPECT_EQ(db->get("")->first, (std::vector<float>{100}));
  EXPECT_EQ(db->metric_name(), "euclidean");
  EXPECT_EQ(db->check_invariants(), std::nullopt);
}

TEST(DatabaseWrite, ConcurrentAddsOfOneIdLeaveOnlyTheWinnersRecordInTheLog) {
  TempDir dir;
  auto db = make_db(dir, 4, Metric::Euclidean, 4, 8);
  // Every thread adds the same ids in the same order, so they keep racing for each one.
  const int threads = 4;
  const int ids = small_scale() ? 300 : 2000;
  std::atomic<int> wins{0};
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&, t] {
      const auto x = static_cast<float>(t);
      for (int i = 0; i < ids; ++i) {
        if (db->add(std::to_string(i), {x, x, x, x}, std::nullopt).ok()) ++wins;
      }
    });
  }
  for (auto& th : pool) th.join();
  EXPECT_EQ(wins.load(), ids);
  EXPECT_EQ(db->size(), static_cast<std::size_t>(ids));
  // One Insert record per id: frame, id, 4 floats, empty metadata.
  std::size_t expected_bytes = 0;
  for (int i = 0; i < ids; ++i) expected_bytes += 9 + (4 + std::to_string(i).size()) + (4 + 16) + 4;
  EXPECT_EQ(dir.wal_bytes().size(), expected_bytes);
  EXPECT_EQ(db->check_invariants(), std::nullopt);
}

}  // namespace
}  // namespace quarn::testing
