#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include "database_test_util.h"

namespace quarn::testing {
namespace {

std::vector<std::string> result_ids(const std::vector<SearchResult>& results) {
  std::vector<std::string> out;
  for (const auto& r : results) out.push_back(r.id);
  return out;
}

TEST(DatabaseSearch, DefaultBeamWidthGrowsWithKAboveTwoHundred) {
  EXPECT_EQ(default_ef(0), 200u);
  EXPECT_EQ(default_ef(1), 200u);
  EXPECT_EQ(default_ef(10), 200u);
  EXPECT_EQ(default_ef(100), 200u);
  EXPECT_EQ(default_ef(101), 201u);
  EXPECT_EQ(default_ef(150), 272u);
  EXPECT_EQ(default_ef(1000), 1316u);
  EXPECT_EQ(default_ef(std::numeric_limits<std::size_t>::max()), std::numeric_limits<std::size_t>::max());
}

// Records i = 0..n-1 with metadata {"group": i % 3, "n": i}; record 7 has no metadata.
struct Corpus {
  TempDir dir;
  std::unique_ptr<Database> db;
  std::vector<std::vector<float>> vectors;

  Corpus(std::size_t n, std::size_t dim) {
    db = make_db(dir, dim);
    vectors = random_vectors(n, dim, 42);
    std::vector<Item> items;
    for (std::size_t i = 0; i < n; ++i) {
      std::optional<Json> meta;
      if (i != 7) meta = J(R"({"group":)" + std::to_string(i % 3) + R"(,"n":)" + std::to_string(i) + "}");
      items.push_back({"r" + std::to_string(i), vectors[i], meta});
    }
    EXPECT_TRUE(db->add_many(std::move(items)).ok());
  }

