#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "json_test_util.h"

#include "filter/metadata_index.h"

namespace quarn {
namespace {

using Meta = std::optional<Json>;

Meta meta(std::string_view text) { return parse_json(text); }

// The whole index as sorted text, for comparisons and readable failures.
std::map<std::string, std::set<Slot>> snapshot(const MetadataIndex& index) {
  std::map<std::string, std::set<Slot>> out;
  for (const auto& [field, values] : index.fields()) {
    EXPECT_FALSE(values.empty()) << "field without values: " << field;
    for (const auto& [value, slots] : values) {
      EXPECT_FALSE(slots.empty()) << "empty slot set under " << field << "=" << json_dump(value);
      out[field + "=" + json_dump(value)].insert(slots.begin(), slots.end());
    }
  }
  return out;
}

// The numeric columns as (field, key, slot) in column order.
std::vector<std::tuple<std::string, double, Slot>> numeric_snapshot(const MetadataIndex& index) {
  std::vector<std::tuple<std::string, double, Slot>> out;
  for (const auto& [field, column] : index.numeric_fields()) {
    EXPECT_FALSE(column.empty()) << "empty column: " << field;
    column.for_each([&](double key, Slot slot) { out.emplace_back(field, key, slot); });
  }
  std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return std::get<0>(a) < std::get<0>(b); });
  return out;
}

TEST(MetadataIndex, OnlyTopLevelScalarsAreIndexed) {
  MetadataIndex index;
  const Meta m = meta(R"({"a":1,"b":[1],"c":null,"d":{"e":1}})");
  index.index(5, m);
  EXPECT_EQ(snapshot(index), (std::map<std::string, std::set<Slot>>{{"a=1", {5}}}));

  index.remove(5, m);
  EXPECT_TRUE(index.empty());
  EXPECT_EQ(index.find("a", Json(1)), nullptr);

  index.index(0, std::nullopt);
  index.index(1, meta("[1,2]"));
  index.index(2, meta("{}"));
  EXPECT_TRUE(index.empty());
}

TEST(MetadataIndex, ValuesKeepTheirKindAsKeys) {
  MetadataIndex index;
  index.index(0, meta(R"({"n":1})"));
  index.index(1, meta(R"({"n":1.0})"));
  index.index(2, meta(R"({"n":true})"));
  index.index(3, meta(R"({"n":"1"})"));
  index.index(4, meta(R"({"n":-0.0})"));
  index.index(5, meta(R"({"n":0.0})"));
  ASSERT_NE(index.find("n", Json(1)), nullptr);
  EXPECT_EQ(*index.find("n", Json(1)), SlotSet{0});
  EXPECT_EQ(*index.find("n", Json(1.0)), SlotSet{1});
  EXPECT_EQ(*index.find("n", Json(true)), SlotSet{2});
  EXPECT_EQ(*index.find("n", Json("1")), SlotSet{3});
  EXPECT_EQ(*index.find("n", Json(0.0)), (SlotSet{4, 5}));
}

TEST(MetadataIndex, RemovingOneHolderKeepsTheOthers) {
  MetadataIndex index;
  index.index(0, meta(R"({"a":1,"b":"x"})"));
  index.index(1, meta(R"({"a":1})"));
  index.remove(0, meta(R"({"a":1,"b":"x"})"));
  EXPECT_EQ(snapshot(index), (std::map<std::string, std::set<Slot>>{{"a=1", {1}}}));
  // Withdrawing values that were never indexed changes nothing.
  index.remove(7, meta(R"({"a":1,"zz":2,"b":"y"})"));
  index.remove(1, meta(R"({"a":2})"));
  EXPECT_EQ(snapshot(index), (std::map<std::string, std::set<Slot>>{{"a=1", {1}}}));
}

