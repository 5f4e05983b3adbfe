// The id table against std::unordered_map<std::string, Slot> driven by the same calls: the same
// look-ups, and the same visiting order, which is the order a save writes the records in.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "db/id_table.h"

namespace quarn {
namespace {

using Reference = std::unordered_map<std::string, Slot>;
using Entries = std::vector<std::pair<std::string, Slot>>;

Entries visited(const IdTable& table) {
  Entries out;
  table.for_each([&](const std::string& id, Slot slot) { out.emplace_back(id, slot); });
  return out;
}

Entries visited(const Reference& reference) { return Entries(reference.begin(), reference.end()); }

// One call made on both.
struct Op {
  enum Kind { Insert, Erase, Reserve, Clear } kind;
  std::string id;
  Slot slot = 0;
};

void apply(const Op& op, IdTable& table, Reference& reference) {
  switch (op.kind) {
    case Op::Insert:
      table.insert_or_assign(op.id, op.slot);
      reference.insert_or_assign(op.id, op.slot);
      break;
    case Op::Erase:
      EXPECT_EQ(table.erase(op.id), reference.erase(op.id) != 0) << op.id;
      break;
    case Op::Reserve:
      table.reserve(op.slot);
      reference.reserve(op.slot);
      break;
    case Op::Clear:
      table.clear();
      reference.clear();
      break;
  }
}

// Every id either ever saw, plus some never used, is found exactly where the reference has it.
void expect_same(const IdTable& table, const Reference& reference, const std::vector<std::string>& probes) {
  ASSERT_EQ(table.size(), reference.size());
  EXPECT_EQ(table.empty(), reference.empty());
  EXPECT_EQ(visited(table), visited(reference));
  for (const std::string& id : probes) {
    auto it = reference.find(id);
    const std::optional<Slot> expected = it == reference.end() ? std::nullopt : std::optional<Slot>(it->second);
    EXPECT_EQ(table.find(id), expected) << "id '" << id << "'";
    EXPECT_EQ(table.contains(id), expected.has_value()) << "id '" << id << "'";
  }
}

std::string long_id(std::size_t length, char fill) { return std::string(length, fill) + std::to_string(length); }

// Ids that the reference puts in the same bucket once it has `buckets` of them.
std::vector<std::string> same_bucket_ids(std::size_t buckets, std::size_t count) {
  std::vector<std::string> out;
  const std::size_t target = std::hash<std::string>{}("collide") % buckets;
  for (std::size_t i = 0; out.size() < count; ++i) {
    std::string id = "c" + std::to_string(i);
    if (std::hash<std::string>{}(id) % buckets == target) out.push_back(std::move(id));
  }
  return out;
}

struct Case {
  const char* name;
  std::vector<Op> ops;
};

std::vector<Case> cases() {
  std::vector<Case> out;
  out.push_back({"empty id among short ones",
                 {{Op::Insert, "", 4}, {Op::Insert, "a", 1}, {Op::Insert, "b", 2}, {Op::Erase, "", 0},
                  {Op::Insert, "", 9}, {Op::Erase, "missing", 0}}});
  out.push_back({"long ids past the short-string buffer",
                 {{Op::Insert, long_id(15, 'x'), 0}, {Op::Insert, long_id(16, 'x'), 1},
                  {Op::Insert, long_id(1000, 'y'), 2}, {Op::Erase, long_id(16, 'x'), 0},
                  {Op::Insert, long_id(16, 'x'), 3}, {Op::Insert, long_id(1000, 'y'), 7}}});
  {
    Case c{"ids sharing one bucket, erased from its middle and ends", {{Op::Reserve, "", 50}}};
    Reference probe;
    probe.reserve(50);
    const auto ids = same_bucket_ids(probe.bucket_count(), 8);
    for (std::size_t i = 0; i < ids.size(); ++i) c.ops.push_back({Op::Insert, ids[i], static_cast<Slot>(i)});
    for (std::size_t i : {3, 0, 7}) c.ops.push_back({Op::Erase, ids[i], 0});
    c.ops.push_back({Op::Insert, ids[3], 30});
    c.ops.push_back({Op::Insert, "other", 31});
    out.push_back(std::move(c));
  }
  {
    // One at a time with a reserve of one more before each, as single writes do, across
    // many rehashes.
    Case c{"growth one record at a time", {}};
    for (Slot s = 0; s < 3000; ++s) {
      c.ops.push_back({Op::Reserve, "", s + 1});
      c.ops.push_back({Op::Insert, "g" + std::to_string(s), s});
    }
    out.push_back(std::move(c));
  }
  {
    Case c{"growth without reserving, then cleared and refilled", {}};
    for (Slot s = 0; s < 2000; ++s) c.ops.push_back({Op::Insert, std::to_string(s * 7919), s});
    c.ops.push_back({Op::Clear, "", 0});
    for (Slot s = 0; s < 500; ++s) c.ops.push_back({Op::Insert, std::to_string(s), s});
    out.push_back(std::move(c));
  }
  {
    // Inserts, reassignments and erases drawn from a small id space, so that erased ids come
    // back and reassignments hit live ids.
    Case c{"random churn", {}};
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> kind(0, 9);
    std::uniform_int_distribution<int> pick(0, 799);
    for (Slot s = 0; s < 20000; ++s) {
      const int k = kind(rng);
      std::string id = pick(rng) % 5 == 0 ? long_id(20 + pick(rng) % 7, 'r') : "r" + std::to_string(pick(rng));
      if (k < 6) {
        c.ops.push_back({Op::Insert, std::move(id), s});
      } else if (k < 9) {
        c.ops.push_back({Op::Erase, std::move(id), 0});
      } else {
        c.ops.push_back({Op::Reserve, "", static_cast<Slot>(pick(rng) * 2)});
      }
    }
    out.push_back(std::move(c));
  }
  return out;
}

TEST(IdTable, AgreesWithStdUnorderedMapOnLookupsAndVisitingOrder) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    IdTable table;
    Reference reference;
    std::vector<std::string> probes = {"", "never", long_id(40, 'n')};
    for (const Op& op : c.ops) {
      apply(op, table, reference);
      if (op.kind != Op::Reserve && op.kind != Op::Clear) probes.push_back(op.id);
      if (reference.size() < 64) expect_same(table, reference, {op.id});
    }
    expect_same(table, reference, probes);
  }
}

TEST(IdTable, MovedTableKeepsItsEntriesAndOrder) {
  IdTable table;
  Reference reference;
  table.reserve(100);
  reference.reserve(100);
  for (Slot s = 0; s < 100; ++s) {
    table.insert_or_assign("m" + std::to_string(s), s);
    reference.insert_or_assign("m" + std::to_string(s), s);
  }
  IdTable target;
  target.insert_or_assign("replaced", 1);
  target = std::move(table);
  IdTable constructed(std::move(target));
  expect_same(constructed, reference, {"m0", "m99", "replaced", "m100"});
}

}  // namespace
}  // namespace quarn