  // The k nearest records passing `keep`, by brute force.
  std::vector<std::string> nearest(const std::vector<float>& q, std::size_t k,
                                   const std::function<bool(std::size_t)>& keep) const {
    std::vector<std::pair<double, std::size_t>> scored;
    for (std::size_t i = 0; i < vectors.size(); ++i) {
      if (keep(i)) scored.push_back({l2sq(q, vectors[i]), i});
    }
    std::sort(scored.begin(), scored.end());
    std::vector<std::string> out;
    for (std::size_t j = 0; j < std::min(k, scored.size()); ++j) out.push_back("r" + std::to_string(scored[j].second));
    return out;
  }
};

std::vector<SearchResult> db_search(const Corpus& c, const std::vector<float>& q, std::size_t k, const Filter* f) {
  auto r = c.db->search(q, top(k, f));
  EXPECT_TRUE(r.ok());
  return r.ok() ? *r : std::vector<SearchResult>{};
}

TEST(DatabaseSearch, FilteredScanReturnsExactlyTheNearestMatchingRecords) {
  const std::size_t n = small_scale() ? 300 : 1000;
  const std::size_t dim = small_scale() ? 32 : 128;
  Corpus c(n, dim);
  const auto queries = random_vectors(5, dim, 7);

  Filter group1 = Filter::eq("group", J("1"));               // answered by the metadata index
  Filter n_range = Filter::range(Filter::Op::Lt, "n", 500);  // tested record by record
  Filter both = Filter::all_of({Filter::eq("group", J("2")), Filter::range(Filter::Op::Gte, "n", 100.0)});
  for (const auto& q : queries) {
    auto r1 = db_search(c, q, 10, &group1);
    EXPECT_EQ(result_ids(r1), c.nearest(q, 10, [](std::size_t i) { return i != 7 && i % 3 == 1; }));
    auto r2 = db_search(c, q, 10, &n_range);
    EXPECT_EQ(result_ids(r2), c.nearest(q, 10, [](std::size_t i) { return i != 7 && i < 500; }));
    auto r3 = db_search(c, q, 10, &both);
    EXPECT_EQ(result_ids(r3), c.nearest(q, 10, [](std::size_t i) { return i != 7 && i % 3 == 2 && i >= 100; }));
    for (const auto& r : r1) EXPECT_EQ(r.metadata->at("group"), J("1"));
  }
  // A k beyond the number of matches returns every match, sorted by distance.
  Filter few = Filter::range(Filter::Op::Lt, "n", 5);
  auto all = db_search(c, queries[0], 1000, &few);
  EXPECT_EQ(result_ids(all), c.nearest(queries[0], 1000, [](std::size_t i) { return i < 5; }));
  EXPECT_EQ(c.db->count(&few), 5u);
  Filter pair = Filter::all_of({Filter::eq("group", J("0")), Filter::range(Filter::Op::Lt, "n", 30)});
  EXPECT_EQ(c.db->count(&pair), 10u);
}

TEST(DatabaseSearch, MaxDistanceKeepsEqualDistancesAndNanKeepsNothing) {
  TempDir dir;
  auto db = make_db(dir, 2);
  ASSERT_TRUE(db->add("zero", {0, 0}, std::nullopt).ok());
  ASSERT_TRUE(db->add("one", {1, 0}, std::nullopt).ok());
  ASSERT_TRUE(db->add("two", {0, 2}, std::nullopt).ok());
  const std::vector<float> q{0, 0};
  auto with_bound = [&](float bound, const Filter* f = nullptr) {
    SearchParams p = top(10, f);
    p.max_distance = bound;
    return result_ids(*db->search(q, p));
  };
  // Euclidean distances are squared: 0, 1 and 4.
  EXPECT_EQ(with_bound(1.0f), (std::vector<std::string>{"zero", "one"}));
  EXPECT_EQ(with_bound(4.0f), (std::vector<std::string>{"zero", "one", "two"}));
  EXPECT_EQ(with_bound(3.9f), (std::vector<std::string>{"zero", "one"}));
  EXPECT_TRUE(with_bound(std::numeric_limits<float>::quiet_NaN()).empty());
  // The cut applies after the k limit and never brings in others.
  SearchParams p = top(1);
  p.max_distance = 100.0f;
  EXPECT_EQ(result_ids(*db->search(q, p)), (std::vector<std::string>{"zero"}));
  auto hits = db->search(q, top(3));
  ASSERT_EQ(hits->size(), 3u);
  EXPECT_FLOAT_EQ((*hits)[1].distance, 1.0f);
  EXPECT_FLOAT_EQ((*hits)[2].distance, 4.0f);
}

TEST(DatabaseSearch, DeletedRecordsAreNeverReturnedOrCounted) {
  TempDir dir;
  auto db = make_db(dir, 2);
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(db->add("r" + std::to_string(i), {static_cast<float>(i), 0}, J(R"({"tag":"x"})")).ok());
  }
  ASSERT_TRUE(*db->remove("r0"));
  ASSERT_TRUE(*db->remove("r3"));
  Filter tag = Filter::eq("tag", J(R"("x")"));
  Filter not_y = Filter::ne("tag", J(R"("y")"));
  EXPECT_EQ(db->count(nullptr), 4u);
  EXPECT_EQ(db->count(&tag), 4u);
  EXPECT_EQ(db->count(&not_y), 4u);
  for (const Filter* f : std::vector<const Filter*>{nullptr, &tag, &not_y}) {
    auto ids = result_ids(*db->search(std::vector<float>{0, 0}, top(10, f)));
    EXPECT_EQ(ids, (std::vector<std::string>{"r1", "r2", "r4", "r5"}));
  }
  for (int i = 0; i < 6; ++i) (void)db->remove("r" + std::to_string(i));
  EXPECT_TRUE(db->search(std::vector<float>{0, 0}, top(10))->empty());
  EXPECT_TRUE(db->search(std::vector<float>{0, 0}, top(10, &tag))->empty());
  EXPECT_EQ(db->count(&not_y), 0u);
}

TEST(DatabaseSearch, RecordsWithoutMetadataNeverMatchAFilter) {
  TempDir dir;
  auto db = make_db(dir, 1);
  ASSERT_TRUE(db->add("bare", {0}, std::nullopt).ok());
  ASSERT_TRUE(db->add("tagged", {1}, J(R"({"x":"b"})")).ok());
  Filter ne = Filter::ne("x", J(R"("a")"));
  Filter no_leaves = Filter::all_of({});
  EXPECT_EQ(result_ids(*db->search(std::vector<float>{0}, top(10, &ne))), (std::vector<std::string>{"tagged"}));
  EXPECT_EQ(db->count(&ne), 1u);
  // A filter without conditions accepts every record with metadata, through search and count.
  EXPECT_EQ(result_ids(*db->search(std::vector<float>{0}, top(10, &no_leaves))),
            (std::vector<std::string>{"tagged"}));
  EXPECT_EQ(db->count(&no_leaves), 1u);
  // A null operand is tested record by record, not answered with an empty set by the index.
  ASSERT_TRUE(db->add("null", {2}, J(R"({"x":null})")).ok());
  Filter is_null = Filter::eq("x", Json());
  EXPECT_EQ(db->count(&is_null), 1u);
  Filter in_null = Filter::in("x", {Json(), J(R"("b")")});
  EXPECT_EQ(db->count(&in_null), 2u);
}

TEST(DatabaseSearch, EmptyResultsForEmptyDatabaseZeroKAndUnmatchedFilter) {
  TempDir dir;
  auto db = make_db(dir, 2);
  Filter nothing = Filter::eq("tag", J(R"("none")"));
  EXPECT_TRUE(db->search(std::vector<float>{0, 0}, top(10))->empty());
  EXPECT_TRUE(db->search(std::vector<float>{0, 0}, top(10, &nothing))->empty());
  EXPECT_EQ(db->count(&nothing), 0u);
  ASSERT_TRUE(db->add("a", {0, 0}, J(R"({"tag":"x"})")).ok());
  Filter tag = Filter::eq("tag", J(R"("x")"));
  EXPECT_TRUE(db->search(std::vector<float>{0, 0}, top(0))->empty());
  EXPECT_TRUE(db->search(std::vector<float>{0, 0}, top(0, &tag))->empty());
  EXPECT_TRUE(db->search(std::vector<float>{0, 0}, top(10, &nothing))->empty());
  auto many = db->search_many({{0, 0}, {1, 1}}, top(5, &nothing));
  ASSERT_EQ(many->size(), 2u);
  EXPECT_TRUE((*many)[0].empty());
  EXPECT_TRUE((*many)[1].empty());
}

TEST(DatabaseSearch, HugeKAndBeamAreClampedToTheLiveRecords) {
  // A k or beam far beyond the collection used to reserve memory for it (or kill the process
  // from inside the worker pool); now every live record comes back once.
  TempDir dir;
  auto db = make_db(dir, 2);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(db->add("r" + std::to_string(i), {float(i), 0}, J(R"({"tag":"x"})")).ok());
  ASSERT_TRUE(*db->remove("r4"));
  Filter tag = Filter::eq("tag", J(R"("x")"));
  const std::size_t huge = std::size_t{1} << 40;
  for (const Filter* f : std::vector<const Filter*>{nullptr, &tag}) {
    SearchParams p = top(huge, f);
    p.ef_search = huge;
    auto one = db->search(std::vector<float>{0, 0}, p);
    ASSERT_TRUE(one.ok());
    EXPECT_EQ(result_ids(*one), (std::vector<std::string>{"r0", "r1", "r2", "r3"}));
    auto many = db->search_many({{0, 0}, {3, 0}}, p);
    ASSERT_TRUE(many.ok());
    ASSERT_EQ(many->size(), 2u);
    EXPECT_EQ(result_ids((*many)[1]), (std::vector<std::string>{"r3", "r2", "r1", "r0"}));
  }
}

TEST(DatabaseSearch, WrongQueryLengthIsRejected) {
  TempDir dir;
  auto db = make_db(dir, 3);
  ASSERT_TRUE(db->add("a", {0, 0, 0}, std::nullopt).ok());
  auto r = db->search(std::vector<float>{0, 0}, top(10));
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().text(), "dimension mismatch: expected 3, got 2");
}

