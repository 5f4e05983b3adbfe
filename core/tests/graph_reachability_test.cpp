// Tight groups of near-duplicates (chunks of one document) must stay reachable: a list rule that
// keeps only links a nearer kept neighbour does not cover prunes every link into such a group,
// and queries of that group then find none of their neighbours whatever the beam.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "database_test_util.h"
#include "hnsw_test_util.h"
#include "hnsw/hnsw.h"

namespace quarn {
namespace {

using testing_util::near_duplicate_chunks;

std::size_t unreachable(const HnswIndex& index) { return index.live_count() - index.live_reachable_on_layer0(); }

// Small enough for the exhaustive-scan path, so the graph is searched through search_graph.
testing_util::NearDuplicates small_set() {
  const std::size_t topics = testing_util::small_scale() ? 4 : 10;
  return near_duplicate_chunks(topics, 20, 40, 32, 300, 41);
}

TEST(GraphReachability, SequentialBuildOfNearDuplicatesLeavesNoIslands) {
  const auto set = small_set();
  HnswIndex index(32, 16, 100, Metric::Euclidean);
  HnswIndex::seed_levels(5);
  for (const auto& v : set.data) index.insert(v);
  EXPECT_EQ(unreachable(index), 0u);
}

TEST(GraphReachability, BatchBuildOfNearDuplicatesLeavesNoIslands) {
  const auto set = small_set();
  HnswIndex index(32, 16, 100, Metric::Euclidean);
  HnswIndex::seed_levels(6);
  index.batch_insert(set.data);
  EXPECT_EQ(unreachable(index), 0u);
}

TEST(GraphReachability, NearDuplicateQueriesFindTheirGroupThroughTheGraph) {
  const auto set = small_set();
  HnswIndex index(32, 16, 100, Metric::Euclidean);
  HnswIndex::seed_levels(7);
  index.batch_insert(set.data);
  ASSERT_TRUE(index.scan_answers());  // search() would scan: the graph is asked directly
  std::size_t hits = 0;
  std::size_t empty = 0;
  for (const auto& q : set.queries) {
    std::vector<std::pair<float, Slot>> all;
    for (std::size_t i = 0; i < set.data.size(); ++i) {
      all.emplace_back(distance(q, set.data[i], Metric::Euclidean), static_cast<Slot>(i));
    }
    std::partial_sort(all.begin(), all.begin() + 10, all.end());
    std::size_t found = 0;
    for (const Candidate& c : index.search_graph(q, 10, 64)) {
      for (std::size_t i = 0; i < 10; ++i) found += all[i].second == c.slot ? 1 : 0;
    }
    hits += found;
    empty += found == 0 ? 1 : 0;
  }
  std::printf("recall@10 at ef 64 on near-duplicate chunks: %.4f, queries with none found: %zu\n",
              static_cast<double>(hits) / static_cast<double>(10 * set.queries.size()), empty);
  EXPECT_EQ(empty, 0u);
  EXPECT_GE(static_cast<double>(hits) / static_cast<double>(10 * set.queries.size()), 0.99);
}

TEST(GraphReachability, CompactionAfterDeletionsLeavesNoIslands) {
  const auto set = small_set();
  testing::TempDir dir;
  auto db = testing::make_db(dir, 32, Metric::Euclidean, 16, 100);
  std::vector<Item> items;
  for (std::size_t i = 0; i < set.data.size(); ++i) items.push_back({std::to_string(i), set.data[i], std::nullopt});
  ASSERT_TRUE(db->add_many(std::move(items)).ok());
  // Every third chunk goes, so every group loses members, some of them its links.
  std::vector<std::string> gone;
  for (std::size_t i = 0; i < set.data.size(); i += 3) gone.push_back(std::to_string(i));
  ASSERT_TRUE(db->delete_many(gone).ok());
  db->compact();
  const Stats st = db->stats();
  EXPECT_EQ(st.num_deleted, 0u);
  EXPECT_EQ(st.reachable_layer0, st.num_vectors);
}

// The reachable share counts live nodes only, but walks pass through deleted ones.
TEST(GraphReachability, DeletedNodesStillCarryWalksButAreNotCounted) {
  HnswIndex index(2, 4, 20, Metric::Euclidean);
  for (int i = 0; i < 40; ++i) index.insert({static_cast<float>(i), 0.0f});
  const std::size_t before = index.live_reachable_on_layer0();
  ASSERT_EQ(before, 40u);
  for (Slot s = 1; s < 40; s += 2) index.mark_deleted(s);
  EXPECT_EQ(index.live_reachable_on_layer0(), 20u);
  EXPECT_EQ(index.reachable_on_layer0(), std::vector<std::uint8_t>(40, 1));
}

TEST(GraphReachability, AnEmptyIndexReachesNothing) {
  HnswIndex index(4, 8, 40, Metric::Euclidean);
  EXPECT_TRUE(index.reachable_on_layer0().empty());
  EXPECT_EQ(index.live_reachable_on_layer0(), 0u);
}

}  // namespace
}  // namespace quarn
