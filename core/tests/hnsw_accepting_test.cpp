// The graph walk that keeps only accepted slots: it must collect k accepted neighbours however
// rare they are and wherever they lie relative to the query, with or without deleted slots.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <set>
#include <vector>

#include "hnsw_test_util.h"
#include "hnsw/hnsw.h"

namespace quarn {
namespace {

using testing_util::clustered_vectors;
using testing_util::small_scale;

constexpr std::size_t kDim = 16;
constexpr std::size_t kClusters = 40;
constexpr std::size_t kK = 10;
constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max();

struct Corpus {
  std::size_t n = small_scale() ? 3000 : 10000;
  std::vector<std::vector<float>> data;
  std::vector<std::size_t> cluster;  // nearest centre of each vector, by position in the data
  std::vector<std::vector<float>> queries;
  HnswIndex index{kDim, 16, 100, Metric::Euclidean};

  Corpus() {
    // Clusters far enough apart that "the query's cluster" and "the farthest cluster" differ.
    data = clustered_vectors(n + 20, kDim, kClusters, 31, 6.0f, 1.0f);
    queries.assign(data.begin() + static_cast<std::ptrdiff_t>(n), data.end());
    data.resize(n);
    // Cluster by the first point of each group: the generator's centres are not exposed, so
    // label each vector with the index of its nearest "anchor" (every 250th vector).
    for (const auto& v : data) cluster.push_back(nearest_anchor(v));
    // One insert at a time: a parallel build's graph depends on thread timing, and the recall
    // floors below must hold for one fixed graph, not for whichever one a busy machine makes.
    HnswIndex::seed_levels(11);  // and seeded levels, so the graph is one
    for (const auto& v : data) index.insert(v);
  }

