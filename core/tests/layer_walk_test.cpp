// Walks score neighbours two at a time where the distance allows it. Scoring in pairs must not
// change anything a walk decides: the same results, the same count of scored nodes, and the
// same point at which a budget stops it.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

#include "hnsw_test_util.h"
#include "hnsw/hnsw.h"
#include "hnsw/layer_walk.h"

namespace quarn {
namespace {

using testing_util::random_vectors;

constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max();

// One slot at a time, counting every distance it computes.
struct SingleScorer {
  const HnswIndex& index;
  std::span<const float> query;
  float norm;
  std::size_t* computed;
  float operator()(Slot s) const {
    ++*computed;
    return index.query_distance(query, norm, s);
  }
};

// The same distances, two at a time through the index's side-by-side kernel.
struct PairScorer : SingleScorer {
  std::size_t* pairs;
  void pair(Slot a, Slot b, float* out) const {
    *computed += 2;
    ++*pairs;
    index.query_distance_pair(query, norm, a, b, out);
  }
};

bool same_bits(const std::vector<Candidate>& a, const std::vector<Candidate>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].slot != b[i].slot || std::memcmp(&a[i].distance, &b[i].distance, sizeof(float)) != 0) return false;
  }
  return true;
}

class LayerWalk : public testing::TestWithParam<Metric> {};

TEST_P(LayerWalk, PairedScoringDecidesExactlyAsSingleScoring) {
  const std::size_t dim = 24;
  const auto data = random_vectors(1500, dim, 3);
  const auto queries = random_vectors(30, dim, 4);
  HnswIndex index(dim, 8, 60, GetParam());
  HnswIndex::seed_levels(11);
  for (const auto& v : data) index.insert(v);
  auto none = [](Slot) {};
  auto every_third = [](Slot s) { return s % 3 == 0; };
  std::size_t paired_calls = 0;
  for (const auto& q : queries) {
    const float norm = vector_norm(q);
    for (const std::size_t ef : {1u, 10u, 57u}) {
      std::size_t single_computed = 0;
      std::size_t pair_computed = 0;
      const SingleScorer single{index, q, norm, &single_computed};
      const PairScorer paired{{index, q, norm, &pair_computed}, &paired_calls};

      // Greedy descent on an upper layer, then the beam on layer 0.
      const Slot top = index.entry_point();
      const Slot down_single = detail::greedy_walk(index, single, top, 1);
      const Slot down_paired = detail::greedy_walk(index, paired, top, 1);
      EXPECT_EQ(down_single, down_paired);
      EXPECT_EQ(single_computed, pair_computed);

      const auto a = detail::beam_search_accepting(index, single, none, every_third, down_single, ef, 0, kUnlimited);
      const auto b = detail::beam_search_accepting(index, paired, none, every_third, down_single, ef, 0, kUnlimited);
      EXPECT_TRUE(same_bits(a.results, b.results)) << "ef " << ef;
      EXPECT_EQ(a.scored, b.scored) << "ef " << ef;
      EXPECT_EQ(single_computed, pair_computed) << "ef " << ef;

      // A budget stops both at the same node: exactly `scored` is enough, one fewer is not.
      for (const std::size_t budget : {a.scored, a.scored - 1, a.scored / 2}) {
        const auto sa = detail::beam_search_accepting(index, single, none, every_third, down_single, ef, 0, budget);
        const auto sb = detail::beam_search_accepting(index, paired, none, every_third, down_single, ef, 0, budget);
        EXPECT_EQ(sa.over_budget, budget < a.scored) << "budget " << budget;
        EXPECT_EQ(sa.over_budget, sb.over_budget) << "budget " << budget;
        EXPECT_EQ(sa.scored, sb.scored) << "budget " << budget;
        EXPECT_LE(sb.scored, budget + 1) << "budget " << budget;
        EXPECT_TRUE(same_bits(sa.results, sb.results)) << "budget " << budget;
      }
    }
  }
  // The pair path really ran.
  EXPECT_GT(paired_calls, 0u);
}

INSTANTIATE_TEST_SUITE_P(Metrics, LayerWalk,
                         testing::Values(Metric::Euclidean, Metric::Cosine, Metric::DotProduct),
                         [](const auto& info) { return std::string(metric_name(info.param)); });

}  // namespace
}  // namespace quarn
