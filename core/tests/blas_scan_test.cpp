// The batched exhaustive scan picks candidates from block products (BLAS when the build has it,
// a plain loop otherwise) and must end in exactly the per-query scan's answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "distance/blas_scan.h"
#include "hnsw/hnsw.h"

namespace quarn {
namespace {

const Metric kMetrics[] = {Metric::Cosine, Metric::Euclidean, Metric::DotProduct};

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof(float)) == 0; }

// Rows around `offset` in every component: Euclidean scores cancel almost all their digits, so a
// block product's score can be far off the exact kernel's and the candidate bound must hold.
std::vector<std::vector<float>> rows_near(std::size_t n, std::size_t dim, float offset, float spread,
                                          std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(-spread, spread);
  std::vector<std::vector<float>> out(n, std::vector<float>(dim));
  for (auto& v : out) {
    for (float& x : v) x = offset + dist(rng);
  }
  return out;
}

struct Flat {
  std::vector<float> matrix;
  std::vector<float> norms;
  explicit Flat(const std::vector<std::vector<float>>& rows) {
    for (const auto& r : rows) {
      matrix.insert(matrix.end(), r.begin(), r.end());
      norms.push_back(vector_norm(r));
    }
  }
};

// Every row's exact score, sorted by (distance, row): the unique answer when the k+1 nearest
// distances are distinct.
std::vector<ScoredRow> full_ranking(const Flat& flat, std::span<const float> query, std::size_t dim, Metric metric) {
  const std::size_t n = flat.norms.size();
  const auto scores = brute_force_scores(query, flat.matrix.data(), flat.norms.data(), dim, n, metric);
  std::vector<ScoredRow> all;
  for (std::size_t i = 0; i < n; ++i) all.push_back({static_cast<std::uint32_t>(i), scores[i]});
  std::sort(all.begin(), all.end(), [](const ScoredRow& a, const ScoredRow& b) {
    return a.distance < b.distance || (a.distance == b.distance && a.row < b.row);
  });
  return all;
}

TEST(BlasScan, CandidatesFromBlockProductsGiveTheExactRankingAcrossBlocksAndTiles) {
  // 4100 rows: four full blocks of 1024 and a partial one; 260 queries: a full tile of 256 and 4
  // more.
  const std::size_t dim = 24;
  const std::size_t n = 4100;
  struct Case {
    const char* name;
    float offset;
    float spread;
    bool mostly_distinct;  // far from the origin, exact scores collide in their last bits
  };
  const Case cases[] = {
      {"uniform", 0.0f, 1.0f, true}, {"far from the origin", 300.0f, 0.5f, false}, {"tiny", 0.0f, 1e-3f, true}};
  for (const Case& c : cases) {
    const auto rows = rows_near(n, dim, c.offset, c.spread, 11);
    const Flat flat(rows);
    const auto queries = rows_near(260, dim, c.offset, c.spread, 12);
    const std::vector<std::span<const float>> spans(queries.begin(), queries.end());
    for (Metric metric : kMetrics) {
      std::vector<std::vector<ScoredRow>> rankings;
      for (const auto& q : queries) rankings.push_back(full_ranking(flat, q, dim, metric));
      for (std::size_t k : {std::size_t{1}, std::size_t{10}, std::size_t{1024}}) {
        const auto found = nearest_rows_many(spans, flat.matrix.data(), flat.norms.data(), dim, n, metric, k);
        ASSERT_EQ(found.size(), queries.size());
        std::size_t answered = 0;
        for (std::size_t q = 0; q < queries.size(); ++q) {
          const std::string where = std::string(c.name) + " " + std::string(metric_name(metric)) +
                                    " k=" + std::to_string(k) + " q=" + std::to_string(q);
          const auto& all = rankings[q];
          bool distinct = true;
          for (std::size_t i = 0; i < k; ++i) distinct = distinct && all[i].distance < all[i + 1].distance;
          ASSERT_EQ(found[q].has_value(), distinct) << where;
          if (!distinct) continue;
          ++answered;
          ASSERT_EQ(found[q]->size(), k) << where;
          for (std::size_t i = 0; i < k; ++i) {
            ASSERT_EQ((*found[q])[i].row, all[i].row) << where << " rank " << i;
            ASSERT_TRUE(same_bits((*found[q])[i].distance, all[i].distance)) << where << " rank " << i;
          }
        }
        // Random data near the origin rarely ties; the fast path must answer most queries itself.
        if (c.mostly_distinct) {
          EXPECT_GT(answered, queries.size() / 2) << c.name << " " << metric_name(metric) << " k=" << k;
        }
      }
    }
  }
}

