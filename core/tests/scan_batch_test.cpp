// The batched exhaustive scan must give exactly what one search per query gives: the same
// slots, the same float distances and the same order, ties included.
#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "database_test_util.h"
#include "hnsw/hnsw.h"

namespace quarn::testing {
namespace {

// Random rows with every fifth row repeated (equal distances) and, when asked, zero rows.
std::vector<std::vector<float>> rows_with_ties(std::size_t n, std::size_t dim, bool zeros, std::uint32_t seed) {
  std::vector<std::vector<float>> rows = random_vectors(n, dim, seed);
  for (std::size_t i = 5; i < n; i += 5) rows[i] = rows[i - 3];
  if (zeros && n > 2) {
    rows[1].assign(dim, 0.0f);
    rows[n - 1].assign(dim, 0.0f);
  }
  return rows;
}

std::vector<std::vector<float>> queries_for(const std::vector<std::vector<float>>& rows, std::size_t count,
                                            bool zeros, std::uint32_t seed) {
  std::vector<std::vector<float>> queries = random_vectors(count, rows[0].size(), seed);
  if (count > 2) queries[2] = rows[0];  // a stored vector: a distance of (nearly) zero
  if (count > 3 && rows.size() > 5) queries[3] = rows[2];  // equal to rows 2 and 5: a tie at the top
  if (zeros) queries[0].assign(rows[0].size(), 0.0f);
  return queries;
}

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof(float)) == 0; }

void expect_same(const std::vector<Candidate>& batched, const std::vector<Candidate>& single,
                 const std::string& where) {
  ASSERT_EQ(batched.size(), single.size()) << where;
  for (std::size_t i = 0; i < single.size(); ++i) {
    EXPECT_EQ(batched[i].slot, single[i].slot) << where << " rank " << i;
    EXPECT_TRUE(same_bits(batched[i].distance, single[i].distance)) << where << " rank " << i;
  }
}

// The scan as a plain selection over every row: nth_element, then sort, on (slot, distance) in
// slot order. Whatever shortcut the index takes must end in this very list, ties included.
std::vector<Candidate> reference_scan(const HnswIndex& index, std::span<const float> query, std::size_t k) {
  const std::size_t n = index.node_count();
  const auto scores =
      brute_force_scores(query, index.store().data(), index.norms().data(), index.dim(), n, index.metric());
  std::vector<Candidate> pairs;
  for (std::size_t i = 0; i < n; ++i) pairs.push_back({static_cast<Slot>(i), scores[i]});
  auto nearer = [](const Candidate& a, const Candidate& b) { return a.distance < b.distance; };
  if (k < pairs.size()) {
    std::nth_element(pairs.begin(), pairs.begin() + static_cast<std::ptrdiff_t>(k), pairs.end(), nearer);
    pairs.resize(k);
  }
  std::sort(pairs.begin(), pairs.end(), nearer);
  return pairs;
}

const Metric kMetrics[] = {Metric::Cosine, Metric::Euclidean, Metric::DotProduct};

TEST(ScanBatch, ScoresOfManyQueriesEqualOneQueryScoresAcrossBlockBoundaries) {
  // 64 floats per row puts 512 rows in a block, so 1300 rows end in a partial third block.
  const std::size_t dim = 64;
  const std::size_t n = small_scale() ? 600 : 1300;
  const auto rows = rows_with_ties(n, dim, true, 7);
  std::vector<float> matrix;
  std::vector<float> norms;
  for (const auto& r : rows) {
    matrix.insert(matrix.end(), r.begin(), r.end());
    norms.push_back(vector_norm(r));
  }
  const auto queries = queries_for(rows, 5, true, 8);
  const std::vector<std::span<const float>> spans(queries.begin(), queries.end());
  for (Metric metric : kMetrics) {
    const auto many = brute_force_scores_many(spans, matrix.data(), norms.data(), dim, n, metric);
    ASSERT_EQ(many.size(), queries.size());
    for (std::size_t q = 0; q < queries.size(); ++q) {
      const auto one = brute_force_scores(queries[q], matrix.data(), norms.data(), dim, n, metric);
      ASSERT_EQ(many[q].size(), n);
      for (std::size_t i = 0; i < n; ++i) {
        ASSERT_TRUE(same_bits(many[q][i], one[i])) << metric_name(metric) << " query " << q << " row " << i;
      }
    }
  }
}