TEST(MetadataIndex, NanValuesAreNotIndexedSinceNoLookUpCouldFindThem) {
  MetadataIndex index;
  Json m = Json::object();
  m["x"] = std::nan("");
  index.index(0, m);
  index.index(1, m);
  EXPECT_TRUE(index.empty());
}

TEST(MetadataIndex, RebuildSkipsDeletedSlotsAndDropsOldContent) {
  MetadataIndex index;
  index.index(99, meta(R"({"stale":1})"));
  const std::vector<Meta> list = {meta(R"({"a":1})"), std::nullopt, meta(R"({"a":1,"b":2})"), meta(R"({"a":3})")};
  index.rebuild(list, {2});
  EXPECT_EQ(snapshot(index), (std::map<std::string, std::set<Slot>>{{"a=1", {0}}, {"a=3", {3}}}));
  using Entry = std::tuple<std::string, double, Slot>;
  EXPECT_EQ(numeric_snapshot(index), (std::vector<Entry>{{"a", 1.0, 0}, {"a", 3.0, 3}}));
}

TEST(MetadataIndex, NumericColumnsHoldNumbersOnlyWithIntsAndFloatsAsDoubles) {
  MetadataIndex index;
  index.index(0, meta(R"({"n":2})"));
  index.index(1, meta(R"({"n":1.0,"s":"1"})"));
  index.index(2, meta(R"({"n":true,"s":false})"));
  index.index(3, meta(R"({"n":1,"z":null})"));
  index.index(4, meta(R"({"n":-9223372036854775808})"));
  Json nan = Json::object();
  nan["n"] = std::nan("");
  index.index(5, nan);
  using Entry = std::tuple<std::string, double, Slot>;
  EXPECT_EQ(numeric_snapshot(index),
            (std::vector<Entry>{{"n", -9223372036854775808.0, 4}, {"n", 1.0, 1}, {"n", 1.0, 3}, {"n", 2.0, 0}}));
  index.remove(1, meta(R"({"n":1.0,"s":"1"})"));
  index.remove(3, meta(R"({"n":1,"z":null})"));
  EXPECT_EQ(numeric_snapshot(index), (std::vector<Entry>{{"n", -9223372036854775808.0, 4}, {"n", 2.0, 0}}));
}

TEST(MetadataIndex, IncrementalUpkeepEqualsRebuild) {
  std::mt19937 rng(5);
  const std::vector<std::string> values = {"1", "2", "1.0", "true", "\"x\"", "\"y\"", "null", "[1]", "-3"};
  auto random_meta = [&]() -> Meta {
    if (rng() % 8 == 0) return std::nullopt;
    std::string text = "{";
    for (const char* field : {"a", "b", "c", "d"}) {
      if (rng() % 2 == 0) continue;
      if (text.size() > 1) text += ",";
      text += std::string("\"") + field + "\":" + values[rng() % values.size()];
    }
    return meta(text + "}");
  };

  MetadataIndex index;
  std::vector<Meta> list;
  std::unordered_set<Slot> deleted;
  for (int step = 0; step < 4000; ++step) {
    const unsigned action = rng() % 4;
    if (action == 0 || list.empty()) {
      list.push_back(random_meta());
      index.index(static_cast<Slot>(list.size() - 1), list.back());
      continue;
    }
    const auto slot = static_cast<Slot>(rng() % list.size());
    if (deleted.contains(slot)) continue;
    if (action == 1) {
      index.remove(slot, list[slot]);
      list[slot] = std::nullopt;
      deleted.insert(slot);
    } else {
      index.remove(slot, list[slot]);
      list[slot] = random_meta();
      index.index(slot, list[slot]);
    }
  }
  MetadataIndex rebuilt;
  rebuilt.rebuild(list, deleted);
  EXPECT_EQ(snapshot(index), snapshot(rebuilt));
  EXPECT_EQ(numeric_snapshot(index), numeric_snapshot(rebuilt));
  EXPECT_FALSE(index.empty());
}

}  // namespace
}  // namespace quarn
