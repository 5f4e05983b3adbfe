// SlotSet against std::set as the reference: every change, in both forms and across the
// switches between them, and intersections and unions of sets of every size and form.
#include <algorithm>
#include <iterator>
#include <random>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "filter/slot_set.h"

namespace quarn {
namespace {

std::vector<std::uint32_t> contents(const SlotSet& s) {
  std::vector<std::uint32_t> out(s.begin(), s.end());
  std::vector<std::uint32_t> visited;
  s.for_each([&](std::uint32_t slot) {
    visited.push_back(slot);
    return true;
  });
  EXPECT_EQ(out, visited) << "iterator and for_each disagree";
  return out;
}

std::vector<std::uint32_t> contents(const std::set<std::uint32_t>& s) { return {s.begin(), s.end()}; }

TEST(SlotSet, ChangesMatchAReferenceSetThroughEveryFormSwitch) {
  std::mt19937 rng(17);
  SlotSet set;
  std::set<std::uint32_t> reference;
  bool was_dense = false;
  bool was_sparse_again = false;
  // Grows to dense (many slots in a narrow range), then thins out until it is sparse again.
  for (int step = 0; step < 60000; ++step) {
    const bool growing = step < 30000;
    const auto slot = static_cast<std::uint32_t>(rng() % 8000);
    if (growing ? rng() % 4 != 0 : rng() % 20 == 0) {
      set.insert(slot);
      reference.insert(slot);
    } else {
      set.erase(slot);
      reference.erase(slot);
    }
    ASSERT_EQ(set.size(), reference.size()) << "step " << step;
    if (step % 997 == 0) {
      ASSERT_EQ(contents(set), contents(reference)) << "step " << step;
      const auto probe = static_cast<std::uint32_t>(rng() % 9000);
      ASSERT_EQ(set.contains(probe), reference.count(probe) == 1) << probe;
    }
    was_dense = was_dense || set.dense();
    was_sparse_again = was_sparse_again || (was_dense && !set.dense());
  }
  EXPECT_TRUE(was_dense && was_sparse_again);
  EXPECT_EQ(contents(set), contents(reference));
}

TEST(SlotSet, EqualityIgnoresTheForm) {
  // 800 slots out of 1000: a set that thinned out from a bitmap keeps it, one built at this size
  // is a sorted vector.
  std::vector<std::uint32_t> slots;
  SlotSet thinned;
  for (std::uint32_t s = 0; s < 1024; ++s) thinned.insert(s);
  for (std::uint32_t s = 0; s < 1000; ++s) {
    if (s % 5 != 4) slots.push_back(s);
  }
  for (std::uint32_t s = 0; s < 1024; ++s) {
    if (s >= 1000 || s % 5 == 4) thinned.erase(s);
  }
  const SlotSet built = SlotSet::from_sorted(slots);
  ASSERT_TRUE(thinned.dense());
  ASSERT_FALSE(built.dense());
  EXPECT_EQ(thinned, built);
  EXPECT_EQ(contents(thinned), contents(built));
  thinned.erase(0);
  EXPECT_FALSE(thinned == built);
  EXPECT_EQ(SlotSet{}, SlotSet::from_sorted({}));
  EXPECT_EQ((SlotSet{5, 1, 3, 1}), SlotSet::from_sorted({1, 3, 5}));
}

// Sets of a given size drawn from [0, range), as SlotSet and as reference.
std::pair<SlotSet, std::set<std::uint32_t>> random_set(std::mt19937& rng, std::size_t size, std::uint32_t range) {
  std::set<std::uint32_t> reference;
  while (reference.size() < size) reference.insert(rng() % range);
  return {SlotSet::from_sorted(contents(reference)), reference};
}

TEST(SlotSet, IntersectionsAndUnionsMatchTheReferenceInEveryForm) {
  std::mt19937 rng(23);
  // Sizes and ranges that give both forms, tiny sets against huge ones and empty ones.
  const std::vector<std::pair<std::size_t, std::uint32_t>> shapes = {
      {0, 10}, {1, 10}, {50, 100000}, {900, 1000}, {3000, 5000}, {20000, 40000}, {1500, 1'000'000}, {40000, 60000}};
  for (const auto& [size_a, range_a] : shapes) {
    for (const auto& [size_b, range_b] : shapes) {
      const auto [a, ref_a] = random_set(rng, size_a, range_a);
      const auto [b, ref_b] = random_set(rng, size_b, range_b);
      std::vector<std::uint32_t> both;
      std::set_intersection(ref_a.begin(), ref_a.end(), ref_b.begin(), ref_b.end(), std::back_inserter(both));
      std::vector<std::uint32_t> either;
      std::set_union(ref_a.begin(), ref_a.end(), ref_b.begin(), ref_b.end(), std::back_inserter(either));
      const SlotSet meet = SlotSet::intersect(a, b);
      ASSERT_EQ(contents(meet), both) << size_a << "/" << range_a << " & " << size_b << "/" << range_b;
      ASSERT_EQ(meet.size(), both.size());
      const SlotSet* pair[] = {&a, &b};
      const SlotSet join = SlotSet::unite(pair);
      ASSERT_EQ(contents(join), either) << size_a << "/" << range_a << " | " << size_b << "/" << range_b;
      ASSERT_EQ(join.size(), either.size());
    }
  }
}

TEST(SlotSet, UnionOfManySetsAndOfNone) {
  std::mt19937 rng(29);
  std::vector<SlotSet> sets;
  std::set<std::uint32_t> reference;
  for (int i = 0; i < 60; ++i) {
    auto [s, ref] = random_set(rng, 1 + rng() % 400, 50000);
    reference.insert(ref.begin(), ref.end());
    sets.push_back(std::move(s));
  }
  std::vector<const SlotSet*> pointers;
  for (const SlotSet& s : sets) pointers.push_back(&s);
  EXPECT_EQ(contents(SlotSet::unite(pointers)), contents(reference));
  EXPECT_TRUE(SlotSet::unite({}).empty());
}

}  // namespace
}  // namespace quarn
