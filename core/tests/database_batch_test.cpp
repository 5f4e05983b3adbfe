#include "database_test_util.h"

namespace quarn::testing {
namespace {

Item item(const std::string& id, std::vector<float> v, std::optional<Json> meta = std::nullopt) {
  return Item{id, std::move(v), std::move(meta)};
}

TEST(DatabaseBatch, EmptyBatchesChangeAndLogNothing) {
  TempDir dir;
  auto db = make_db(dir, 2);
  EXPECT_TRUE(db->add_many({}).ok());
  EXPECT_TRUE(db->upsert_many({}).ok());
  EXPECT_EQ(*db->delete_many({}), 0u);
  EXPECT_FALSE(dir.wal_exists());
  EXPECT_EQ(db->total_slots(), 0u);
}

TEST(DatabaseBatch, OneBadItemRejectsTheWholeBatchBeforeAnythingIsLogged) {
  TempDir dir;
  auto db = make_db(dir, 2);
  auto wrong = db->add_many({item("a", {1, 1}), item("b", {1, 1, 1}), item("c", {2, 2})});
  ASSERT_FALSE(wrong.ok());
  EXPECT_EQ(wrong.error().text(), "dimension mismatch: expected 2, got 3");
  EXPECT_FALSE(db->upsert_many({item("a", {1, 1}), item("b", {1})}).ok());
  EXPECT_FALSE(dir.wal_exists());
  EXPECT_EQ(db->size(), 0u);

  ASSERT_TRUE(db->add("b", {0, 0}, std::nullopt).ok());
  const auto log = dir.wal_bytes();
  auto dup = db->add_many({item("a", {1, 1}), item("b", {1, 1}), item("c", {2, 2})});
  ASSERT_FALSE(dup.ok());
  EXPECT_EQ(dup.error().text(), "id 'b' already exists, use upsert instead");
  EXPECT_EQ(dir.wal_bytes(), log);
  EXPECT_EQ(db->size(), 1u);
  EXPECT_FALSE(db->contains("a"));
  EXPECT_EQ(db->get("b")->first, (std::vector<float>{0, 0}));
}

TEST(DatabaseBatch, UpsertManyUpdatesExistingInPlaceAndAppendsNewOnesConsecutively) {
  TempDir dir;
  auto db = make_db(dir, 2);
  ASSERT_TRUE(db->add_many({item("a", {0, 0}, J(R"({"k":1})")), item("b", {1, 1}, J(R"({"k":2})")),
                            item("c", {2, 2})})
                  .ok());
  ASSERT_TRUE(db->upsert_many({item("x", {7, 7}), item("b", {5, 5}), item("y", {8, 8}, J(R"({"k":3})")),
                               item("a", {4, 4}, J(R"({"k":9})"))})
                  .ok());
  EXPECT_EQ(db->slot_of("a"), Slot{0});
  EXPECT_EQ(db->slot_of("b"), Slot{1});
  EXPECT_EQ(db->slot_of("x"), Slot{3});
  EXPECT_EQ(db->slot_of("y"), Slot{4});
  EXPECT_EQ(db->total_slots(), 5u);
  EXPECT_EQ(db->get("b")->first, (std::vector<float>{5, 5}));
  EXPECT_EQ(db->get("b")->second, std::nullopt);  // no metadata given: cleared
  EXPECT_EQ(db->get("a")->second, J(R"({"k":9})"));
  Filter k2 = Filter::eq("k", J("2"));
  Filter k9 = Filter::eq("k", J("9"));
  EXPECT_EQ(db->count(&k2), 0u);
  EXPECT_EQ(db->count(&k9), 1u);
  EXPECT_EQ(db->check_invariants(), std::nullopt);
}

TEST(DatabaseBatch, IdRepeatedInOneBatchIsStoredOnceWithItsLastOccurrenceAsReplayWould) {
  TempDir dir;
  auto db = make_db(dir, 2);
  ASSERT_TRUE(db->add("old", {9, 9}, std::nullopt).ok());
  ASSERT_TRUE(db->add_many({item("a", {1, 1}, J(R"({"v":1})")), item("b", {2, 2}), item("a", {3, 3}, J(R"({"v":3})"))})
                  .ok());
  ASSERT_TRUE(db->upsert_many({item("c", {4, 4}), item("old", {5, 5}), item("c", {6, 6}, J(R"({"v":6})"))}).ok());
  EXPECT_EQ(db->size(), 4u);
  EXPECT_EQ(db->total_slots(), 4u);
  EXPECT_EQ(db->slot_of("a"), Slot{1});
  EXPECT_EQ(db->slot_of("b"), Slot{2});
  EXPECT_EQ(db->slot_of("c"), Slot{3});
  EXPECT_EQ(db->get("a")->first, (std::vector<float>{3, 3}));
  EXPECT_EQ(db->get("c")->second, J(R"({"v":6})"));
  Filter v1 = Filter::eq("v", J("1"));
  EXPECT_EQ(db->count(&v1), 0u);
  auto hits = db->search(std::vector<float>{1, 1}, top(10));
  EXPECT_EQ(hits->size(), 4u);  // no ghost slot holding the first "a"
  EXPECT_EQ(db->check_invariants(), std::nullopt);

  // Every item was logged; replaying the log rebuilds the same records in the same slots.
  auto replayed = make_db(dir, 2);
  ASSERT_TRUE(replayed->replay_wal().ok());
  EXPECT_EQ(replayed->total_slots(), 4u);
  for (const std::string id : {"old", "a", "b", "c"}) {
    EXPECT_EQ(replayed->slot_of(id), db->slot_of(id)) << id;
    EXPECT_EQ(*replayed->get(id), *db->get(id)) << id;
  }
}

TEST(DatabaseBatch, DeleteManyCountsEachLiveIdOnceAndLogsOnlyThose) {
  TempDir dir;
  auto db = make_db(dir, 1);
  ASSERT_TRUE(db->add_many({item("a", {0}, J(R"({"t":1})")), item("b", {1}), item("c", {2})}).ok());
  const auto before = dir.wal_bytes().size();
  EXPECT_EQ(*db->delete_many({"a", "zz", "a", "c"}), 2u);
  // Two Delete records of one-byte ids, 14 bytes each.
  EXPECT_EQ(dir.wal_bytes().size(), before + 2 * 14);
  EXPECT_EQ(db->ids(), (std::vector<std::string>{"b"}));
  EXPECT_EQ(db->deleted_count(), 2u);
  Filter t1 = Filter::eq("t", J("1"));
  EXPECT_EQ(db->count(&t1), 0u);
  EXPECT_EQ(db->check_invariants(), std::nullopt);
}

TEST(DatabaseBatch, LargeBatchLinkedInParallelIsFullySearchable) {
  const std::size_t n = small_scale() ? 200 : 600;
  const std::size_t dim = 8;
  TempDir dir;
  auto db = make_db(dir, dim);
  auto vectors = random_vectors(n, dim, 3);
  std::vector<Item> items;
  for (std::size_t i = 0; i < n; ++i) items.push_back(item("v" + std::to_string(i), vectors[i]));
  ASSERT_TRUE(db->add_many(std::move(items)).ok());
  EXPECT_EQ(db->size(), n);
  for (std::size_t i = 0; i < n; i += 17) {
    EXPECT_EQ(db->slot_of("v" + std::to_string(i)), static_cast<Slot>(i));
    auto hits = db->search(vectors[i], top(1));
    ASSERT_EQ(hits->size(), 1u);
    EXPECT_EQ((*hits)[0].id, "v" + std::to_string(i));
  }
  EXPECT_EQ(db->check_invariants(), std::nullopt);
}

}  // namespace
}  // namespace quarn::testing
