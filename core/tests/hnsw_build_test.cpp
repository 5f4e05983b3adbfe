#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <set>
#include <vector>

#include "hnsw_test_util.h"
#include "hnsw/hnsw.h"

namespace quarn {
namespace {

using testing_util::lists_within_capacity;
using testing_util::random_vectors;

using testing_util::list_of;

bool contains(const std::vector<Slot>& list, Slot s) { return std::find(list.begin(), list.end(), s) != list.end(); }

TEST(HnswBuild, NewIndexDerivesItsParameters) {
  HnswIndex index(8, 16, 200, Metric::Euclidean);
  EXPECT_EQ(index.m0(), 32u);
  EXPECT_DOUBLE_EQ(index.ml(), 1.0 / std::log(16.0));
  EXPECT_NEAR(index.ml(), 0.36067376022224085, 1e-15);
  EXPECT_EQ(index.entry_point(), kNoEntryPoint);
  EXPECT_EQ(index.max_level(), 0u);
  EXPECT_EQ(index.live_count(), 0u);
  EXPECT_EQ(index.node_count(), 0u);
  EXPECT_FALSE(index.store().is_mapped());
}

TEST(HnswBuild, LevelsFollowTheGeometricDistribution) {
  HnswIndex index(4, 16, 200, Metric::Euclidean);
  const std::size_t draws = testing_util::small_scale() ? 100000 : 400000;
  std::vector<std::size_t> at_least(6, 0);
  std::size_t highest = 0;
  for (std::size_t i = 0; i < draws; ++i) {
    const std::size_t level = index.random_level();
    highest = std::max(highest, level);
    for (std::size_t l = 0; l < at_least.size() && l <= level; ++l) ++at_least[l];
  }
  // A 53-bit draw cannot exceed level 13 with m = 16.
  EXPECT_LE(highest, 13u);
  EXPECT_EQ(at_least[0], draws);
  for (std::size_t l = 1; l <= 2; ++l) {
    const double p = std::pow(16.0, -static_cast<double>(l));
    const double sigma = std::sqrt(p * (1 - p) / static_cast<double>(draws));
    EXPECT_NEAR(static_cast<double>(at_least[l]) / static_cast<double>(draws), p, 5 * sigma) << "level " << l;
  }
}

TEST(HnswBuild, DegenerateMultipliersKeepLevelsFinite) {
  // m = 0 gives a multiplier of -0: every level is 0.
  HnswIndex zero(2, 0, 10, Metric::Euclidean);
  for (int i = 0; i < 1000; ++i) EXPECT_EQ(zero.random_level(), 0u);
  // m = 1 gives an infinite multiplier; levels saturate to a bounded value instead of
  // asking for an unbounded number of lists.
  HnswIndex one(2, 1, 10, Metric::Euclidean);
  EXPECT_LE(one.random_level(), 64u);
}

TEST(HnswBuild, FirstInsertBecomesTheEntryPointWithoutLinks) {
  HnswIndex index(2, 16, 200, Metric::Euclidean);
  EXPECT_EQ(index.insert({1.0f, 2.0f}), 0u);
  EXPECT_EQ(index.entry_point(), 0u);
  EXPECT_EQ(index.max_level(), index.level(0));
  EXPECT_EQ(index.live_count(), 1u);
  for (std::size_t l = 0; l <= index.level(0); ++l) EXPECT_TRUE(list_of(index, 0, l).empty());
  EXPECT_EQ(index.norms(), (std::vector<float>{std::sqrt(5.0f)}));
}

TEST(HnswBuild, SecondInsertLinksBothNodesOnEverySharedLayer) {
  HnswIndex index(2, 16, 200, Metric::Euclidean);
  index.insert({0.0f, 0.0f});
  index.insert({1.0f, 1.0f});
  const std::size_t shared = std::min(index.level(0), index.level(1));
  for (std::size_t l = 0; l <= shared; ++l) {
    EXPECT_EQ(list_of(index, 0, l), (std::vector<Slot>{1})) << "layer " << l;
    EXPECT_EQ(list_of(index, 1, l), (std::vector<Slot>{0})) << "layer " << l;
  }
  // Layers only one of them owns stay empty.
  for (std::size_t l = shared + 1; l <= index.level(0); ++l) EXPECT_TRUE(list_of(index, 0, l).empty());
  for (std::size_t l = shared + 1; l <= index.level(1); ++l) EXPECT_TRUE(list_of(index, 1, l).empty());
}

TEST(HnswBuild, OnlyAStrictlyHigherLevelTakesOverTheEntryPoint) {
  // m = 2 makes upper levels common; many small indexes make both an equal and a higher
  // level certain to occur.
  const auto vectors = random_vectors(5, 3, 21);
  std::size_t takeovers = 0, equal_levels = 0;
  for (int trial = 0; trial < 200; ++trial) {
    HnswIndex index(3, 2, 20, Metric::Euclidean);
    for (const auto& v : vectors) {
      const Slot old_entry = index.entry_point();
      const std::size_t old_max = index.max_level();
      const Slot slot = index.insert(v);
      const std::size_t level = index.level(slot);
      if (old_entry == kNoEntryPoint) {
        EXPECT_EQ(index.entry_point(), slot);
        EXPECT_EQ(index.max_level(), level);
      } else if (level > old_max) {
        EXPECT_EQ(index.entry_point(), slot);
        EXPECT_EQ(index.max_level(), level);
        ++takeovers;
      } else {
        EXPECT_EQ(index.entry_point(), old_entry);
        EXPECT_EQ(index.max_level(), old_max);
        if (level == old_max) ++equal_levels;
      }
    }
    EXPECT_EQ(index.level(index.entry_point()), index.max_level());
  }
  EXPECT_GE(takeovers, 1u);
  EXPECT_GE(equal_levels, 1u);
}

TEST(HnswBuild, ListsNeverExceedTheirCapacity) {
  HnswIndex sequential(8, 4, 40, Metric::Euclidean);
  for (const auto& v : random_vectors(2 * 8 + 50, 8, 5)) sequential.insert(v);
  EXPECT_TRUE(lists_within_capacity(sequential));

  HnswIndex batched(8, 4, 40, Metric::Cosine);
  batched.batch_insert(random_vectors(700, 8, 6));
  batched.batch_insert(random_vectors(300, 8, 7));
  EXPECT_TRUE(lists_within_capacity(batched));
  EXPECT_EQ(batched.live_count(), 1000u);
}

TEST(HnswBuild, ListsKeepOnlyDiverseNeighbours) {
  // Points on a line, a beam that sees every node, m0 = 4. On a line the diversity rule keeps at
  // most the nearest neighbour on each side: any farther point lies behind a kept one.
  HnswIndex index(1, 2, 100, Metric::Euclidean);
  for (float x : {0.0f, 10.0f, 1.0f, 2.0f, 3.0f, 4.0f}) index.insert({x});
  // slot: x = 0:0 1:10 2:1 3:2 4:3 5:4
  const std::vector<std::vector<Slot>> expected = {
      {1, 2},  // x = 0: x = 10 came first and was diverse then, x = 1 was added as a back link
      {5},     // x = 10: its full list was chosen again when x = 4 arrived; only x = 4 survives
      {0, 1, 3},
      {2, 1, 4},
      {3, 1, 5},
      {4, 1},
  };
  for (Slot s = 0; s < expected.size(); ++s) EXPECT_EQ(list_of(index, s, 0), expected[s]) << "slot " << s;
  EXPECT_TRUE(lists_within_capacity(index));
}

TEST(HnswBuild, SeparatedClustersStayConnected) {
  // Far-apart clusters: nearest-first lists turned each cluster into an island, so a query
  // started in the wrong one never found its neighbours (recall near 1 / clusters).
  const std::size_t n = testing_util::small_scale() ? 3000 : 12000;
  auto data = testing_util::clustered_vectors(n + 100, 32, 40, 77, 10.0f, 1.0f);
  const std::vector<std::vector<float>> queries(data.begin() + static_cast<std::ptrdiff_t>(n), data.end());
  data.resize(n);
  HnswIndex index(32, 16, 200, Metric::Euclidean);
  index.batch_insert(data);
  const double recall = testing_util::graph_recall_at_10(index, data, queries, 200);
  std::printf("recall@10 at ef=200 over %zu vectors in 40 separated clusters: %.4f\n", n, recall);
  EXPECT_GE(recall, 0.95);
  EXPECT_TRUE(testing_util::links_respect_layers(index));
}

TEST(HnswBuild, ShrinkingKeepsOlderEntriesAheadOnTies) {
  // Every point at the same distance from slot 0: the stable cut keeps the older entries.
  HnswIndex index(2, 1, 100, Metric::Euclidean);  // m0 = 2
  index.insert({0.0f, 0.0f});
  index.insert({1.0f, 0.0f});
  index.insert({-1.0f, 0.0f});
  index.insert({0.0f, 1.0f});
  const auto list = list_of(index, 0, 0);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list, (std::vector<Slot>{1, 2}));
}

TEST(HnswBuild, SmallBeamLimitsTheNeighboursANodeChooses) {
  HnswIndex index(4, 8, 2, Metric::Euclidean);
  for (const auto& v : random_vectors(60, 4, 9)) {
    const Slot slot = index.insert(v);
    for (std::size_t l = 0; l <= index.level(slot); ++l) EXPECT_LE(list_of(index, slot, l).size(), 2u);
  }
}

TEST(HnswBuild, BatchSlotsAreConsecutiveFromTheNodeCount) {
  HnswIndex index(4, 4, 30, Metric::Euclidean);
  EXPECT_TRUE(index.batch_insert({}).empty());
  EXPECT_EQ(index.entry_point(), kNoEntryPoint);

  const auto one = index.batch_insert(random_vectors(1, 4, 1));
  EXPECT_EQ(one, (std::vector<Slot>{0}));
  EXPECT_EQ(index.entry_point(), 0u);
  EXPECT_TRUE(list_of(index, 0, 0).empty());

  const auto batch = index.batch_insert(random_vectors(129, 4, 2));
  ASSERT_EQ(batch.size(), 129u);
  for (std::size_t i = 0; i < batch.size(); ++i) EXPECT_EQ(batch[i], 1 + i);
  EXPECT_EQ(index.node_count(), 130u);
  EXPECT_EQ(index.live_count(), 130u);
  // Every node, including the one linked in the parallel phase, is reachable from a neighbour
  // and has neighbours of its own.
  std::set<Slot> referenced;
  for (Slot s = 0; s < 130; ++s) {
    EXPECT_FALSE(list_of(index, s, 0).empty()) << "slot " << s;
    for (Slot t : list_of(index, s, 0)) referenced.insert(t);
  }
  EXPECT_TRUE(referenced.count(129));
  EXPECT_EQ(index.level(index.entry_point()), index.max_level());
}

TEST(HnswBuild, FirstVectorOfABatchIntoAnEmptyIndexIsTheEntryPoint) {
  HnswIndex index(4, 4, 30, Metric::Euclidean);
  index.batch_insert(random_vectors(129, 4, 3));
  // Either slot 0 kept the entry point, or a strictly higher level took over.
  const Slot ep = index.entry_point();
  if (ep != 0) {
    EXPECT_GT(index.level(ep), index.level(0));
  }
  for (Slot s = 0; s < 129; ++s) EXPECT_LE(index.level(s), index.max_level());
}

TEST(HnswBuild, UpdateInASingleNodeIndexOnlyReplacesTheVector) {
  HnswIndex index(2, 4, 10, Metric::Euclidean);
  index.insert({1.0f, 0.0f});
  index.update_vector(0, std::vector<float>{3.0f, 4.0f});
  EXPECT_EQ(std::vector<float>(index.vector(0).begin(), index.vector(0).end()), (std::vector<float>{3.0f, 4.0f}));
  EXPECT_EQ(index.norms()[0], 5.0f);
  for (std::size_t l = 0; l <= index.level(0); ++l) EXPECT_TRUE(list_of(index, 0, l).empty());
}

TEST(HnswBuild, UpdatingTheEntryPointKeepsTheHierarchy) {
  // Relinking the entry point from a node without its upper layers pointed every upper list of
  // the entry point at that node, cutting the hierarchy. Replace the entry point's vector
  // repeatedly and check every link of every layer, and that the graph still finds each vector.
  HnswIndex index(8, 4, 40, Metric::Euclidean);  // m = 4: several layers over 2,000 nodes
  index.batch_insert(random_vectors(2000, 8, 21));
  ASSERT_GE(index.max_level(), 2u);
  const auto replacements = random_vectors(30, 8, 22);
  for (const auto& v : replacements) {
    const Slot ep = index.entry_point();
    const std::size_t max_level = index.max_level();
    index.update_vector(ep, v);
    ASSERT_EQ(index.entry_point(), ep);
    ASSERT_EQ(index.max_level(), max_level);
    ASSERT_TRUE(testing_util::links_respect_layers(index));
    for (std::size_t l = 1; l <= max_level; ++l) {
      // The entry point links on every upper layer that holds another node.
      std::size_t others = 0;
      for (Slot s = 0; s < index.node_count(); ++s) others += (s != ep && index.level(s) >= l) ? 1 : 0;
      if (others > 0) {
        EXPECT_FALSE(list_of(index, ep, l).empty()) << "layer " << l;
      }
    }
    const auto found = index.search_graph(v, 1, 64);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].slot, ep);
  }
  EXPECT_TRUE(lists_within_capacity(index));
}

