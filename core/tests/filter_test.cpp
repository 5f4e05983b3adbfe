#include <cmath>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "json_test_util.h"

#include "quarn/filter.h"
#include "db/metadata_index.h"

namespace quarn {
namespace {

using Meta = std::optional<Json>;


Meta meta(std::string_view text) { return parse_json(text); }

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

TEST_F(FilterResolve, AndOfEqAndRangeGivesTheEqSet) {
  add(R"({"a":1,"b":3})");
  add(R"({"a":1,"b":7})");
  add(R"({"a":2,"b":7})");
  add(R"({"a":1.0,"b":7})");
  auto set = Filter::all_of({Filter::eq("a", parse_json("1")), gt("b", 5.0)}).resolve_from_index(index_);
  ASSERT_TRUE(set.has_value());
  EXPECT_EQ(*set, (SlotSet{0, 1}));  // includes b <= 5; the record test removes it later

  EXPECT_FALSE(Filter::all_of({gt("b", 5.0), lt("b", 9.0)}).resolve_from_index(index_).has_value());
  EXPECT_FALSE(Filter::ne("a", parse_json("1")).resolve_from_index(index_).has_value());
}

TEST_F(FilterResolve, EqAndInLookUpExactValues) {
  add(R"({"c":"red"})");
  add(R"({"c":"blue"})");
  add(R"({"c":"red","n":1})");
  add(R"({"n":true})");
  EXPECT_EQ(Filter::eq("c", Json("red")).resolve_from_index(index_), (SlotSet{0, 2}));
  EXPECT_EQ(Filter::eq("c", Json("green")).resolve_from_index(index_), SlotSet{});
  EXPECT_EQ(Filter::eq("nope", Json("red")).resolve_from_index(index_), SlotSet{});
  EXPECT_EQ(Filter::eq("n", Json(true)).resolve_from_index(index_), SlotSet{3});
  EXPECT_EQ(Filter::in("c", {Json("blue"), Json("red"), Json("x")}).resolve_from_index(index_), (SlotSet{0, 1, 2}));
  EXPECT_EQ(Filter::in("c", {}).resolve_from_index(index_), SlotSet{});
  EXPECT_EQ(Filter::all_of({Filter::eq("c", Json("red")), Filter::eq("n", parse_json("1"))}).resolve_from_index(index_),
            SlotSet{2});
}

TEST_F(FilterResolve, FiltersWithoutLeavesFallBackToTheRecordTest) {
  add(R"({"a":1})");
  add(R"({})");
  ASSERT_EQ(brute_force(Filter::all_of({})), (SlotSet{0, 1}));
  EXPECT_FALSE(Filter::all_of({}).resolve_from_index(index_).has_value());
  EXPECT_FALSE(Filter::all_of({Filter::all_of({})}).resolve_from_index(index_).has_value());
}

TEST_F(FilterResolve, NullOperandsFallBackToTheRecordTest) {
  add(R"({"x":null})");
  add(R"({"x":"a"})");
  ASSERT_EQ(brute_force(Filter::eq("x", Json(nullptr))), SlotSet{0});
  EXPECT_FALSE(Filter::eq("x", Json(nullptr)).resolve_from_index(index_).has_value());
  EXPECT_FALSE(Filter::in("x", {Json("a"), Json(nullptr)}).resolve_from_index(index_).has_value());
  // Inside an And the other children still narrow the set.
  auto set = Filter::all_of({Filter::eq("x", Json(nullptr)), Filter::in("x", {Json("a")})}).resolve_from_index(index_);
  EXPECT_EQ(set, SlotSet{1});
}

TEST_F(FilterResolve, ContainerOperandsFallBackToTheRecordTest) {
  add(R"({"x":[1,2]})");
  ASSERT_EQ(brute_force(Filter::eq("x", parse_json("[1,2]"))), SlotSet{0});
  EXPECT_FALSE(Filter::eq("x", parse_json("[1,2]")).resolve_from_index(index_).has_value());
}

Filter random_leaf(std::mt19937& rng) {
  const std::vector<Json> values = {Json(nullptr), Json(true), Json(false), parse_json("0"), parse_json("1"), parse_json("1.0"),
                                    parse_json("-1"), Json("a"), Json("b"), parse_json("2.5")};
  const std::string field(1, static_cast<char>('a' + rng() % 3));
  switch (rng() % 5) {
    case 0:
      return Filter::eq(field, values[rng() % values.size()]);
    case 1: {
      std::vector<Json> listed;
      for (unsigned n = rng() % 4; n > 0; --n) listed.push_back(values[rng() % values.size()]);
      return Filter::in(field, std::move(listed));
    }
    case 2:
      return Filter::ne(field, values[rng() % values.size()]);
    case 3:
      return gt(field, static_cast<double>(rng() % 5) - 2.0);
    default:
      return lte(field, static_cast<double>(rng() % 5) - 2.0);
  }
}

Filter random_filter(std::mt19937& rng, int depth) {
  if (depth > 1 || rng() % 3 != 0) return random_leaf(rng);
  std::vector<Filter> children;
  for (unsigned n = rng() % 4; n > 0; --n) children.push_back(random_filter(rng, depth + 1));
  return Filter::all_of(std::move(children));
}

TEST(FilterExactness, OnlyScalarEqualityLeavesAreAnsweredExactly) {
  auto gt5 = Filter::range(Filter::Op::Gt, "b", 5.0);
  const std::vector<std::pair<Filter, bool>> cases = {
      {Filter::eq("a", parse_json("\"x\"")), true},
      {Filter::eq("a", parse_json("1.5")), true},
      {Filter::eq("a", parse_json("null")), false},
      {Filter::eq("a", parse_json("[1]")), false},
      {Filter::in("a", {parse_json("1"), parse_json("true")}), true},
      {Filter::in("a", {parse_json("1"), parse_json("{}")}), false},
      {Filter::in("a", {}), true},
      {Filter::ne("a", parse_json("1")), false},
      {gt5, false},
      {Filter::all_of({}), false},
      {Filter::all_of({Filter::eq("a", parse_json("1")), Filter::in("b", {parse_json("2")})}), true},
      {Filter::all_of({Filter::eq("a", parse_json("1")), gt5}), false},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(cases[i].first.index_answers_exactly(), cases[i].second) << i;
}

TEST_F(FilterResolve, ResolvedSetNeverLosesAMatchingRecord) {
  std::mt19937 rng(3);
  const std::vector<std::string> values = {"null", "true", "false", "0", "1", "1.0", "-1", "\"a\"", "\"b\"",
                                           "2.5", "[1]", "{}", "-0.0"};
  for (int i = 0; i < 300; ++i) {
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
  for (int i = 0; i < 3000; ++i) {
    const Filter f = random_filter(rng, 0);
    const SlotSet expected = brute_force(f);
    const std::optional<SlotSet> candidates = f.resolve_from_index(index_);
    if (!candidates) continue;
    for (Slot s : expected) ASSERT_TRUE(candidates->contains(s)) << "slot " << s << " filter #" << i;
    // A filter that says the index answers it exactly is searched without the record test.
    if (f.index_answers_exactly()) ASSERT_EQ(*candidates, expected) << "exact filter #" << i;
    // Candidates that then pass the record test are exactly the matches.
    SlotSet confirmed;
    for (Slot s : *candidates) {
      if (f.matches(metadata_[s])) confirmed.insert(s);
    }
    ASSERT_EQ(confirmed, expected) << "filter #" << i;
  }
}

}  // namespace
}  // namespace quarn