  std::size_t nearest_anchor(const std::vector<float>& v) const {
    std::size_t best = 0;
    float best_d = std::numeric_limits<float>::max();
    for (std::size_t a = 0; a < 40; ++a) {
      const float d = distance(v, data[a * 250 % data.size()], Metric::Euclidean);
      if (d < best_d) {
        best_d = d;
        best = a;
      }
    }
    return best;
  }
};

Corpus& corpus() {
  static Corpus c;
  return c;
}

std::vector<Slot> brute_force(const Corpus& c, const std::vector<float>& q, const std::vector<bool>& ok) {
  std::vector<std::pair<float, Slot>> all;
  for (std::size_t i = 0; i < c.n; ++i) {
    if (ok[i]) all.emplace_back(distance(q, c.data[i], Metric::Euclidean), static_cast<Slot>(i));
  }
  std::sort(all.begin(), all.end());
  std::vector<Slot> out;
  for (std::size_t i = 0; i < std::min(kK, all.size()); ++i) out.push_back(all[i].second);
  return out;
}

enum class Where { Near, Far };

// Accepts `count` slots: those of the query's own anchor group first (Near) or of the farthest
// groups first (Far), then by slot order.
std::vector<bool> acceptance(const Corpus& c, const std::vector<float>& q, std::size_t count, Where where) {
  const std::size_t own = c.nearest_anchor(q);
  std::vector<std::pair<float, std::size_t>> groups;
  for (std::size_t a = 0; a < 40; ++a) {
    groups.emplace_back(distance(c.data[own * 250 % c.n], c.data[a * 250 % c.n], Metric::Euclidean), a);
  }
  std::sort(groups.begin(), groups.end());
  if (where == Where::Far) std::reverse(groups.begin(), groups.end());
  std::vector<bool> ok(c.n, false);
  std::size_t taken = 0;
  for (const auto& [d, g] : groups) {
    for (std::size_t i = 0; i < c.n && taken < count; ++i) {
      if (c.cluster[i] == g && !ok[i]) {
        ok[i] = true;
        ++taken;
      }
    }
  }
  return ok;
}

TEST(HnswAccepting, CollectsKAcceptedNeighboursAtEverySelectivity) {
  Corpus& c = corpus();
  const std::size_t n = c.n;
  struct Case {
    const char* name;
    std::size_t accepted;
  };
  const std::vector<Case> cases = {
      {"none", 0}, {"k-1", kK - 1}, {"k", kK}, {"0.1%", n / 1000}, {"1%", n / 100}, {"10%", n / 10}, {"all", n},
  };
  for (const Case& cs : cases) {
    for (Where where : {Where::Near, Where::Far}) {
      std::size_t hits = 0;
      std::size_t wanted = 0;
      for (const auto& q : c.queries) {
        const std::vector<bool> ok = acceptance(c, q, cs.accepted, where);
        const auto found = c.index.search_accepting(q, kK, 64, [&](Slot s) { return ok[s]; }, kUnlimited);
        const std::vector<Slot> truth = brute_force(c, q, ok);
        if (truth.size() < kK) {
          // Too few accepted slots: the walk says so and the caller scans.
          EXPECT_FALSE(found.has_value()) << cs.name;
          continue;
        }
        ASSERT_TRUE(found.has_value()) << cs.name;
        ASSERT_EQ(found->size(), kK) << cs.name;
        for (std::size_t i = 0; i < found->size(); ++i) {
          EXPECT_TRUE(ok[(*found)[i].slot]) << cs.name;
          if (i > 0) {
            EXPECT_LE((*found)[i - 1].distance, (*found)[i].distance);
          }
        }
        const std::set<Slot> expected(truth.begin(), truth.end());
        for (const Candidate& f : *found) hits += expected.count(f.slot);
        wanted += truth.size();
      }
      if (wanted > 0) {
        const double recall = static_cast<double>(hits) / static_cast<double>(wanted);
        EXPECT_GE(recall, 0.9) << cs.name << (where == Where::Near ? " near" : " far");
      }
    }
  }
}

TEST(HnswAccepting, GivesUpOnceTheBudgetIsSpent) {
  Corpus& c = corpus();
  const auto& q = c.queries[0];
  // A test that accepts nothing near the query: a small budget ends the walk early.
  const std::vector<bool> ok = acceptance(c, q, c.n / 100, Where::Far);
  EXPECT_FALSE(c.index.search_accepting(q, kK, 64, [&](Slot s) { return ok[s]; }, 50).has_value());
  EXPECT_TRUE(c.index.search_accepting(q, kK, 64, [&](Slot s) { return ok[s]; }, kUnlimited).has_value());
}

TEST(HnswAccepting, DeletedSlotsRouteButAreNeverReturned) {
  // A fresh index: deletions would change the shared corpus.
  const std::size_t n = small_scale() ? 2000 : 6000;
  auto data = clustered_vectors(n + 20, kDim, 20, 41, 6.0f, 1.0f);
  const std::vector<std::vector<float>> queries(data.begin() + static_cast<std::ptrdiff_t>(n), data.end());
  data.resize(n);
  HnswIndex index(kDim, 16, 100, Metric::Euclidean);
  index.batch_insert(data);
  // Delete 90% of the slots: the plain beam would be filled with tombstones.
  std::vector<bool> live(n, false);
  for (std::size_t i = 0; i < n; ++i) {
    if (i % 10 == 0) {
      live[i] = true;
    } else {
      index.mark_deleted(static_cast<Slot>(i));
    }
  }
  std::size_t hits = 0;
  for (const auto& q : queries) {
    std::vector<std::pair<float, Slot>> all;
    for (std::size_t i = 0; i < n; i += 10) all.emplace_back(distance(q, data[i], Metric::Euclidean), static_cast<Slot>(i));
    std::sort(all.begin(), all.end());
    std::set<Slot> truth;
    for (std::size_t i = 0; i < kK; ++i) truth.insert(all[i].second);
    const auto found = index.search_graph(q, kK, 20);
    ASSERT_EQ(found.size(), kK);
    for (const Candidate& f : found) {
      EXPECT_TRUE(live[f.slot]);
      hits += truth.count(f.slot);
    }
  }
  EXPECT_GE(static_cast<double>(hits) / static_cast<double>(kK * queries.size()), 0.9);
  // Fewer live records than k: every one of them comes back.
  for (std::size_t i = 0; i < n; i += 10) {
    if (i > 30) index.mark_deleted(static_cast<Slot>(i));
  }
  EXPECT_EQ(index.search_graph(queries[0], kK, 20).size(), 4u);
}

}  // namespace
}  // namespace quarn
