#include <cmath>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "json_test_util.h"

#include "filter/filter_index.h"
#include "filter/metadata_index.h"
#include "filter/slot_set.h"
#include "quarn/filter.h"

namespace quarn {
namespace {

using Meta = std::optional<Json>;


Meta meta(std::string_view text) { return parse_json(text); }

// The index's answer as a set of its own, or nothing.
std::optional<SlotSet> resolved(const Filter& f, const MetadataIndex& index) {
  std::optional<Candidates> c = resolve_from_index(f, index);
  if (!c) return std::nullopt;
  return c->get();
}

Filter gt(std::string field, double t) { return Filter::range(Filter::Op::Gt, std::move(field), t); }
Filter gte(std::string field, double t) { return Filter::range(Filter::Op::Gte, std::move(field), t); }
Filter lt(std::string field, double t) { return Filter::range(Filter::Op::Lt, std::move(field), t); }
Filter lte(std::string field, double t) { return Filter::range(Filter::Op::Lte, std::move(field), t); }

TEST(FilterMatches, IntegerAndFloatOperandsNeverEqualButRangesAcceptBoth) {
  EXPECT_FALSE(Filter::eq("n", parse_json("1")).matches(meta(R"({"n":1.0})")));
  EXPECT_FALSE(Filter::eq("n", parse_json("1.0")).matches(meta(R"({"n":1})")));
  EXPECT_TRUE(Filter::eq("n", parse_json("1")).matches(meta(R"({"n":1})")));
  EXPECT_TRUE(Filter::eq("n", parse_json("1.0")).matches(meta(R"({"n":1.0})")));
  EXPECT_TRUE(gte("n", 1.0).matches(meta(R"({"n":1})")));
  EXPECT_TRUE(gte("n", 1.0).matches(meta(R"({"n":1.0})")));
  EXPECT_TRUE(Filter::eq("z", Json(0.0)).matches(meta(R"({"z":-0.0})")));
}

TEST(FilterMatches, BoolsAreNotIntegers) {
  EXPECT_TRUE(Filter::eq("flag", Json(true)).matches(meta(R"({"flag":true})")));
  EXPECT_FALSE(Filter::eq("flag", Json(true)).matches(meta(R"({"flag":1})")));
  EXPECT_FALSE(Filter::eq("flag", parse_json("1")).matches(meta(R"({"flag":true})")));
  EXPECT_FALSE(gt("x", 0.5).matches(meta(R"({"x":true})")));
}

TEST(FilterMatches, NotEqualAcceptsMissingFieldButNeverMissingMetadata) {
  const Filter ne = Filter::ne("x", Json("a"));
  EXPECT_TRUE(ne.matches(meta(R"({"y":1})")));
  EXPECT_TRUE(ne.matches(meta(R"({"x":"b"})")));
  EXPECT_FALSE(ne.matches(meta(R"({"x":"a"})")));
  EXPECT_FALSE(ne.matches(std::nullopt));
  EXPECT_FALSE(ne.matches(meta(R"(["x"])")));
  EXPECT_FALSE(ne.matches(meta("null")));
}

TEST(FilterMatches, InWithEmptyListMatchesNothing) {
  const Filter none = Filter::in("x", {});
  EXPECT_FALSE(none.matches(meta(R"({"x":1})")));
  EXPECT_FALSE(none.matches(meta(R"({})")));
  const Filter some = Filter::in("x", {Json("a"), parse_json("2")});
  EXPECT_TRUE(some.matches(meta(R"({"x":2})")));
  EXPECT_TRUE(some.matches(meta(R"({"x":"a"})")));
  EXPECT_FALSE(some.matches(meta(R"({"x":2.0})")));
  EXPECT_FALSE(some.matches(meta(R"({"y":2})")));
}

TEST(FilterMatches, RangesNeverCoerceStringsBoolsOrNulls) {
  for (const char* text : {R"({"x":"5"})", R"({"x":true})", R"({"x":null})", R"({"x":[5]})", R"({"x":{"v":5}})",
                           R"({})"}) {
    for (const Filter& f : {gt("x", 1.0), gte("x", 1.0), lt("x", 10.0), lte("x", 10.0)}) {
      EXPECT_FALSE(f.matches(meta(text))) << text;
    }
  }
  EXPECT_TRUE(gt("x", 1.0).matches(meta(R"({"x":5})")));
  EXPECT_TRUE(lt("x", 0.0).matches(meta(R"({"x":-5})")));
  EXPECT_TRUE(lte("x", 2.5).matches(meta(R"({"x":2.5})")));
  EXPECT_FALSE(lt("x", 2.5).matches(meta(R"({"x":2.5})")));
}

TEST(FilterMatches, NanThresholdMatchesNothing) {
  const double nan = std::nan("");
  for (const Filter& f : {gt("x", nan), gte("x", nan), lt("x", nan), lte("x", nan)}) {
    EXPECT_FALSE(f.matches(meta(R"({"x":1})")));
    EXPECT_FALSE(f.matches(meta(R"({"x":-1.5})")));
  }
  EXPECT_TRUE(gt("x", -INFINITY).matches(meta(R"({"x":-1e308})")));
}

TEST(FilterMatches, LargeIntegersCompareAfterRoundingToDouble) {
  // 2^53 + 1 rounds to 2^53.
  EXPECT_TRUE(lte("x", 9007199254740992.0).matches(meta(R"({"x":9007199254740993})")));
  EXPECT_TRUE(gte("x", 1.8446744073709552e19).matches(meta(R"({"x":18446744073709551615})")));
  EXPECT_TRUE(lt("x", -9.2e18).matches(meta(R"({"x":-9223372036854775808})")));
}

TEST(FilterMatches, AndTestsEveryChildAndEmptyAndAcceptsAnyObject) {
  const Filter both = Filter::all_of({gte("price", 10.0), lt("price", 20.0), Filter::eq("color", Json("red"))});
  EXPECT_TRUE(both.matches(meta(R"({"price":15,"color":"red"})")));
  EXPECT_FALSE(both.matches(meta(R"({"price":25,"color":"red"})")));
  EXPECT_FALSE(both.matches(meta(R"({"price":15,"color":"blue"})")));

  const Filter empty = Filter::all_of({});
  EXPECT_TRUE(empty.matches(meta("{}")));
  EXPECT_TRUE(empty.matches(meta(R"({"a":1})")));
  EXPECT_FALSE(empty.matches(std::nullopt));
  EXPECT_FALSE(empty.matches(meta("[]")));
}

TEST(FilterMatches, FieldNamesAreLiteral) {
  EXPECT_TRUE(Filter::eq("a.b", parse_json("1")).matches(meta(R"({"a.b":1})")));
  EXPECT_FALSE(Filter::eq("a.b", parse_json("1")).matches(meta(R"({"a":{"b":1}})")));
  EXPECT_TRUE(Filter::eq("$x", parse_json("1")).matches(meta(R"({"$x":1})")));
}

// One table for the operators beyond plain comparisons: missing fields, nulls, mixed kinds and
// nested objects (compared whole; field names are never paths).
TEST(FilterMatches, NinExistsOrAndTable) {
  const Json one = parse_json("1");
  const Filter red = Filter::eq("c", Json("red"));
  const Filter big = gt("n", 5.0);
  struct Row {
    const char* name;
    Filter filter;
    std::vector<std::pair<const char*, bool>> records;
  };
  const std::vector<Row> rows = {
      {"nin: missing field and other kinds pass",
       Filter::nin("n", {one, Json("a")}),
       {{R"({"n":1})", false}, {R"({"n":"a"})", false}, {R"({"n":1.0})", true}, {R"({"n":true})", true},
        {R"({"n":null})", true}, {R"({})", true}, {R"({"n":{"v":1}})", true}}},
      {"nin of nothing passes every object",
       Filter::nin("n", {}),
       {{R"({"n":1})", true}, {R"({})", true}, {"[1]", false}}},
      {"nin with null",
       Filter::nin("n", {Json(nullptr)}),
       {{R"({"n":null})", false}, {R"({})", true}, {R"({"n":0})", true}}},
      {"exists true: present with any value, null too",
       Filter::exists("n", true),
       {{R"({"n":null})", true}, {R"({"n":0})", true}, {R"({"n":{}})", true}, {R"({"m":1})", false},
        {R"({"o":{"n":1}})", false}, {"[]", false}}},
      {"exists false: absent",
       Filter::exists("n", false),
       {{R"({"n":null})", false}, {R"({"m":1})", true}, {R"({})", true}, {"null", false}}},
      {"or: some child",
       Filter::any_of({red, big}),
       {{R"({"c":"red"})", true}, {R"({"n":7})", true}, {R"({"c":"blue","n":2})", false}, {R"({})", false}}},
      {"or of nothing matches nothing",
       Filter::any_of({}),
       {{R"({"c":"red"})", false}, {R"({})", false}}},
      {"and inside or inside and",
       Filter::all_of({Filter::any_of({Filter::all_of({red, big}), Filter::exists("x", false)}),
                       Filter::ne("c", Json("green"))}),
       {{R"({"c":"red","n":9,"x":1})", true}, {R"({"c":"red","n":1,"x":1})", false},
        {R"({"c":"blue"})", true}, {R"({"c":"green"})", false}, {R"({"c":"blue","x":null})", false}}},
      {"eq with a nested object compares it whole",
       Filter::eq("o", parse_json(R"({"a":1,"b":[2]})")),
       {{R"({"o":{"b":[2],"a":1}})", true}, {R"({"o":{"a":1}})", false}, {R"({"o.a":1})", false}}},
  };
  for (const Row& row : rows) {
    for (const auto& [text, expected] : row.records) {
      EXPECT_EQ(row.filter.matches(meta(text)), expected) << row.name << ": " << text;
    }
    // No filter matches a record without metadata.
    EXPECT_FALSE(row.filter.matches(std::nullopt)) << row.name;
  }
}

TEST(FilterMatches, NullOperandMatchesNullField) {
  EXPECT_TRUE(Filter::eq("x", Json(nullptr)).matches(meta(R"({"x":null})")));
  EXPECT_FALSE(Filter::eq("x", Json(nullptr)).matches(meta(R"({})")));
  EXPECT_TRUE(Filter::in("x", {Json("a"), Json(nullptr)}).matches(meta(R"({"x":null})")));
}

class FilterResolve : public ::testing::Test {
 protected:
  void add(std::string_view text) {
    metadata_.push_back(meta(text));
    index_.index(static_cast<Slot>(metadata_.size() - 1), metadata_.back());
  }
  // Slots whose metadata passes the record test.
  SlotSet brute_force(const Filter& f) const {
    SlotSet out;
    for (Slot s = 0; s < metadata_.size(); ++s) {
      if (f.matches(metadata_[s])) out.insert(s);
    }
    return out;
  }