TEST(ScanBatch, IndexBatchEqualsSearchPerQueryForEveryMetricSizeAndK) {
  const std::size_t dim = 64;
  const std::size_t big = small_scale() ? 530 : 1300;
  for (Metric metric : kMetrics) {
    for (bool zeros : {false, true}) {
      for (std::size_t n : {std::size_t{1}, std::size_t{37}, big}) {
        HnswIndex index(dim, 8, 16, metric);
        const auto rows = rows_with_ties(n, dim, zeros, static_cast<std::uint32_t>(n));
        for (const auto& r : rows) index.insert(r);
        ASSERT_TRUE(index.batch_scan_applies());
        for (std::size_t count : {std::size_t{1}, std::size_t{17}}) {
          const auto queries = queries_for(rows, count, zeros, 99);
          const std::vector<std::span<const float>> spans(queries.begin(), queries.end());
          for (std::size_t k : {std::size_t{0}, std::size_t{1}, std::size_t{10}, n, n + 3}) {
            const auto batched = index.search_many_exhaustive(spans, k, 50);
            ASSERT_EQ(batched.size(), count);
            for (std::size_t q = 0; q < count; ++q) {
              const std::string where = std::string(metric_name(metric)) + (zeros ? " zeros" : "") +
                                        " n=" + std::to_string(n) + " k=" + std::to_string(k) +
                                        " q=" + std::to_string(q);
              expect_same(batched[q], index.search(queries[q], k, 50), where);
              expect_same(batched[q], reference_scan(index, queries[q], k), where + " (reference)");
            }
          }
        }
      }
    }
  }
}

// An index over the given rows without graph links: enough for the scan, and instant to build
// at sizes where linking would dominate the test.
std::unique_ptr<HnswIndex> unlinked_index(const std::vector<std::vector<float>>& rows, Metric metric) {
  HnswIndex::Parts parts{rows[0].size(), metric, 8, 16, 0, 0, VectorStore(), {}, GraphLinks(8), {}};
  std::vector<float> floats;
  for (const auto& r : rows) {
    floats.insert(floats.end(), r.begin(), r.end());
    parts.norms.push_back(vector_norm(r));
    parts.links.append(0);
  }
  parts.store = VectorStore(std::move(floats));
  return std::make_unique<HnswIndex>(std::move(parts));
}

TEST(ScanBatch, LargeStoreScoredInPiecesMatchesWholeStoreSelection) {
  // 2,000,100 floats: large enough for one query's scan to be shared among workers.
  const std::size_t dim = 100;
  const std::size_t n = small_scale() ? 3001 : 20'001;
  const auto rows = rows_with_ties(n, dim, true, 21);
  const auto queries = queries_for(rows, 5, true, 22);
  const std::vector<std::span<const float>> spans(queries.begin(), queries.end());
  for (Metric metric : kMetrics) {
    const auto index = unlinked_index(rows, metric);
    ASSERT_TRUE(index->batch_scan_applies());
    for (std::size_t k : {std::size_t{0}, std::size_t{10}, n + 1}) {
      const auto batched = index->search_many_exhaustive(spans, k, 50);
      for (std::size_t q = 0; q < queries.size(); ++q) {
        const std::string where =
            std::string(metric_name(metric)) + " k=" + std::to_string(k) + " q=" + std::to_string(q);
        const auto single = index->search(queries[q], k, 50);
        expect_same(single, reference_scan(*index, queries[q], k), where);
        expect_same(batched[q], single, where + " (batched)");
      }
    }
  }
}

struct Filled {
  TempDir dir;
  std::unique_ptr<Database> db;
  std::vector<std::vector<float>> rows;