TEST(HnswBuild, UpdatingALoneEntryPointRelinksItBelowItsTopLayer) {
  // Two nodes: the entry point has its top layers to itself and links to the other node only
  // where both have a layer.
  std::unique_ptr<HnswIndex> index;
  for (int attempt = 0; attempt < 100 && (!index || index->entry_point() != 0 || index->max_level() == 0);
       ++attempt) {
    index = std::make_unique<HnswIndex>(2, 4, 10, Metric::Euclidean);
    index->insert({0.0f, 0.0f});
    index->insert({1.0f, 0.0f});
  }
  ASSERT_EQ(index->entry_point(), 0u);
  index->update_vector(0, std::vector<float>{5.0f, 5.0f});
  EXPECT_EQ(index->entry_point(), 0u);
  for (std::size_t l = 0; l <= index->level(0); ++l) {
    const bool shared = index->level(1) >= l;
    EXPECT_EQ(list_of(*index, 0, l), shared ? std::vector<Slot>{1} : std::vector<Slot>{}) << "layer " << l;
  }
  EXPECT_TRUE(testing_util::links_respect_layers(*index));
}

TEST(HnswBuild, UpdateRemovesTheNodeFromItsFormerNeighboursAndRelinksIt) {
  HnswIndex index(6, 16, 100, Metric::Euclidean);
  index.batch_insert(random_vectors(300, 6, 13));
  const auto replacements = random_vectors(20, 6, 14);
  for (std::size_t r = 0; r < replacements.size(); ++r) {
    const Slot slot = static_cast<Slot>((r * 37 + 11) % 300);
    const std::size_t level = index.level(slot);
    // Before: who lists the slot, and whom it lists, per layer.
    std::vector<std::set<Slot>> holders_before(level + 1), own_before(level + 1);
    for (std::size_t l = 0; l <= level; ++l) {
      for (Slot x : list_of(index, slot, l)) own_before[l].insert(x);
      for (Slot s = 0; s < index.node_count(); ++s) {
        if (index.level(s) >= l && contains(list_of(index, s, l), slot)) holders_before[l].insert(s);
      }
    }
    index.update_vector(slot, replacements[r]);
    EXPECT_EQ(std::vector<float>(index.vector(slot).begin(), index.vector(slot).end()), replacements[r]);
    EXPECT_FLOAT_EQ(index.norms()[slot], vector_norm(replacements[r]));
    for (std::size_t l = 0; l <= level; ++l) {
      const auto own_after = list_of(index, slot, l);
      EXPECT_FALSE(own_after.empty());
      // The node can meet itself through a one-directional link; appending itself to its own
      // list may then cut an entry that did receive the back link.
      if (contains(own_after, slot)) continue;
      for (Slot s = 0; s < index.node_count(); ++s) {
        if (s == slot || index.level(s) < l || !contains(list_of(index, s, l), slot)) continue;
        // A link to the slot survives only as a one-directional link it did not list itself,
        // or was added back by the relinking.
        const bool one_directional = holders_before[l].count(s) && !own_before[l].count(s);
        EXPECT_TRUE(one_directional || contains(own_after, s)) << "slot " << slot << " held by " << s;
      }
    }
    // The relinked node is found again through the graph.
    const auto found = index.search_graph(replacements[r], 1, 64);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].slot, slot);
    EXPECT_EQ(found[0].distance, 0.0f);
  }
  EXPECT_TRUE(lists_within_capacity(index));
}

