// Re-choosing a full list that the diversity rule chose, with one new candidate, must give what
// sorting the whole pool and applying the rule gives; the index marks such lists, and a marked
// list must really be ascending and diverse.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "distance/distance.h"
#include "hnsw/hnsw.h"
#include "hnsw/neighbor_select.h"

namespace quarn {
namespace {

// Points on a small integer grid: many exact ties in distance, and many pairs the rule prunes.
std::vector<std::vector<float>> grid_points(std::size_t n, std::size_t dim, int side, std::mt19937& rng) {
  std::uniform_int_distribution<int> coord(0, side);
  std::vector<std::vector<float>> out(n, std::vector<float>(dim));
  for (auto& p : out) {
    for (float& x : p) x = static_cast<float>(coord(rng));
  }
  return out;
}

float l2(const std::vector<float>& a, const std::vector<float>& b) {
  float s = 0.0f;
  for (std::size_t i = 0; i < a.size(); ++i) s += (a[i] - b[i]) * (a[i] - b[i]);
  return s;
}

std::vector<Slot> full_rule(std::vector<Candidate> pool, std::size_t limit,
                            const std::vector<std::vector<float>>& pts) {
  std::vector<Slot> kept;
  detail::sort_by_distance(pool);
  detail::select_diverse(pool, limit, [&](Slot a, Slot b) { return l2(pts[a], pts[b]); }, kept);
  return kept;
}

// A distance that offers two(a, b0, b1): the rule then tests two kept neighbours per step.
struct TwoAtATime {
  const std::vector<std::vector<float>>& pts;
  float operator()(Slot a, Slot b) const { return l2(pts[a], pts[b]); }
  void two(Slot a, Slot b0, Slot b1, float* out) const {
    out[0] = l2(pts[a], pts[b0]);
    out[1] = l2(pts[a], pts[b1]);
  }
};

TEST(SelectDiverse, TestingTwoKeptNeighboursPerStepKeepsTheSameList) {
  std::mt19937 rng(20261208);
  for (int round = 0; round < 2000; ++round) {
    const std::size_t dim = 2 + round % 3;
    const auto pts = grid_points(50, dim, 2 + round % 5, rng);
    std::vector<Candidate> pool;
    for (Slot s = 1; s < 50; ++s) pool.push_back({s, l2(pts[0], pts[s])});
    detail::sort_by_distance(pool);
    const std::size_t limit = 1 + static_cast<std::size_t>(round % 17);
    std::vector<Slot> one_by_one;
    std::vector<Slot> two_by_two;
    detail::select_diverse(pool, limit, [&](Slot a, Slot b) { return l2(pts[a], pts[b]); }, one_by_one);
    detail::select_diverse(pool, limit, TwoAtATime{pts}, two_by_two);
    ASSERT_EQ(one_by_one, two_by_two) << "round " << round;
  }
}

TEST(SelectDiverseAdding, GivesWhatTheFullRuleGivesOnAChosenList) {
  std::mt19937 rng(20261207);
  int compared = 0;
  int changed = 0;
  for (int round = 0; round < 3000; ++round) {
    const std::size_t dim = 2 + round % 3;
    const auto pts = grid_points(60, dim, 2 + round % 6, rng);
    const Slot owner = 0;
    const std::size_t limits[] = {1, 2, 3, 5, 8, 16, 32};
    const std::size_t limit = limits[round % 7];
    auto pair = [&](Slot a, Slot b) { return l2(pts[a], pts[b]); };

    // The list as an earlier choice left it, then with some entries removed.
    std::vector<Candidate> pool;
    for (Slot s = 1; s < 50; ++s) {
      if (rng() % 3 != 0) pool.push_back({s, l2(pts[owner], pts[s])});
    }
    std::vector<Slot> list = full_rule(pool, limit, pts);
    if (round % 4 == 1 && !list.empty()) list.erase(list.begin() + static_cast<std::ptrdiff_t>(rng() % list.size()));

    const Slot added = static_cast<Slot>(50 + rng() % 10);
    std::vector<Candidate> list_then_new;
    for (Slot s : list) list_then_new.push_back({s, l2(pts[owner], pts[s])});
    list_then_new.push_back({added, l2(pts[owner], pts[added])});

    std::vector<Slot> fast;
    ASSERT_TRUE(detail::select_diverse_adding(list_then_new, limit, pair, fast));
    const std::vector<Slot> expected = full_rule(list_then_new, limit, pts);
    ASSERT_EQ(fast, expected) << "round " << round;
    ++compared;
    if (expected != list) ++changed;
  }
  EXPECT_EQ(compared, 3000);
  EXPECT_GT(changed, 300);  // the new candidate often displaces or joins entries
}

TEST(SelectDiverseAdding, RefusesAListThatIsNotAscending) {
  struct Case {
    std::vector<float> list_distances;
    bool accepted;
  };
  const Case cases[] = {
      {{1.0f, 3.0f, 2.0f}, false},
      {{2.0f, 1.0f}, false},
      {{1.0f, 1.0f, 2.0f}, true},
      {{0.5f}, true},
      {{}, true},
  };
  for (const Case& c : cases) {
    std::vector<Candidate> list_then_new;
    for (std::size_t i = 0; i < c.list_distances.size(); ++i) {
      list_then_new.push_back({static_cast<Slot>(i + 1), c.list_distances[i]});
    }
    list_then_new.push_back({100, 1.5f});
    std::vector<Slot> kept;
    // Every pair far apart: nothing prunes anything.
    EXPECT_EQ(detail::select_diverse_adding(list_then_new, 8, [](Slot, Slot) { return 1e9f; }, kept), c.accepted);
  }
}

// Every layer-0 list the index marks as chosen by the rule is ascending by distance from its
// owner and keeps each entry only if no entry before it is nearer to it than the owner is:
// after sequential and parallel inserts, and after vector updates, which move distances.
TEST(HnswBuild, ListsMarkedAsChosenHoldTheRule) {
  std::mt19937 rng(7);
  const std::size_t dim = 3;
  HnswIndex index(dim, 4, 24, Metric::Euclidean);
  HnswIndex::seed_levels(11);
  for (const auto& p : grid_points(800, dim, 12, rng)) index.insert(p);
  index.batch_insert(grid_points(1200, dim, 12, rng));
  const auto moved = grid_points(200, dim, 12, rng);
  for (std::size_t i = 0; i < moved.size(); ++i) index.update_vector(static_cast<Slot>(i * 7), moved[i]);
  index.batch_insert(grid_points(600, dim, 12, rng));

  const RowDistanceFn dist = row_distance_fn(Metric::Euclidean);
  auto d = [&](Slot a, Slot b) {
    const auto va = index.vector(a);
    const auto vb = index.vector(b);
    return dist(va.data(), vector_norm(va), vb.data(), vector_norm(vb), dim);
  };
  const GraphLinks& links = index.links();
  std::size_t marked = 0;
  for (Slot s = 0; s < links.size(); ++s) {
    if (!links.chosen_by_rule(s)) continue;
    ++marked;
    const GraphLinks::List list = links.list(s, 0);
    for (std::size_t i = 0; i < list.size(); ++i) {
      const float to_owner = d(s, list[i]);
      if (i > 0) {
        ASSERT_LE(d(s, list[i - 1]), to_owner) << "slot " << s;
      }
      for (std::size_t j = 0; j < i; ++j) ASSERT_FALSE(d(list[i], list[j]) < to_owner) << "slot " << s;
    }
  }
  EXPECT_GT(marked, links.size() / 5);
}

}  // namespace
}  // namespace quarn
