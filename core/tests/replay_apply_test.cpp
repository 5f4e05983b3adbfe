#include <map>

#include "database_test_util.h"

namespace quarn::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes insert_rec(const std::string& id, const std::vector<float>& v, const std::string& meta = "") {
  Bytes p;
  put_str(p, id);
  put_vec(p, v);
  put_str(p, meta);
  return frame(1, p);
}
Bytes delete_rec(const std::string& id) {
  Bytes p;
  put_str(p, id);
  return frame(2, p);
}
// meta_flag: 0 keeps the metadata; 1 with an empty text clears it.
Bytes update_rec(const std::string& id, const std::optional<std::vector<float>>& v, bool meta_flag,
                 const std::string& meta = "") {
  Bytes p;
  put_str(p, id);
  p.push_back(v ? 1 : 0);
  if (v) put_vec(p, *v);
  p.push_back(meta_flag ? 1 : 0);
  if (meta_flag) put_str(p, meta);
  return frame(3, p);
}

void write_log(const TempDir& dir, const std::vector<Bytes>& records) {
  std::ofstream out(dir.wal_path(), std::ios::binary | std::ios::trunc);
  for (const auto& r : records) out.write(reinterpret_cast<const char*>(r.data()), static_cast<std::streamsize>(r.size()));
}

std::unique_ptr<Database> replayed(const TempDir& dir, std::size_t dim) {
  auto db = make_db(dir, dim);
  EXPECT_TRUE(db->replay_wal().ok());
  EXPECT_EQ(db->check_invariants(), std::nullopt);
  return db;
}

TEST(ReplayApply, InsertOfPresentIdReplacesVectorAndMetadataKeepingItsSlot) {
  TempDir dir;
  write_log(dir, {insert_rec("a", {1, 1}, R"({"v":1})"), insert_rec("b", {2, 2}),
                  insert_rec("a", {3, 3}, R"({"v":3})")});
  auto db = replayed(dir, 2);
  EXPECT_EQ(db->slot_of("a"), Slot{0});
  EXPECT_EQ(db->total_slots(), 2u);
  EXPECT_EQ(db->get("a")->first, (std::vector<float>{3, 3}));
  EXPECT_EQ(db->get("a")->second, J(R"({"v":3})"));
  Filter v1 = Filter::eq("v", J("1"));
  EXPECT_EQ(db->count(&v1), 0u);
}

TEST(ReplayApply, DeleteOfAbsentIdIsIgnoredAndReinsertTakesANewSlot) {
  TempDir dir;
  write_log(dir, {delete_rec("ghost"), insert_rec("a", {1, 1}, R"({"t":"x"})"), insert_rec("b", {2, 2}),
                  delete_rec("a"), delete_rec("a"), insert_rec("a", {5, 5})});
  auto db = replayed(dir, 2);
  EXPECT_EQ(db->slot_of("a"), Slot{2});
  EXPECT_EQ(db->total_slots(), 3u);
  EXPECT_EQ(db->deleted_count(), 1u);
  EXPECT_EQ(db->size(), 2u);
  EXPECT_EQ(db->get("a")->second, std::nullopt);
  Filter tx = Filter::eq("t", J(R"("x")"));
  EXPECT_EQ(db->count(&tx), 0u);
}

TEST(ReplayApply, UpdateClearsMetadataOnlyWhenItsFlagIsSet) {
  TempDir dir;
  write_log(dir, {insert_rec("a", {1, 1}, R"({"k":1})"), insert_rec("b", {2, 2}, R"({"k":2})"),
                  update_rec("a", std::vector<float>{7, 7}, false), update_rec("b", std::nullopt, true),
                  update_rec("ghost", std::vector<float>{1, 1}, true, R"({"k":5})")});
  auto db = replayed(dir, 2);
  EXPECT_EQ(db->get("a")->first, (std::vector<float>{7, 7}));
  EXPECT_EQ(db->get("a")->second, J(R"({"k":1})"));
  EXPECT_EQ(db->get("b")->first, (std::vector<float>{2, 2}));
  EXPECT_EQ(db->get("b")->second, std::nullopt);
  EXPECT_FALSE(db->contains("ghost"));
  Filter k2 = Filter::eq("k", J("2"));
  EXPECT_EQ(db->count(&k2), 0u);
}

TEST(ReplayApply, WronglySizedVectorsAreDroppedWithoutHarm) {
  TempDir dir;
  write_log(dir, {insert_rec("short", {1}), insert_rec("a", {1, 1}, R"({"k":1})"), insert_rec("a", {9, 9, 9}),
                  update_rec("a", std::vector<float>{1, 2, 3}, true, R"({"k":2})")});
  auto db = replayed(dir, 2);
  EXPECT_FALSE(db->contains("short"));
  EXPECT_EQ(db->total_slots(), 1u);
  // The oversized update vector is dropped; its metadata still applies.
  EXPECT_EQ(db->get("a")->first, (std::vector<float>{1, 1}));
  EXPECT_EQ(db->get("a")->second, J(R"({"k":2})"));
}

