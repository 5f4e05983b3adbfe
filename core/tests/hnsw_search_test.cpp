#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <set>
#include <span>
#include <thread>
#include <vector>

#include "hnsw_test_util.h"
#include "hnsw/hnsw.h"
#include "util/pool.h"

namespace quarn {
namespace {

using testing_util::clustered_vectors;
using testing_util::random_vectors;
using testing_util::small_scale;

// Exact k nearest by the pairwise distance, ascending.
std::vector<Slot> brute_force_top(const std::vector<std::vector<float>>& data, const std::vector<float>& q,
                                  std::size_t k, Metric metric) {
  std::vector<std::pair<float, Slot>> all;
  for (std::size_t i = 0; i < data.size(); ++i) all.emplace_back(distance(q, data[i], metric), static_cast<Slot>(i));
  std::sort(all.begin(), all.end());
  std::vector<Slot> out;
  for (std::size_t i = 0; i < std::min(k, all.size()); ++i) out.push_back(all[i].second);
  return out;
}

std::vector<Slot> slots_of(const std::vector<Candidate>& found) {
  std::vector<Slot> out;
  for (const auto& c : found) out.push_back(c.slot);
  return out;
}

bool ascending(const std::vector<Candidate>& found) {
  return std::is_sorted(found.begin(), found.end(),
                        [](const Candidate& a, const Candidate& b) { return a.distance < b.distance; });
}

TEST(HnswSearch, EmptyOrFullyDeletedIndexFindsNothing) {
  HnswIndex index(3, 16, 200, Metric::Cosine);
  const std::vector<float> q{1, 2, 3};
  EXPECT_TRUE(index.search(q, 5, 50).empty());
  EXPECT_TRUE(index.search_graph(q, 5, 50).empty());
  index.batch_insert(random_vectors(20, 3, 1));
  for (Slot s = 0; s < 20; ++s) index.mark_deleted(s);
  EXPECT_TRUE(index.search(q, 5, 50).empty());
  EXPECT_TRUE(index.search_graph(q, 5, 50).empty());
}

TEST(HnswSearch, ZeroKFindsNothingOnBothPaths) {
  HnswIndex index(4, 16, 100, Metric::Euclidean);
  index.batch_insert(random_vectors(200, 4, 2));
  const auto q = random_vectors(1, 4, 3)[0];
  EXPECT_TRUE(index.search(q, 0, 50).empty());
  EXPECT_TRUE(index.search_graph(q, 0, 50).empty());
}

TEST(HnswSearch, ExhaustiveScanMatchesSortedBruteForce) {
  for (Metric metric : {Metric::Cosine, Metric::Euclidean, Metric::DotProduct}) {
    const auto data = random_vectors(300, 12, 4);
    HnswIndex index(12, 16, 100, metric);
    index.batch_insert(data);
    const float* matrix = index.store().data();
    for (const auto& q : random_vectors(10, 12, 5)) {
      const auto found = index.search(q, 10, 10);
      ASSERT_EQ(found.size(), 10u);
      EXPECT_TRUE(ascending(found));
      EXPECT_EQ(slots_of(found), brute_force_top(data, q, 10, metric)) << metric_name(metric);
      // Without deletions the scores are the kernel's.
      const auto scores = brute_force_scores(q, matrix, index.norms().data(), 12, 300, metric);
      for (const auto& c : found) EXPECT_EQ(c.distance, scores[c.slot]);
    }
    // k beyond the live count returns every live vector.
    EXPECT_EQ(index.search(data[0], 1000, 10).size(), 300u);
  }
}

TEST(HnswSearch, ExhaustiveScanSkipsDeletedSlotsAndScoresPairwise) {
  const auto data = random_vectors(100, 5, 6);
  HnswIndex index(5, 16, 100, Metric::Euclidean);
  index.batch_insert(data);
  std::set<Slot> deleted;
  for (Slot s = 0; s < 100; s += 3) {
    index.mark_deleted(s);
    deleted.insert(s);
  }
  const auto q = data[3];  // the query is a deleted vector itself
  const auto found = index.search(q, 500, 10);
  EXPECT_EQ(found.size(), 100u - deleted.size());
  EXPECT_TRUE(ascending(found));
  for (const auto& c : found) {
    EXPECT_FALSE(deleted.count(c.slot));
    EXPECT_EQ(c.distance, distance(q, data[c.slot], Metric::Euclidean));
  }
}

TEST(HnswSearch, CosineZeroVectorsScoreDifferentlyOnTheTwoScanPaths) {
  HnswIndex index(3, 16, 100, Metric::Cosine);
  index.insert({0, 0, 0});
  index.insert({1, 0, 0});
  const std::vector<float> zero{0, 0, 0};
  // Kernel: a zero norm scores 1.0.
  auto found = index.search(zero, 1, 10);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].distance, 1.0f);
  // With a deletion the pairwise function is used: two zero vectors are at distance 0.
  index.mark_deleted(1);
  found = index.search(zero, 1, 10);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].slot, 0u);
  EXPECT_EQ(found[0].distance, 0.0f);
}