  std::vector<Meta> metadata_;
  MetadataIndex index_;
};

TEST_F(FilterResolve, AndOfEqAndRangeIntersectsBoth) {
  add(R"({"a":1,"b":3})");
  add(R"({"a":1,"b":7})");
  add(R"({"a":2,"b":7})");
  add(R"({"a":1.0,"b":7})");
  add(R"({"a":1,"b":"7"})");
  auto set = resolved(Filter::all_of({Filter::eq("a", parse_json("1")), gt("b", 5.0)}), index_);
  ASSERT_TRUE(set.has_value());
  EXPECT_EQ(*set, SlotSet{1});

  EXPECT_EQ(resolved(Filter::all_of({gt("b", 5.0), lt("b", 9.0)}), index_), (SlotSet{1, 2, 3}));
  EXPECT_EQ(resolved(Filter::any_of({lt("b", 5.0), Filter::eq("a", parse_json("2"))}), index_), (SlotSet{0, 2}));
  // A child only the record test answers leaves the range set as the candidates.
  EXPECT_EQ(resolved(Filter::all_of({Filter::ne("a", parse_json("2")), gte("b", 7.0)}), index_), (SlotSet{1, 2, 3}));
  EXPECT_FALSE(resolved(Filter::ne("a", parse_json("1")), index_).has_value());
}

TEST_F(FilterResolve, EqAndInLookUpExactValues) {
  add(R"({"c":"red"})");
  add(R"({"c":"blue"})");
  add(R"({"c":"red","n":1})");
  add(R"({"n":true})");
  EXPECT_EQ(resolved(Filter::eq("c", Json("red")), index_), (SlotSet{0, 2}));
  EXPECT_EQ(resolved(Filter::eq("c", Json("green")), index_), SlotSet{});
  EXPECT_EQ(resolved(Filter::eq("nope", Json("red")), index_), SlotSet{});
  EXPECT_EQ(resolved(Filter::eq("n", Json(true)), index_), SlotSet{3});
  EXPECT_EQ(resolved(Filter::in("c", {Json("blue"), Json("red"), Json("x")}), index_), (SlotSet{0, 1, 2}));
  EXPECT_EQ(resolved(Filter::in("c", {}), index_), SlotSet{});
  EXPECT_EQ(resolved(Filter::all_of({Filter::eq("c", Json("red")), Filter::eq("n", parse_json("1"))}), index_),
            SlotSet{2});
}

TEST_F(FilterResolve, FiltersWithoutLeavesFallBackToTheRecordTest) {
  add(R"({"a":1})");
  add(R"({})");
  ASSERT_EQ(brute_force(Filter::all_of({})), (SlotSet{0, 1}));
  EXPECT_FALSE(resolved(Filter::all_of({}), index_).has_value());
  EXPECT_FALSE(resolved(Filter::all_of({Filter::all_of({})}), index_).has_value());
}

TEST_F(FilterResolve, NullOperandsFallBackToTheRecordTest) {
  add(R"({"x":null})");
  add(R"({"x":"a"})");
  ASSERT_EQ(brute_force(Filter::eq("x", Json(nullptr))), SlotSet{0});
  EXPECT_FALSE(resolved(Filter::eq("x", Json(nullptr)), index_).has_value());
  EXPECT_FALSE(resolved(Filter::in("x", {Json("a"), Json(nullptr)}), index_).has_value());
  // Inside an And the other children still narrow the set.
  auto set = resolved(Filter::all_of({Filter::eq("x", Json(nullptr)), Filter::in("x", {Json("a")})}), index_);
  EXPECT_EQ(set, SlotSet{1});
}

TEST_F(FilterResolve, ContainerOperandsFallBackToTheRecordTest) {
  add(R"({"x":[1,2]})");
  ASSERT_EQ(brute_force(Filter::eq("x", parse_json("[1,2]"))), SlotSet{0});
  EXPECT_FALSE(resolved(Filter::eq("x", parse_json("[1,2]")), index_).has_value());
}

Filter random_leaf(std::mt19937& rng) {
  const std::vector<Json> values = {Json(nullptr), Json(true), Json(false), parse_json("0"), parse_json("1"), parse_json("1.0"),
                                    parse_json("-1"), Json("a"), Json("b"), parse_json("2.5")};
  const std::string field(1, static_cast<char>('a' + rng() % 3));
  auto listed = [&] {
    std::vector<Json> out;
    for (unsigned n = rng() % 4; n > 0; --n) out.push_back(values[rng() % values.size()]);
    return out;
  };
  const std::vector<double> thresholds = {-2.0, -1.0, -0.5, -0.0, 0.0, 0.5, 1.0, 2.0, 2.5, 3.0,
                                          std::nan(""), INFINITY, -INFINITY};
  const double t = thresholds[rng() % thresholds.size()];
  switch (rng() % 9) {
    case 0:
      return Filter::eq(field, values[rng() % values.size()]);
    case 1:
      return Filter::in(field, listed());
    case 2:
      return Filter::ne(field, values[rng() % values.size()]);
    case 3:
      return gt(field, t);
    case 4:
      return Filter::nin(field, listed());
    case 5:
      return Filter::exists(field, rng() % 2 == 0);
    case 6:
      return gte(field, t);
    case 7:
      return lt(field, t);
    default:
      return lte(field, t);
  }
}

// And and Or nested up to four levels, leaves of every kind.
Filter random_filter(std::mt19937& rng, int depth) {
  if (depth > 3 || rng() % 3 != 0) return random_leaf(rng);
  std::vector<Filter> children;
  for (unsigned n = rng() % 4; n > 0; --n) children.push_back(random_filter(rng, depth + 1));
  return rng() % 2 == 0 ? Filter::all_of(std::move(children)) : Filter::any_of(std::move(children));
}

TEST(FilterExactness, OnlyScalarEqualityAndRangeLeavesAreAnsweredExactly) {
  auto gt5 = Filter::range(Filter::Op::Gt, "b", 5.0);
  auto lt_nan = Filter::range(Filter::Op::Lt, "b", std::nan(""));
  const std::vector<std::pair<Filter, bool>> cases = {
      {Filter::eq("a", parse_json("\"x\"")), true},
      {Filter::eq("a", parse_json("1.5")), true},
      {Filter::eq("a", parse_json("null")), false},
      {Filter::eq("a", parse_json("[1]")), false},
      {Filter::in("a", {parse_json("1"), parse_json("true")}), true},
      {Filter::in("a", {parse_json("1"), parse_json("{}")}), false},
      {Filter::in("a", {}), true},
      {Filter::ne("a", parse_json("1")), false},
      {gt5, true},
      {lt_nan, true},
      {Filter::all_of({}), false},
      {Filter::all_of({Filter::eq("a", parse_json("1")), Filter::in("b", {parse_json("2")})}), true},
      {Filter::all_of({Filter::eq("a", parse_json("1")), gt5}), true},
      {Filter::all_of({Filter::eq("a", parse_json("null")), gt5}), false},
      {Filter::all_of({gt5, Filter::range(Filter::Op::Lte, "b", 9.0)}), true},
      {Filter::any_of({}), true},
      {Filter::any_of({Filter::eq("a", parse_json("1")), Filter::in("b", {parse_json("\"x\"")})}), true},
      {Filter::any_of({Filter::eq("a", parse_json("1")), gt5}), true},
      {Filter::any_of({Filter::ne("a", parse_json("1")), gt5}), false},
      {Filter::any_of({Filter::all_of({Filter::eq("a", parse_json("1"))}), Filter::any_of({})}), true},
      {Filter::any_of({Filter::all_of({})}), false},
      {Filter::nin("a", {parse_json("1")}), false},
      {Filter::exists("a", true), false},
      {Filter::eq("a", parse_json("{}")), false},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(cases[i].first.index_answers_exactly(), cases[i].second) << i;
}

class FilterResolveRandom : public FilterResolve, public ::testing::WithParamInterface<int> {
 public:
  void check_against_brute_force(std::mt19937& rng, int filters) {
    for (int i = 0; i < filters; ++i) {
      const Filter f = random_filter(rng, 0);
      const SlotSet expected = brute_force(f);
      const std::optional<SlotSet> candidates = resolved(f, index_);
      if (!candidates) continue;
      for (Slot s : expected) ASSERT_TRUE(candidates->contains(s)) << "slot " << s << " filter #" << i;
      // A filter that says the index answers it exactly is searched without the record test.
      if (f.index_answers_exactly()) {
        ASSERT_EQ(*candidates, expected) << "exact filter #" << i;
      }
      // Candidates that then pass the record test are exactly the matches.
      SlotSet confirmed;
      for (Slot s : *candidates) {
        if (f.matches(metadata_[s])) confirmed.insert(s);
      }
      ASSERT_EQ(confirmed, expected) << "filter #" << i;
    }
  }
  void fill(std::mt19937& rng, int count) {
    const std::vector<std::string> values = {"null", "true", "false", "0", "1", "1.0", "-1", "\"a\"", "\"b\"",
                                             "2.5", "[1]", "{}", "-0.0", R"({"a":1})", "-0.5", "3"};
    for (int i = 0; i < count; ++i) {
      if (rng() % 10 == 0) {
        metadata_.push_back(std::nullopt);
        continue;
      }
      std::string text = "{";
      for (const char* field : {"a", "b", "c"}) {
        if (rng() % 3 == 0) continue;
        if (text.size() > 1) text += ",";
        text += std::string("\"") + field + "\":" + values[rng() % values.size()];
      }
      add(text + "}");
    }
  }
};

// 300 records keep every slot set a sorted list; 40,000 make the values bitmaps.
TEST_P(FilterResolveRandom, ResolvedSetNeverLosesAMatchingRecord) {
  std::mt19937 rng(3);
  fill(rng, GetParam());
  bool dense = false;
  for (const auto& [field, values] : index_.fields()) {
    for (const auto& [value, slots] : values) dense = dense || slots.dense();
  }
  ASSERT_EQ(dense, GetParam() > 1000);
  check_against_brute_force(rng, GetParam() > 1000 ? 400 : 3000);
}

INSTANTIATE_TEST_SUITE_P(Sizes, FilterResolveRandom, ::testing::Values(300, 40000));

TEST_F(FilterResolve, OrUnitesAndAndIntersectsTheIndexSets) {
  add(R"({"c":"red","n":1})");
  add(R"({"c":"blue","n":2})");
  add(R"({"c":"red","n":2})");
  add(R"({"c":"green"})");
  const Filter red = Filter::eq("c", Json("red"));
  const Filter two = Filter::eq("n", parse_json("2"));
  EXPECT_EQ(resolved(Filter::any_of({red, two}), index_), (SlotSet{0, 1, 2}));
  EXPECT_EQ(resolved(Filter::all_of({red, two}), index_), SlotSet{2});
  EXPECT_EQ(resolved(Filter::any_of({}), index_), SlotSet{});
  EXPECT_EQ(resolved(Filter::all_of({Filter::any_of({red, Filter::eq("c", Json("green"))}), Filter::exists("n", true)}),
                     index_),
            (SlotSet{0, 2, 3}));
  // One child the index cannot narrow leaves the whole Or to the record test.
  EXPECT_FALSE(resolved(Filter::any_of({red, Filter::exists("n", false)}), index_).has_value());
  EXPECT_FALSE(resolved(Filter::nin("c", {Json("red")}), index_).has_value());
}

TEST_F(FilterResolve, SingleEqualityBorrowsTheIndexSet) {
  add(R"({"c":"red"})");
  const std::optional<Candidates> c = resolve_from_index(Filter::eq("c", Json("red")), index_);
  ASSERT_TRUE(c.has_value());
  EXPECT_EQ(&c->get(), index_.find("c", Json("red")));
  const std::optional<Candidates> one = resolve_from_index(Filter::in("c", {Json("red")}), index_);
  EXPECT_EQ(&one->get(), index_.find("c", Json("red")));
}

}  // namespace
}  // namespace quarn