// Runs of Insert records are applied as batches; the slots, vectors and metadata must be those
// of applying every record on its own, as modelled here record by record.
TEST(ReplayApply, BatchedRunsOfInsertsGiveTheStateOfOneRecordAtATime) {
  struct Rec {
    Slot slot;
    std::vector<float> vector;
    std::string meta;
  };
  TempDir dir;
  std::mt19937 rng(29);
  std::map<std::string, Rec> model;
  Slot next_slot = 0;
  std::vector<Bytes> log;
  for (int i = 0; i < 3000; ++i) {
    const std::string id = "r" + std::to_string(rng() % 150);
    const std::vector<float> v = {static_cast<float>(i), static_cast<float>(rng() % 97), 1.0f};
    const std::string meta = rng() % 3 == 0 ? "" : R"({"i":)" + std::to_string(i) + "}";
    const unsigned op = rng() % 20;
    auto it = model.find(id);
    if (op < 14) {  // insert: a new slot for an id that is not live, else a replacement
      log.push_back(insert_rec(id, v, meta));
      if (it == model.end()) {
        model[id] = {next_slot++, v, meta};
      } else {
        it->second.vector = v;
        it->second.meta = meta;
      }
    } else if (op < 17) {
      log.push_back(delete_rec(id));
      if (it != model.end()) model.erase(it);
    } else if (op < 19) {
      log.push_back(update_rec(id, v, true, meta));
      if (it != model.end()) {
        it->second.vector = v;
        it->second.meta = meta;
      }
    } else {
      log.push_back(insert_rec(id, {1.0f}));  // wrongly sized: skipped
    }
  }
  write_log(dir, log);
  auto db = replayed(dir, 3);
  EXPECT_EQ(db->total_slots(), std::size_t{next_slot});
  ASSERT_EQ(db->ids().size(), model.size());
  for (const auto& [id, rec] : model) {
    EXPECT_EQ(db->slot_of(id), rec.slot) << id;
    const auto got = db->get(id);
    ASSERT_TRUE(got.ok()) << id;
    EXPECT_EQ(got->first, rec.vector) << id;
    if (rec.meta.empty()) {
      EXPECT_EQ(got->second, std::nullopt) << id;
    } else {
      EXPECT_EQ(got->second, J(rec.meta)) << id;
    }
  }
}

TEST(ReplayApply, ReplayAppendsNothingAndGivesTheSameStateTwice) {
  TempDir dir;
  write_log(dir, {insert_rec("a", {1, 1}), insert_rec("b", {2, 2}, R"({"k":1})"), delete_rec("a")});
  const auto log = dir.wal_bytes();
  auto first = replayed(dir, 2);
  EXPECT_EQ(dir.wal_bytes(), log);
  auto second = replayed(dir, 2);
  EXPECT_EQ(first->ids(), second->ids());
  EXPECT_EQ(*first->get("b"), *second->get("b"));
  EXPECT_EQ(dir.wal_bytes(), log);
}

TEST(ReplayApply, ReplayingTheLogOfEveryWriteReproducesMemory) {
  TempDir dir;
  auto db = make_db(dir, 3);
  auto vectors = random_vectors(40, 3, 17);
  std::vector<Item> items;
  for (int i = 0; i < 20; ++i) items.push_back({"b" + std::to_string(i), vectors[i], J(R"({"i":)" + std::to_string(i) + "}")});
  items.push_back({"b3", vectors[39], std::nullopt});  // repeated id within the batch
  ASSERT_TRUE(db->upsert_many(items).ok());
  ASSERT_TRUE(db->add("s", vectors[20], J(R"({"s":true})")).ok());
  ASSERT_TRUE(db->upsert("s", vectors[21], std::nullopt).ok());
  ASSERT_TRUE(db->upsert("t", vectors[22], J(R"({"t":1})")).ok());
  ASSERT_TRUE(db->update("t", std::nullopt, J(R"({"t":2})")).ok());
  ASSERT_TRUE(db->update("b5", vectors[23], std::nullopt).ok());
  ASSERT_TRUE(*db->remove("b0"));
  EXPECT_EQ(*db->delete_many({"b1", "b2", "b1", "nope"}), 2u);
  ASSERT_TRUE(db->upsert_many({{"b7", vectors[24], std::nullopt}, {"n1", vectors[25], J(R"({"n":1})")},
                               {"n1", vectors[26], J(R"({"n":2})")}})
                  .ok());
  ASSERT_TRUE(db->add("b0", vectors[27], std::nullopt).ok());

  auto again = replayed(dir, 3);
  EXPECT_EQ(again->total_slots(), db->total_slots());
  EXPECT_EQ(again->deleted_count(), db->deleted_count());
  auto ids = db->ids();
  auto ids2 = again->ids();
  std::sort(ids.begin(), ids.end());
  std::sort(ids2.begin(), ids2.end());
  ASSERT_EQ(ids, ids2);
  for (const auto& id : ids) {
    EXPECT_EQ(again->slot_of(id), db->slot_of(id)) << id;
    EXPECT_EQ(*again->get(id), *db->get(id)) << id;
  }
}

}  // namespace
}  // namespace quarn::testing