TEST(HnswSearch, BeamNarrowerThanKStillReturnsK) {
  HnswIndex index(8, 16, 100, Metric::Euclidean);
  index.batch_insert(random_vectors(500, 8, 7));
  for (const auto& q : random_vectors(5, 8, 8)) {
    const auto found = index.search_graph(q, 25, 1);
    EXPECT_EQ(found.size(), 25u);
    EXPECT_TRUE(ascending(found));
  }
}

TEST(HnswSearch, LayerSearchKeepsTheEntryEvenWithZeroBeam) {
  HnswIndex index(4, 16, 100, Metric::Euclidean);
  index.batch_insert(random_vectors(100, 4, 9));
  const auto q = random_vectors(1, 4, 10)[0];
  const auto found = index.search_layer(q, index.entry_point(), 0, 0);
  EXPECT_EQ(found.size(), 1u);
  const auto wide = index.search_layer(q, index.entry_point(), 40, 0);
  EXPECT_LE(wide.size(), 40u);
  EXPECT_TRUE(ascending(wide));
  // The greedy walk ends on a node no neighbour of which is nearer.
  const Slot end = index.search_layer_single(q, index.entry_point(), 0);
  const float d = distance(q, index.vector(end), Metric::Euclidean);
  for (Slot v : testing_util::list_of(index, end, 0)) EXPECT_GE(distance(q, index.vector(v), Metric::Euclidean), d);
}

TEST(HnswSearch, GraphSearchDropsDeletedSlots) {
  const auto data = random_vectors(400, 6, 11);
  HnswIndex index(6, 16, 100, Metric::Euclidean);
  index.batch_insert(data);
  for (Slot s = 0; s < 400; s += 2) index.mark_deleted(s);
  for (const auto& q : random_vectors(10, 6, 12)) {
    const auto found = index.search_graph(q, 10, 100);
    EXPECT_FALSE(found.empty());
    for (const auto& c : found) EXPECT_EQ(c.slot % 2, 1u);
  }
}

// Recall@10 of the graph path against brute force on clustered data.
double graph_recall(const HnswIndex& index, const std::vector<std::vector<float>>& data,
                    const std::vector<std::vector<float>>& queries, std::size_t ef) {
  std::size_t hits = 0;
  for (const auto& q : queries) {
    const auto truth = brute_force_top(data, q, 10, index.metric());
    const std::set<Slot> expected(truth.begin(), truth.end());
    for (const auto& c : index.search_graph(q, 10, ef)) hits += expected.count(c.slot);
  }
  return static_cast<double>(hits) / static_cast<double>(10 * queries.size());
}

TEST(HnswSearch, GraphRecallOnClusteredData) {
  const std::size_t n = small_scale() ? 3000 : 20000;
  // Queries come from the same clusters as the data.
  auto data = clustered_vectors(n + 200, 64, 50, 2024);
  const std::vector<std::vector<float>> queries(data.begin() + static_cast<std::ptrdiff_t>(n), data.end());
  data.resize(n);
  HnswIndex index(64, 16, 200, Metric::Euclidean);
  index.batch_insert(data);
  EXPECT_TRUE(testing_util::lists_within_capacity(index));
  const double recall = graph_recall(index, data, queries, 200);
  std::printf("recall@10 at ef=200 over %zu clustered vectors of dimension 64: %.4f\n", n, recall);
  EXPECT_GE(recall, 0.9);
}