TEST(DatabaseSearch, SearchManyAnswersInQueryOrderAndChecksEveryQueryFirst) {
  const std::size_t dim = 16;
  Corpus c(200, dim);
  const auto queries = random_vectors(20, dim, 99);
  Filter group0 = Filter::eq("group", J("0"));
  for (const Filter* f : std::vector<const Filter*>{nullptr, &group0}) {
    auto many = c.db->search_many(queries, top(5, f));
    ASSERT_TRUE(many.ok());
    ASSERT_EQ(many->size(), queries.size());
    for (std::size_t i = 0; i < queries.size(); ++i) {
      EXPECT_EQ(result_ids((*many)[i]), result_ids(*c.db->search(queries[i], top(5, f))));
    }
  }
  EXPECT_TRUE(c.db->search_many({}, top(5))->empty());
  auto bad = c.db->search_many({queries[0], std::vector<float>(dim + 1), std::vector<float>(2)}, top(5));
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.error().text(), "dimension mismatch: expected 16, got 17");
}

// dim x live = 10,000,000 exactly: every search walks the graph.
struct GraphCorpus {
  static constexpr std::size_t kDim = 5000;
  static constexpr std::size_t kCount = 2000;
  TempDir dir;
  std::unique_ptr<Database> db;
  GraphCorpus() {
    db = make_db(dir, kDim, Metric::Euclidean, 8, 40);
    auto vectors = random_vectors(kCount, kDim, 5);
    std::vector<Item> items;
    for (std::size_t i = 0; i < kCount; ++i) {
      items.push_back({"g" + std::to_string(i), std::move(vectors[i]), J(R"({"odd":)" + std::string(i % 2 ? "true" : "false") + "}")});
    }
    EXPECT_TRUE(db->add_many(std::move(items)).ok());
  }
};