TEST(HnswBuild, DeletingEveryVectorKeepsTheGraph) {
  HnswIndex index(3, 4, 20, Metric::Cosine);
  index.batch_insert(random_vectors(50, 3, 17));
  const Slot ep = index.entry_point();
  const std::size_t max_level = index.max_level();
  for (Slot s = 0; s < 50; ++s) EXPECT_TRUE(index.mark_deleted(s));
  EXPECT_FALSE(index.mark_deleted(3));   // already deleted
  EXPECT_FALSE(index.mark_deleted(50));  // no such slot
  EXPECT_EQ(index.live_count(), 0u);
  EXPECT_EQ(index.deleted_count(), 50u);
  EXPECT_EQ(index.entry_point(), ep);
  EXPECT_EQ(index.max_level(), max_level);
  EXPECT_EQ(index.node_count(), 50u);
}

TEST(HnswBuildDeath, DimensionViolationsAbort) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  HnswIndex index(3, 4, 20, Metric::Euclidean);
  EXPECT_DEATH(index.insert({1.0f, 2.0f}), "vector dimension mismatch");
  EXPECT_DEATH(index.batch_insert({{1.0f, 2.0f, 3.0f}, {1.0f}}), "vector dimension mismatch");
  index.insert({1.0f, 2.0f, 3.0f});
  EXPECT_DEATH(index.search(std::vector<float>{1.0f}, 1, 10), "query dimension mismatch");
}

}  // namespace
}  // namespace quarn