TEST(HnswSearch, ConcurrentSearchesWhileNodesAreRelinked) {
  // connect_node may run on different slots at once while searches scan the same lists.
  const std::size_t n = small_scale() ? 600 : 2000;
  const auto data = random_vectors(n, 16, 13);
  HnswIndex index(16, 8, 64, Metric::Cosine);
  index.batch_insert(data);
  const auto queries = random_vectors(64, 16, 14);
  std::atomic<bool> stop{false};
  std::atomic<std::size_t> searches{0};
  std::vector<std::thread> searchers;
  for (int t = 0; t < 2; ++t) {
    searchers.emplace_back([&, t] {
      std::size_t i = static_cast<std::size_t>(t);
      while (!stop.load()) {
        const auto& q = queries[i++ % queries.size()];
        const auto found = index.search_graph(q, 10, 32);
        if (found.empty()) ADD_FAILURE() << "graph search found nothing";
        index.search_layer_single(q, index.entry_point(), 0);
        searches.fetch_add(1);
      }
    });
  }
  const Slot entry = index.entry_point();
  parallel_for(n / 2, [&](std::size_t i) {
    const Slot slot = static_cast<Slot>(2 * i + 1);
    if (slot != entry) index.connect_node(slot, index.level(slot), entry);
  });
  stop.store(true);
  for (auto& t : searchers) t.join();
  EXPECT_GT(searches.load(), 0u);
  EXPECT_TRUE(testing_util::lists_within_capacity(index));
}

TEST(HnswSearch, ParallelBatchSearchesAgreeWithSequentialOnes) {
  const auto data = random_vectors(1500, 8, 15);
  HnswIndex index(8, 16, 100, Metric::DotProduct);
  index.batch_insert(data);
  const auto queries = random_vectors(100, 8, 16);
  std::vector<std::vector<Candidate>> parallel(queries.size());
  parallel_for(queries.size(), [&](std::size_t i) { parallel[i] = index.search_graph(queries[i], 10, 50); });
  for (std::size_t i = 0; i < queries.size(); ++i) {
    EXPECT_EQ(slots_of(parallel[i]), slots_of(index.search_graph(queries[i], 10, 50)));
  }
}

}  // namespace
}  // namespace quarn

namespace quarn {
namespace {

// An index past the exhaustive-scan size, so that search() takes the graph path.
std::unique_ptr<HnswIndex> graph_sized_index(Metric metric) {
  constexpr std::size_t kDim = 256;
  const std::size_t rows = kScanLimit / kDim + 64;
  HnswIndex::seed_levels(41);
  auto index = std::make_unique<HnswIndex>(kDim, 8, 24, metric);
  index->batch_insert(clustered_vectors(rows, kDim, 40, 42));
  return index;
}

// The batch reorders its layer-0 walks by descent path and reuses each query's descent; each
// answer must still be the one search() gives for that query, in the caller's order.
TEST(HnswSearch, BatchSearchInDescentOrderAnswersEachQueryAsSearchDoes) {
  const std::unique_ptr<HnswIndex> built = graph_sized_index(Metric::Cosine);
  HnswIndex& index = *built;
  ASSERT_GE(index.dim() * index.live_count(), kScanLimit);
  auto queries = clustered_vectors(120, index.dim(), 40, 43);
  queries.push_back(queries[3]);  // equal paths
  std::vector<std::span<const float>> spans(queries.begin(), queries.end());
  struct Case {
    const char* name;
    std::function<void(HnswIndex&)> prepare;
    std::size_t k, ef, count;
  };
  const std::vector<Case> cases = {
      {"exact walk", [](HnswIndex&) {}, 10, 40, spans.size()},
      {"beam narrower than k", [](HnswIndex&) {}, 30, 5, spans.size()},
      {"one query", [](HnswIndex&) {}, 10, 40, 1},
      {"k of zero", [](HnswIndex&) {}, 0, 40, spans.size()},
      {"quantized walk", [](HnswIndex& ix) { ix.enable_quantized_search(); }, 10, 40, spans.size()},
      {"with a deleted slot", [](HnswIndex& ix) { ix.mark_deleted(7); }, 10, 40, spans.size()},
      {"every fifth slot deleted, exact walk",
       [](HnswIndex& ix) {
         ix.disable_quantized_search();
         for (Slot s = 0; s < ix.node_count(); s += 5) ix.mark_deleted(s);
       },
       10, 40, spans.size()},
  };
  for (const Case& c : cases) {
    c.prepare(index);
    const std::span<const std::span<const float>> batch(spans.data(), c.count);
    const auto many = index.search_many(batch, c.k, c.ef);
    ASSERT_EQ(many.size(), c.count) << c.name;
    for (std::size_t i = 0; i < c.count; ++i) {
      const auto one = index.search(spans[i], c.k, c.ef);
      ASSERT_EQ(many[i].size(), one.size()) << c.name << " query " << i;
      for (std::size_t j = 0; j < one.size(); ++j) {
        EXPECT_EQ(many[i][j].slot, one[j].slot) << c.name << " query " << i << " rank " << j;
        EXPECT_EQ(many[i][j].distance, one[j].distance) << c.name << " query " << i << " rank " << j;
      }
    }
  }
}

}  // namespace
}  // namespace quarn