TEST(DatabaseSearch, GraphSearchWidensTheBeamForFiltersAndReranksExactlyWhenQuantized) {
  if (small_scale()) GTEST_SKIP() << "needs 10,000,000 stored floats";
  GraphCorpus g;
  EXPECT_FALSE(g.db->stats().uses_brute_force);
  const auto queries = random_vectors(3, GraphCorpus::kDim, 11);
  {
    // The graph path with a k and beam far beyond the collection: clamped, not reserved.
    SearchParams huge = top(std::size_t{1} << 40);
    huge.ef_search = std::size_t{1} << 40;
    EXPECT_EQ(g.db->search(queries[0], huge)->size(), GraphCorpus::kCount);
    auto many = g.db->search_many({queries[0], queries[1]}, huge);
    ASSERT_TRUE(many.ok());
    EXPECT_EQ((*many)[1].size(), GraphCorpus::kCount);
  }
  Filter odd = Filter::eq("odd", J("true"));
  Filter any = Filter::ne("odd", J("null"));
  for (bool quantized : {false, true}) {
    if (quantized) g.db->enable_quantized_search();
    for (const auto& q : queries) {
      SearchParams p = top(10);
      p.ef_search = 5;
      // Beam max(5, 10) without a filter and max(5, 40) with one: both fill all ten places.
      EXPECT_EQ(g.db->search(q, p)->size(), 10u);
      p.filter = &any;
      EXPECT_EQ(g.db->search(q, p)->size(), 10u);
      p.filter = &odd;
      auto hits = *g.db->search(q, p);
      ASSERT_FALSE(hits.empty());
      for (std::size_t i = 0; i < hits.size(); ++i) {
        EXPECT_EQ(hits[i].metadata->at("odd"), J("true"));
        // Distances are exact even when the walk compared codes.
        auto stored = g.db->get(hits[i].id)->first;
        EXPECT_NEAR(hits[i].distance, l2sq(q, stored), 1e-3 * (1.0 + hits[i].distance));
        if (i > 0) {
          EXPECT_LE(hits[i - 1].distance, hits[i].distance);
        }
      }
    }
  }
}

}  // namespace
}  // namespace quarn::testing
