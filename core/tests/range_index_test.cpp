// Range filters answered from the metadata index's numeric columns, checked against the record
// test (Filter::matches) and, through the Database, against brute-force search.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "database_test_util.h"
#include "filter/filter_index.h"
#include "filter/metadata_index.h"
#include "quarn/filter.h"

namespace quarn::testing {
namespace {

using Meta = std::optional<Json>;
using Op = Filter::Op;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr Op kRangeOps[] = {Op::Gt, Op::Gte, Op::Lt, Op::Lte};

Filter range(Op op, std::string field, double t) { return Filter::range(op, std::move(field), t); }

std::optional<SlotSet> resolved(const Filter& f, const MetadataIndex& index) {
  std::optional<Candidates> c = resolve_from_index(f, index);
  if (!c) return std::nullopt;
  return c->get();
}

SlotSet brute_force(const Filter& f, const std::vector<Meta>& metadata) {
  std::vector<std::uint32_t> out;
  for (Slot s = 0; s < metadata.size(); ++s) {
    if (f.matches(metadata[s])) out.push_back(s);
  }
  return SlotSet::from_sorted(std::move(out));
}

// Values whose conversion to double is the hard part, with answers worked out by hand.
TEST(RangeIndex, RoundingSignedZeroInfinityAndNanTable) {
  std::vector<Meta> metadata = {
      J(R"({"x":9007199254740993})"),    // 0: 2^53 + 1, rounds to 2^53
      J(R"({"x":9007199254740992.0})"),  // 1
      J(R"({"x":-0.0})"),                // 2
      J(R"({"x":0})"),                   // 3
      J(R"({"x":true})"),                // 4: not a number
      J(R"({"x":"5"})"),                 // 5: not a number
      J(R"({"x":18446744073709551615})"),  // 6: rounds up to 2^64
      J(R"({"x":-9223372036854775808})"),  // 7
      Json::object(),                    // 8: NaN, set below
      J(R"({"y":1})"),                   // 9: no x
      J(R"({"x":2.5})"),                 // 10
      J(R"({"x":null})"),                // 11
      J(R"({"x":1e308})"),               // 12
      J(R"({"x":-1e-300})"),             // 13
      J("[1]"),                          // 14
      std::nullopt,                      // 15
  };
  (*metadata[8])["x"] = std::nan("");
  MetadataIndex index;
  for (Slot s = 0; s < metadata.size(); ++s) index.index(s, metadata[s]);

  const double nan = std::nan("");
  const SlotSet numbers = {0, 1, 2, 3, 6, 7, 10, 12, 13};
  struct Row {
    const char* name;
    Filter filter;
    SlotSet expected;
  };
  const std::vector<Row> rows = {
      {"gte 2^53 takes 2^53+1", range(Op::Gte, "x", 9007199254740992.0), {0, 1, 6, 12}},
      {"gt 2^53 drops 2^53+1", range(Op::Gt, "x", 9007199254740992.0), {6, 12}},
      {"lte 0 takes -0", range(Op::Lte, "x", 0.0), {2, 3, 7, 13}},
      {"lt 0 drops -0", range(Op::Lt, "x", 0.0), {7, 13}},
      {"gte -0 takes 0", range(Op::Gte, "x", -0.0), {0, 1, 2, 3, 6, 10, 12}},
      {"gt -0 drops 0", range(Op::Gt, "x", -0.0), {0, 1, 6, 10, 12}},
      {"gte u64 max", range(Op::Gte, "x", 1.8446744073709552e19), {6, 12}},
      {"lt -9.2e18", range(Op::Lt, "x", -9.2e18), {7}},
      {"gt -inf: every number", range(Op::Gt, "x", -kInf), numbers},
      {"lte inf: every number", range(Op::Lte, "x", kInf), numbers},
      {"gt inf: none", range(Op::Gt, "x", kInf), {}},
      {"nan gte: none", range(Op::Gte, "x", nan), {}},
      {"nan lt: none", range(Op::Lt, "x", nan), {}},
      {"other field", range(Op::Gte, "y", 1.0), {9}},
      {"missing field", range(Op::Lt, "z", 1.0), {}},
      {"between", Filter::all_of({range(Op::Gt, "x", 0.0), range(Op::Lt, "x", 3.0)}), {10}},
      {"one point", Filter::all_of({range(Op::Gte, "x", 2.5), range(Op::Lte, "x", 2.5)}), {10}},
      {"empty point", Filter::all_of({range(Op::Gt, "x", 2.5), range(Op::Lte, "x", 2.5)}), {}},
      {"crossed", Filter::all_of({range(Op::Gt, "x", 3.0), range(Op::Lt, "x", 1.0)}), {}},
      {"nan inside a between", Filter::all_of({range(Op::Gt, "x", 0.0), range(Op::Lt, "x", nan)}), {}},
      {"four bounds, tightest win",
       Filter::all_of({range(Op::Gte, "x", -1.0), range(Op::Lt, "x", 1e308), range(Op::Gte, "x", 0.0),
                       range(Op::Lte, "x", 1e308)}),
       {0, 1, 2, 3, 6, 10}},
      {"same bound closed then open", Filter::all_of({range(Op::Gte, "x", 2.5), range(Op::Gt, "x", 2.5)}), {0, 1, 6, 12}},
      {"two fields", Filter::all_of({range(Op::Gte, "y", 0.0), range(Op::Lt, "x", 1.0)}), {}},
      {"or of two tails", Filter::any_of({range(Op::Lt, "x", -1e-301), range(Op::Gt, "x", 1e300)}), {7, 12, 13}},
      {"or with eq", Filter::any_of({range(Op::Lt, "x", -1e-301), Filter::eq("x", Json(true))}), {4, 7, 13}},
      {"and with eq", Filter::all_of({range(Op::Lte, "x", 0.0), Filter::eq("x", J("0"))}), {3}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(brute_force(row.filter, metadata), row.expected) << row.name << " (record test)";
    EXPECT_EQ(resolved(row.filter, index), row.expected) << row.name;
    EXPECT_TRUE(row.filter.index_answers_exactly()) << row.name;
  }
}

enum class Order { Random, Ascending, Descending };

// Records of every kind of value; field "a" repeats a few numbers, "b" holds mostly distinct
// ones, so that its column spans many blocks that inserts split and removals merge.
class RangeIndexRandom : public ::testing::TestWithParam<std::pair<std::size_t, Order>> {
 protected:
  Json value(std::size_t i, int spread) {
    static const std::vector<Json> others = {Json(true), Json("1"), Json(nullptr), Json(std::nan("")), J("[1]"),
                                             J("18446744073709551615"), J("-9223372036854775808"),
                                             J("9007199254740993"), J("9007199254740992.0"), J("-0.0"), J("0")};
    const Order order = GetParam().second;
    if (order != Order::Random) return Json((order == Order::Ascending ? 0.25 : -0.25) * static_cast<double>(i));
    if (rng_() % 3 == 0) return others[rng_() % others.size()];
    const std::int64_t n = static_cast<std::int64_t>(rng_() % (20U * spread + 1)) - 10 * spread;
    // Tenths, many of them equal to an integer as doubles.
    return rng_() % 2 == 0 ? Json(n / 10) : Json(static_cast<double>(n) / 10.0);
  }
  void put(Slot s, bool present) {
    index_.remove(s, metadata_[s]);
    metadata_[s] = std::nullopt;
    if (present) {
      metadata_[s] = Json::object();
      if (rng_() % 4 != 0) (*metadata_[s])["a"] = value(s, 50);
      if (rng_() % 4 != 0) (*metadata_[s])["b"] = value(s, 100000);
    }
    index_.index(s, metadata_[s]);
  }
  // Every range op at thresholds on values held, just beside them and outside them all, and
  // betweens of two of them.
  void check(const char* stage) {
    for (const char* field : {"a", "b"}) {
      std::vector<double> ts = {-kInf, kInf, std::nan(""), -0.0, 1e300, 9007199254740992.0, 1.8446744073709552e19};
      for (int i = 0; i < 40; ++i) {
        const Meta& m = metadata_[rng_() % metadata_.size()];
        if (!m || !m->contains(field) || !m->at(field).is_number()) continue;
        const double v = m->at(field).get<double>();
        ts.insert(ts.end(), {v, std::nextafter(v, kInf), std::nextafter(v, -kInf)});
      }
      for (double t : ts) {
        for (Op op : kRangeOps) {
          const Filter f = range(op, field, t);
          ASSERT_EQ(resolved(f, index_), brute_force(f, metadata_)) << stage << " " << field << " " << int(op) << " " << t;
        }
        const Filter between = Filter::all_of(
            {range(kRangeOps[rng_() % 4], field, t), range(kRangeOps[rng_() % 4], field, ts[rng_() % ts.size()])});
        ASSERT_EQ(resolved(between, index_), brute_force(between, metadata_)) << stage << " between";
      }
    }
  }

  std::mt19937 rng_{17};
  std::vector<Meta> metadata_;
  MetadataIndex index_;
};

TEST_P(RangeIndexRandom, AgreesWithTheRecordTestThroughInsertsUpdatesAndRemoves) {
  const std::size_t n = GetParam().first;
  metadata_.resize(n);
  for (Slot s = 0; s < n; ++s) put(s, rng_() % 20 != 0);
  check("inserted");
  for (std::size_t i = 0; i < n / 2; ++i) put(static_cast<Slot>(rng_() % n), true);
  check("updated");
  for (Slot s = 0; s < n; ++s) put(s, rng_() % 10 == 0);
  check("mostly removed");
  for (Slot s = 0; s < n; s += 2) put(s, true);
  check("refilled");
  for (Slot s = 0; s < n; ++s) put(s, false);
  EXPECT_TRUE(index_.numeric_fields().empty());
}

// 300 records fit a few blocks; 6,000 make many, and sets wide enough for the bitmap form.
INSTANTIATE_TEST_SUITE_P(Sizes, RangeIndexRandom,
                         ::testing::Values(std::pair{300, Order::Random}, std::pair{6000, Order::Random},
                                           std::pair{2000, Order::Ascending}, std::pair{2000, Order::Descending}));

TEST(RangeIndex, RemovingValuesNeverIndexedChangesNothing) {
  MetadataIndex index;
  index.index(0, J(R"({"x":1.5,"y":2})"));
  index.remove(0, J(R"({"x":2.5})"));   // other value, same slot
  index.remove(1, J(R"({"x":1.5})"));   // same value, other slot
  index.remove(0, J(R"({"x":true})"));  // not a number
  EXPECT_EQ(index.numbers_in("x", NumericRange{}), SlotSet{0});
  EXPECT_EQ(index.numbers_in("y", NumericRange{}), SlotSet{0});
  // -0.0 withdraws the 0.0 it equals.
  index.index(2, J(R"({"z":0.0})"));
  index.remove(2, J(R"({"z":-0.0})"));
  EXPECT_EQ(index.numeric_fields().count("z"), 0U);
}

// ---- through the Database ----

constexpr std::size_t kDim = 1000;
// dim x count = 10,000,000: searches over more than kExact matches walk the graph.
constexpr std::size_t kCount = 10000;
constexpr std::size_t kExact = 2'000'000 / kDim;
constexpr std::size_t kClusters = 10;
constexpr std::size_t kSpreadDims = 16;
constexpr std::size_t kK = 10;

Json price(std::mt19937& rng, std::size_t i) {
  if (i % 50 == 0) return Json("n/a");
  if (i % 51 == 0) return Json(true);
  if (i % 7 == 0) return Json(static_cast<std::int64_t>(rng() % 1000));
  return Json(static_cast<double>(rng() % 1'000'000) / 1000.0);
}

TEST(DatabaseRange, SearchCountAndIdsAgreeWithBruteForce) {
  if (small_scale()) GTEST_SKIP() << "needs 10,000,000 stored floats";
  std::mt19937 rng(23);
  std::normal_distribution<float> normal;
  std::uniform_real_distribution<float> uni(-2.0f, 2.0f);
  std::vector<std::vector<float>> centres(kClusters, std::vector<float>(kDim));
  for (auto& c : centres) {
    for (float& x : c) x = uni(rng);
  }
  TempDir dir;
  std::unique_ptr<Database> db = make_db(dir, kDim, Metric::Euclidean, 8, 40);
  // Levels from a fixed seed as well: with them the graph, and so the recall below, is one.
  HnswIndex::seed_levels(5);
  std::vector<std::vector<float>> vectors;
  std::vector<Meta> metadata;
  for (std::size_t i = 0; i < kCount; ++i) {
    const std::size_t c = i % kClusters;
    std::vector<float> v(kDim);
    for (std::size_t d = 0; d < kDim; ++d) v[d] = centres[c][d] + (d < kSpreadDims ? normal(rng) : 0.0f);
    Json m = Json::object();
    m["c"] = static_cast<std::int64_t>(c);
    if (i % 53 != 0) m["price"] = price(rng, i);
    vectors.push_back(v);
    metadata.emplace_back(m);
    // One record at a time, on this thread, so that the seeded levels give the same graph.
    ASSERT_TRUE(db->add("r" + std::to_string(i), std::move(v), std::move(m)).ok());
  }

  struct Row {
    const char* name;
    Filter filter;
  };
  const std::vector<Row> rows = {
      {"none", range(Op::Gt, "price", 5000.0)},
      {"1% between", Filter::all_of({range(Op::Gte, "price", 100.0), range(Op::Lt, "price", 110.0)})},
      {"0.5% tail", range(Op::Lte, "price", 5.0)},
      {"or of tails", Filter::any_of({range(Op::Lt, "price", 3.0), range(Op::Gt, "price", 997.0)})},
      {"and with eq", Filter::all_of({range(Op::Lt, "price", 150.0), Filter::eq("c", J("3"))})},
      {"nan", range(Op::Gte, "price", std::nan(""))},
      {"half", range(Op::Gte, "price", 500.0)},
      {"30%", range(Op::Lt, "price", 300.0)},
      {"or with eq", Filter::any_of({range(Op::Gt, "price", 800.0), Filter::eq("c", J("2"))})},
      {"wide between", Filter::all_of({range(Op::Gte, "price", 200.0), range(Op::Lte, "price", 800.0)})},
  };

  auto check = [&](const char* stage) {
    std::size_t graph_rows = 0;
    for (const Row& row : rows) {
      const Filter& f = row.filter;
      std::vector<std::string> expected_ids;
      for (std::size_t i = 0; i < kCount; ++i) {
        if (f.matches(metadata[i])) expected_ids.push_back("r" + std::to_string(i));
      }
      const std::size_t matches = expected_ids.size();
      EXPECT_EQ(db->count(&f), matches) << stage << " " << row.name;
      EXPECT_EQ(db->ids_matching(&f, 0, std::nullopt), expected_ids) << stage << " " << row.name;
      const std::size_t offset = matches / 3;
      const std::vector<std::string> page(expected_ids.begin() + static_cast<std::ptrdiff_t>(offset),
                                          expected_ids.begin() + static_cast<std::ptrdiff_t>(std::min(matches, offset + 5)));
      EXPECT_EQ(db->ids_matching(&f, offset, 5), page) << stage << " " << row.name;

      std::size_t hits = 0;
      std::size_t wanted = 0;
      for (std::size_t q = 0; q < 4; ++q) {
        std::vector<float> query(kDim);
        const std::size_t own = (q * 3) % kClusters;
        for (std::size_t d = 0; d < kDim; ++d) query[d] = centres[own][d] + (d < kSpreadDims ? normal(rng) : 0.0f);
        std::vector<std::pair<double, std::string>> truth;
        for (std::size_t i = 0; i < kCount; ++i) {
          if (f.matches(metadata[i])) truth.emplace_back(l2sq(vectors[i], query), "r" + std::to_string(i));
        }
        std::sort(truth.begin(), truth.end());
        truth.resize(std::min(kK, truth.size()));
        auto found = db->search(query, top(kK, &f));
        ASSERT_TRUE(found.ok());
        ASSERT_EQ(found->size(), truth.size()) << stage << " " << row.name;
        std::set<std::string> expected;
        for (std::size_t i = 0; i < truth.size(); ++i) {
          EXPECT_TRUE(f.matches((*found)[i].metadata)) << stage << " " << row.name;
          if (matches <= kExact) {
            EXPECT_EQ((*found)[i].id, truth[i].second) << stage << " " << row.name << " rank " << i;
          }
          expected.insert(truth[i].second);
        }
        for (const SearchResult& r : *found) hits += expected.count(r.id);
        wanted += truth.size();
      }
      if (matches > kExact) {
        ++graph_rows;
        EXPECT_GE(static_cast<double>(hits) / static_cast<double>(wanted), 0.9) << stage << " " << row.name;
      }
    }
    EXPECT_EQ(graph_rows, 4U) << stage << ": the graph path is not exercised";
    EXPECT_EQ(db->check_invariants(), std::nullopt) << stage;
  };
  ASSERT_FALSE(db->stats().uses_brute_force);
  check("added");

  // New prices for a fifth of the records, some of them no longer numbers.
  for (std::size_t i = 0; i < kCount; i += 5) {
    Json m = *metadata[i];
    m["price"] = price(rng, i + 1);
    metadata[i] = m;
    ASSERT_TRUE(db->update("r" + std::to_string(i), std::nullopt, std::move(m)).ok());
  }
  check("updated");
}

}  // namespace
}  // namespace quarn::testing
