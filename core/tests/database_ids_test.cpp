// ids_matching and count with every filter operator, against a brute-force pass over the
// records; the order of ids_matching through updates, deletes and compaction; offset and limit.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "database_test_util.h"
#include "quarn/filter.h"

namespace quarn::testing {
namespace {

// Metadata with missing fields, nulls, numbers of both kinds, bools, strings, arrays and
// nested objects; two records have none.
const std::vector<std::pair<std::string, std::optional<std::string>>> kRecords = {
    {"a", R"({"c":"red","n":1,"t":["x"]})"},
    {"b", R"({"c":"red","n":1.0})"},
    {"c", R"({"c":"blue","n":7,"f":true})"},
    {"d", R"({"c":"blue","n":12.5,"f":1,"o":{"k":1}})"},
    {"e", R"({"c":"green","n":"7","f":null})"},
    {"f", R"({"n":null,"o":{"k":2}})"},
    {"g", std::nullopt},
    {"h", R"({})"},
    {"i", std::nullopt},
    {"j", R"({"c":"red","n":-3,"f":false})"},
};

Filter num(Filter::Op op, double t) { return Filter::range(op, "n", t); }

struct Fixture {
  TempDir dir;
  std::unique_ptr<DbImpl> db = make_db(dir, 2);
  std::vector<std::string> order;  // ids in slot order
  std::vector<std::optional<Json>> metadata;

  Fixture() {
    float x = 0;
    for (const auto& [id, text] : kRecords) {
      std::optional<Json> m;
      if (text) m = J(*text);
      EXPECT_TRUE(db->add(id, {x, 1.0f}, m).ok());
      x += 1;
      order.push_back(id);
      metadata.push_back(m);
    }
  }
  std::vector<std::string> brute_force(const Filter& f) const {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < order.size(); ++i) {
      if (f.matches(metadata[i])) out.push_back(order[i]);
    }
    return out;
  }
};

std::vector<std::string> letters(const char* text) {
  std::vector<std::string> out;
  for (const char* p = text; *p != 0; ++p) out.emplace_back(1, *p);
  return out;
}

TEST(DatabaseIds, EveryOperatorListsAndCountsWhatTheRecordTestAccepts) {
  Fixture fx;
  const Filter red = Filter::eq("c", J("\"red\""));
  const Filter blue = Filter::eq("c", J("\"blue\""));
  struct Case {
    const char* name;
    Filter filter;
    const char* expected;  // ids in slot order
  };
  const std::vector<Case> cases = {
      {"eq string", red, "abj"},
      {"eq int is not eq float", Filter::eq("n", J("1")), "a"},
      {"eq null", Filter::eq("n", J("null")), "f"},
      {"eq nested object", Filter::eq("o", J(R"({"k":2})")), "f"},
      {"ne keeps missing fields", Filter::ne("c", J("\"red\"")), "cdefh"},
      {"in", Filter::in("c", {J("\"blue\""), J("\"green\"")}), "cde"},
      {"nin keeps missing fields", Filter::nin("c", {J("\"red\""), J("\"blue\"")}), "efh"},
      {"nin of nothing is every record with metadata", Filter::nin("c", {}), "abcdefhj"},
      {"nin with mixed kinds", Filter::nin("n", {J("1"), J("\"7\""), J("null")}), "bcdhj"},
      {"exists", Filter::exists("f", true), "cdej"},
      {"exists false", Filter::exists("f", false), "abfh"},
      {"range skips strings and nulls", num(Filter::Op::Gte, 1.0), "abcd"},
      {"or of index leaves", Filter::any_of({red, Filter::eq("f", J("true"))}), "abcj"},
      {"or with a record test", Filter::any_of({blue, num(Filter::Op::Lt, 0.0)}), "cdj"},
      {"or of nothing", Filter::any_of({}), ""},
      {"and of nothing", Filter::all_of({}), "abcdefhj"},
      {"and of or and nin",
       Filter::all_of({Filter::any_of({red, blue}), Filter::nin("n", {J("1"), J("7")})}), "bdj"},
      {"or of and of or",
       Filter::any_of({Filter::all_of({Filter::any_of({red, Filter::exists("o", true)}), num(Filter::Op::Gt, 5.0)}),
                       Filter::eq("c", J("\"green\""))}),
       "de"},
      {"no match", Filter::eq("c", J("\"pink\"")), ""},
  };
  for (const Case& cs : cases) {
    const std::vector<std::string> expected = letters(cs.expected);
    ASSERT_EQ(fx.brute_force(cs.filter), expected) << cs.name;  // the table agrees with the record test
    EXPECT_EQ(fx.db->ids_matching(&cs.filter, 0, std::nullopt), expected) << cs.name;
    EXPECT_EQ(fx.db->count(&cs.filter), expected.size()) << cs.name;
  }
}

TEST(DatabaseIds, OffsetAndLimitSliceTheSlotOrder) {
  Fixture fx;
  const std::vector<std::string> all = fx.db->ids_matching(nullptr, 0, std::nullopt);
  ASSERT_EQ(all, fx.order);
  const Filter some = Filter::exists("c", true);  // a b c d e j
  const std::vector<std::string> matching = letters("abcdej");
  struct Slice {
    std::size_t offset;
    std::optional<std::size_t> limit;
  };
  for (const Slice& sl : std::vector<Slice>{{0, 0}, {0, 1}, {0, 3}, {2, 2}, {5, std::nullopt}, {5, 10}, {6, 1},
                                             {100, std::nullopt}, {0, 1000}}) {
    for (const auto& [filter, full] : {std::pair<const Filter*, const std::vector<std::string>*>{nullptr, &all},
                                       {&some, &matching}}) {
      std::vector<std::string> expected;
      for (std::size_t i = sl.offset; i < full->size() && (!sl.limit || expected.size() < *sl.limit); ++i) {
        expected.push_back((*full)[i]);
      }
      EXPECT_EQ(fx.db->ids_matching(filter, sl.offset, sl.limit), expected)
          << "offset " << sl.offset << " limit " << (sl.limit ? std::to_string(*sl.limit) : "none");
    }
  }
}

TEST(DatabaseIds, OrderSurvivesUpdatesDeletesAndCompaction) {
  Fixture fx;
  // Replacing a record keeps its place; a deleted id added again goes last.
  ASSERT_TRUE(fx.db->upsert("c", {9, 9}, J(R"({"c":"red"})")).ok());
  ASSERT_TRUE(fx.db->update("a", std::nullopt, J(R"({"c":"pink"})")).ok());
  ASSERT_TRUE(*fx.db->remove("b"));
  ASSERT_TRUE(*fx.db->remove("e"));
  ASSERT_TRUE(fx.db->add("b", {0, 0}, J(R"({"c":"red"})")).ok());
  const Filter red = Filter::eq("c", J("\"red\""));
  const std::vector<std::string> all = letters("acdfghijb");
  EXPECT_EQ(fx.db->ids_matching(nullptr, 0, std::nullopt), all);
  EXPECT_EQ(fx.db->ids_matching(&red, 0, std::nullopt), letters("cjb"));
  ASSERT_TRUE(fx.db->compact().ok());
  EXPECT_EQ(fx.db->ids_matching(nullptr, 0, std::nullopt), all);
  EXPECT_EQ(fx.db->ids_matching(&red, 1, 1), letters("j"));
  EXPECT_EQ(fx.db->count(&red), 3U);
}

}  // namespace
}  // namespace quarn::testing