  Filled(std::size_t n, std::size_t dim, Metric metric, bool zeros) {
    db = make_db(dir, dim, metric, 8, 32);
    rows = rows_with_ties(n, dim, zeros, 3);
    std::vector<Item> items;
    for (std::size_t i = 0; i < n; ++i) items.push_back(Item{"r" + std::to_string(i), rows[i], std::nullopt});
    EXPECT_TRUE(db->add_many(std::move(items)).ok());
  }

  void expect_batch_matches_single(const std::vector<std::vector<float>>& queries, const SearchParams& params,
                                   const std::string& where) const {
    auto batched = db->search_many(queries, params);
    ASSERT_TRUE(batched.ok()) << where;
    ASSERT_EQ(batched.value().size(), queries.size()) << where;
    for (std::size_t q = 0; q < queries.size(); ++q) {
      auto single = db->search(queries[q], params);
      ASSERT_TRUE(single.ok()) << where;
      const auto& a = batched.value()[q];
      const auto& b = single.value();
      ASSERT_EQ(a.size(), b.size()) << where << " query " << q;
      for (std::size_t i = 0; i < b.size(); ++i) {
        EXPECT_EQ(a[i].id, b[i].id) << where << " query " << q << " rank " << i;
        EXPECT_TRUE(same_bits(a[i].distance, b[i].distance)) << where << " query " << q << " rank " << i;
      }
    }
  }
};

TEST(ScanBatch, DatabaseSearchManyEqualsSearchForEveryQueryCount) {
  const std::size_t n = small_scale() ? 300 : 1100;
  for (Metric metric : kMetrics) {
    for (bool zeros : {false, true}) {
      Filled f(n, 32, metric, zeros);
      // 1, a tile and one more, and enough queries for several full tiles per worker.
      for (std::size_t count : {std::size_t{1}, std::size_t{17}, std::size_t{70}}) {
        const auto queries = queries_for(f.rows, count, zeros, 5);
        for (std::size_t k : {std::size_t{0}, std::size_t{10}, n + 1}) {
          f.expect_batch_matches_single(queries, top(k),
                                        std::string(metric_name(metric)) + " count " + std::to_string(count) +
                                            " k " + std::to_string(k));
        }
        SearchParams cut = top(20);
        cut.max_distance = 0.5f;
        f.expect_batch_matches_single(queries, cut, "max_distance");
      }
    }
  }
}

TEST(ScanBatch, DeletedRecordsStillSkippedByPerQueryScan) {
  Filled f(200, 16, Metric::Euclidean, false);
  ASSERT_TRUE(f.db->remove("r0").ok());
  ASSERT_TRUE(f.db->remove("r57").ok());
  const std::vector<std::vector<float>> queries = {f.rows[0], f.rows[57], f.rows[3]};
  f.expect_batch_matches_single(queries, top(300), "after deletes");
  auto batched = f.db->search_many(queries, top(300));
  ASSERT_TRUE(batched.ok());
  for (const auto& list : batched.value()) {
    EXPECT_EQ(list.size(), 198u);
    for (const auto& r : list) EXPECT_TRUE(r.id != "r0" && r.id != "r57");
  }
}

TEST(ScanBatch, IndexWithDeletionsFallsBackToOneSearchPerQuery) {
  HnswIndex index(8, 8, 16, Metric::DotProduct);
  const auto rows = random_vectors(40, 8, 11);
  for (const auto& r : rows) index.insert(r);
  ASSERT_TRUE(index.mark_deleted(4));
  EXPECT_FALSE(index.batch_scan_applies());
  const std::vector<std::span<const float>> spans = {rows[4], rows[9]};
  const auto batched = index.search_many_exhaustive(spans, 50, 50);
  ASSERT_EQ(batched.size(), 2u);
  for (std::size_t q = 0; q < spans.size(); ++q) {
    EXPECT_EQ(batched[q].size(), 39u);
    expect_same(batched[q], index.search(spans[q], 50, 50), "deleted q=" + std::to_string(q));
  }
}

}  // namespace
}  // namespace quarn::testing
