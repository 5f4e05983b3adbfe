#include "database_test_util.h"

namespace quarn::testing {
namespace {

std::unique_ptr<Database> abcd(const TempDir& dir) {
  auto db = make_db(dir, 2);
  const char* names[] = {"a", "b", "c", "d"};
  for (int i = 0; i < 4; ++i) {
    const auto x = static_cast<float>(i);
    EXPECT_TRUE(db->add(names[i], {x, x}, J(R"({"name":")" + std::string(names[i]) + R"("})")).ok());
  }
  return db;
}

TEST(Compact, WithoutDeletionsChangesNothing) {
  TempDir dir;
  auto db = abcd(dir);
  const auto log = dir.wal_bytes();
  const auto before = *db->search(std::vector<float>{1, 1}, top(4));
  ASSERT_TRUE(db->compact().ok());
  EXPECT_EQ(db->total_slots(), 4u);
  EXPECT_EQ(db->slot_of("a"), Slot{0});
  EXPECT_EQ(db->slot_of("d"), Slot{3});
  auto after = *db->search(std::vector<float>{1, 1}, top(4));
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < after.size(); ++i) EXPECT_EQ(after[i].id, before[i].id);
  EXPECT_EQ(dir.wal_bytes(), log);  // compaction never writes the log
}

TEST(Compact, RenumbersSurvivorsDenselyAndKeepsThemSearchableAndFilterable) {
  TempDir dir;
  auto db = abcd(dir);
  db->enable_quantized_search();
  ASSERT_TRUE(*db->remove("a"));
  ASSERT_TRUE(*db->remove("c"));
  ASSERT_TRUE(db->compact().ok());
  EXPECT_EQ(db->slot_of("b"), Slot{0});
  EXPECT_EQ(db->slot_of("d"), Slot{1});
  EXPECT_EQ(db->total_slots(), 2u);
  EXPECT_EQ(db->deleted_count(), 0u);
  EXPECT_EQ(db->size(), 2u);
  auto b = db->get("b");
  EXPECT_EQ(b->first, (std::vector<float>{1, 1}));
  EXPECT_EQ(b->second, J(R"({"name":"b"})"));
  auto hits = db->search(std::vector<float>{3, 3}, top(10));
  ASSERT_EQ(hits->size(), 2u);
  EXPECT_EQ((*hits)[0].id, "d");
  Filter is_b = Filter::eq("name", J(R"("b")"));
  Filter is_a = Filter::eq("name", J(R"("a")"));
  auto filtered = db->search(std::vector<float>{3, 3}, top(10, &is_b));
  ASSERT_EQ(filtered->size(), 1u);
  EXPECT_EQ((*filtered)[0].id, "b");
  EXPECT_EQ(db->count(&is_a), 0u);

  // Quantized search survives, with codes for the two survivors only.
  const Stats st = db->stats();
  EXPECT_EQ(st.num_deleted, 0u);
  EXPECT_TRUE(st.uses_quantized_search);
  EXPECT_EQ(st.memory_quantized_bytes, 8u * 2 + 2u * 2);
  EXPECT_EQ(db->check_invariants(), std::nullopt);

  // New records continue after the dense slots.
  ASSERT_TRUE(db->add("e", {9, 9}, std::nullopt).ok());
  EXPECT_EQ(db->slot_of("e"), Slot{2});
}

TEST(Compact, DeletingEverythingYieldsAnEmptyIndex) {
  TempDir dir;
  auto db = abcd(dir);
  EXPECT_EQ(*db->delete_many({"a", "b", "c", "d"}), 4u);
  ASSERT_TRUE(db->compact().ok());
  const Stats st = db->stats();
  EXPECT_EQ(st.num_vectors, 0u);
  EXPECT_EQ(st.num_deleted, 0u);
  EXPECT_EQ(st.num_layers, 0u);
  EXPECT_EQ(st.memory_vectors_bytes, 0u);
  EXPECT_EQ(st.memory_graph_bytes, 0u);
  EXPECT_TRUE(st.uses_brute_force);
  EXPECT_EQ(db->total_slots(), 0u);
  EXPECT_TRUE(db->search(std::vector<float>{0, 0}, top(5))->empty());
  ASSERT_TRUE(db->add("a", {1, 1}, std::nullopt).ok());
  EXPECT_EQ(db->slot_of("a"), Slot{0});
  EXPECT_EQ(db->check_invariants(), std::nullopt);
}

TEST(Stats, EmptyIndexReportsZerosAndBruteForce) {
  TempDir dir;
  auto db = make_db(dir, 4);
  const Stats st = db->stats();
  EXPECT_EQ(st.num_vectors, 0u);
  EXPECT_EQ(st.num_deleted, 0u);
  EXPECT_EQ(st.num_layers, 0u);
  EXPECT_EQ(st.avg_degree_layer0, 0.0);
  EXPECT_EQ(st.max_degree_layer0, 0u);
  EXPECT_EQ(st.min_degree_layer0, 0u);
  EXPECT_EQ(st.memory_vectors_bytes, 0u);
  EXPECT_EQ(st.memory_graph_bytes, 0u);
  EXPECT_EQ(st.memory_quantized_bytes, 0u);
  EXPECT_TRUE(st.uses_brute_force);
  EXPECT_FALSE(st.uses_quantized_search);
  db->enable_quantized_search();  // nothing to train on
  EXPECT_FALSE(db->quantized_search());
}

TEST(Stats, FiveAxisVectorsOfDimensionFive) {
  TempDir dir;
  auto db = make_db(dir, 5);
  // Unit axes: every pair at the same distance, so no link makes another redundant.
  for (int i = 0; i < 5; ++i) {
    std::vector<float> axis(5, 0.0f);
    axis[static_cast<std::size_t>(i)] = 1.0f;
    ASSERT_TRUE(db->add("v" + std::to_string(i), axis, std::nullopt).ok());
  }
  Stats st = db->stats();
  EXPECT_EQ(st.num_vectors, 5u);
  EXPECT_EQ(st.memory_vectors_bytes, 100u);
  EXPECT_TRUE(st.uses_brute_force);
  EXPECT_GE(st.num_layers, 1u);
  // Five nodes with room for 32 neighbours each: every node links to the four others.
  EXPECT_EQ(st.avg_degree_layer0, 4.0);
  EXPECT_EQ(st.max_degree_layer0, 4u);
  EXPECT_EQ(st.min_degree_layer0, 4u);
  EXPECT_GE(st.memory_graph_bytes, 80u);
  const std::size_t graph_bytes = st.memory_graph_bytes;

  // A deleted node still counts for the graph's memory but not for the average degree.
  ASSERT_TRUE(*db->remove("v0"));
  st = db->stats();
  EXPECT_EQ(st.num_vectors, 4u);
  EXPECT_EQ(st.num_deleted, 1u);
  EXPECT_EQ(st.avg_degree_layer0, 4.0);
  EXPECT_EQ(st.memory_graph_bytes, graph_bytes);
  EXPECT_EQ(st.memory_vectors_bytes, 100u);

  db->enable_quantized_search();
  EXPECT_TRUE(db->quantized_search());
  EXPECT_EQ(db->stats().memory_quantized_bytes, 8u * 5 + 5u * 5);
  db->disable_quantized_search();
  EXPECT_FALSE(db->quantized_search());
  EXPECT_EQ(db->stats().memory_quantized_bytes, 0u);
}

}  // namespace
}  // namespace quarn::testing