TEST(BlasScan, QueriesItCannotSettleAreLeftToTheRowScan) {
  const std::size_t dim = 8;
  auto rows = rows_near(50, dim, 0.0f, 1.0f, 3);
  rows[7] = rows[30];  // a duplicate: equal distances to any query
  rows[9].assign(dim, 0.0f);
  const Flat flat(rows);
  std::vector<std::vector<float>> queries = {rows[30], std::vector<float>(dim, 0.0f), rows[4]};
  const std::vector<std::span<const float>> spans(queries.begin(), queries.end());
  struct Case {
    Metric metric;
    std::size_t k;
    bool settled[3];  // per query
  };
  const Case cases[] = {
      {Metric::Euclidean, 1, {false, true, true}},   // the duplicate ties at the top
      {Metric::Euclidean, 0, {false, false, false}},  // k out of range
      {Metric::Euclidean, 50, {false, false, false}},
      {Metric::Euclidean, 51, {false, false, false}},
      {Metric::Cosine, 3, {false, false, true}},  // a zero query scores every row 1
  };
  for (const Case& c : cases) {
    const auto found = nearest_rows_many(spans, flat.matrix.data(), flat.norms.data(), dim, 50, c.metric, c.k);
    for (std::size_t q = 0; q < queries.size(); ++q) {
      EXPECT_EQ(found[q].has_value(), c.settled[q]) << metric_name(c.metric) << " k=" << c.k << " q=" << q;
    }
  }
}

TEST(BlasScan, IndexBatchEqualsSearchPerQueryWithTiesZerosAndPartialBlocks) {
  const std::size_t dim = 16;
  const std::size_t n = 4100;
  auto rows = rows_near(n, dim, 0.0f, 1.0f, 5);
  for (std::size_t i = 5; i < n; i += 97) rows[i] = rows[i - 4];
  rows[2].assign(dim, 0.0f);
  rows[n - 1].assign(dim, 0.0f);
  auto queries = rows_near(67, dim, 0.0f, 1.0f, 6);
  queries[0] = rows[1];  // ties with its duplicate at the top
  queries[1].assign(dim, 0.0f);
  queries[2] = rows[4100 - 200];
  const std::vector<std::span<const float>> spans(queries.begin(), queries.end());
  for (Metric metric : kMetrics) {
    HnswIndex index(dim, 8, 16, metric);
    index.batch_insert(rows);
    ASSERT_TRUE(index.batch_scan_applies());
    for (std::size_t k : {std::size_t{1}, std::size_t{10}, std::size_t{2000}, n + 5}) {
      const auto batched = index.search_many_exhaustive(spans, k, 10);
      ASSERT_EQ(batched.size(), queries.size());
      for (std::size_t q = 0; q < queries.size(); ++q) {
        const auto single = index.search(queries[q], k, 10);
        const std::string where =
            std::string(metric_name(metric)) + " k=" + std::to_string(k) + " q=" + std::to_string(q);
        ASSERT_EQ(batched[q].size(), single.size()) << where;
        for (std::size_t i = 0; i < single.size(); ++i) {
          ASSERT_EQ(batched[q][i].slot, single[i].slot) << where << " rank " << i;
          ASSERT_TRUE(same_bits(batched[q][i].distance, single[i].distance)) << where << " rank " << i;
        }
      }
    }
  }
}

}  // namespace
}  // namespace quarn
