// Power cuts at random file calls, also inside saves, compactions and opens: the directory is
// cut back to what a disk may have kept (util/power_cut.h), reopened and compared with the
// writes. In sync mode no acknowledged write may be lost; in flush mode none acknowledged
// before the last completed sync() or save(); never a half-applied batch.
//
// QUARN_POWER_CUTS=n runs n cuts per durability mode instead of the short default and prints
// the figures.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "persistence_test_util.h"
#include "scratch_dir.h"
#include "util/power_cut.h"

namespace quarn::testing {
namespace {

constexpr std::size_t kDim = 8;
constexpr int kIdPool = 60;

struct Op {
  enum Kind { Add, Upsert, Update, Delete, UpsertMany, DeleteMany, Save, Sync, Compact, CompactSave } kind;
  std::vector<Item> items;
};

bool is_checkpoint(Op::Kind k) { return k == Op::Save || k == Op::Sync || k == Op::CompactSave; }

Op make_op(std::mt19937_64& rng) {
  auto vector = [&] {
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> v(kDim);
    for (float& x : v) x = dist(rng);
    return v;
  };
  const unsigned roll = static_cast<unsigned>(rng() % 100);
  Op op{};
  op.kind = roll < 20 ? Op::Add
            : roll < 40 ? Op::Upsert
            : roll < 50 ? Op::Update
            : roll < 60 ? Op::Delete
            : roll < 72 ? Op::UpsertMany
            : roll < 78 ? Op::DeleteMany
            : roll < 87 ? Op::Save
            : roll < 91 ? Op::Sync
            : roll < 94 ? Op::Compact
                        : Op::CompactSave;
  const std::size_t count = (op.kind == Op::UpsertMany || op.kind == Op::DeleteMany) ? 2 + rng() % 5 : 1;
  std::set<std::string> used;
  while (op.items.size() < count) {
    std::string id = "k" + std::to_string(rng() % kIdPool);
    if (!used.insert(id).second) continue;
    std::optional<Json> md;
    if (rng() % 3 != 0) {
      md = Json::object();
      (*md)["n"] = rng() % 1000;
    }
    if (op.kind == Op::Update && !md) md = Json::object();  // an update without metadata keeps the old
    op.items.push_back({id, vector(), md});
  }
  return op;
}

void apply_op(DbState& state, const Op& op) {
  for (const Item& item : op.items) {
    auto it = state.find(item.id);
    switch (op.kind) {
      case Op::Add:
        if (it == state.end()) state[item.id] = record_state(item.vector, item.metadata);
        break;
      case Op::Upsert:
      case Op::UpsertMany:
        state[item.id] = record_state(item.vector, item.metadata);
        break;
      case Op::Update:
        if (it != state.end()) it->second = record_state(item.vector, item.metadata);  // both replaced
        break;
      case Op::Delete:
      case Op::DeleteMany:
        if (it != state.end()) state.erase(it);
        break;
      default:
        break;
    }
  }
}

// Runs one op: whether the database acknowledged it (a refusal for a duplicate or missing id
// acknowledges that nothing changed).
bool execute(Database& db, const Op& op) {
  const Item& first = op.items[0];
  auto acknowledged = [](const Status& s) {
    return s.ok() || s.error().kind() == QuarnError::Kind::DuplicateId || s.error().kind() == QuarnError::Kind::NotFound;
  };
  switch (op.kind) {
    case Op::Add: return acknowledged(db.add(first.id, first.vector, first.metadata));
    case Op::Upsert: return db.upsert(first.id, first.vector, first.metadata).ok();
    case Op::Update: return acknowledged(db.update(first.id, first.vector, first.metadata));
    case Op::Delete: return db.remove(first.id).ok();
    case Op::UpsertMany: return db.upsert_many(op.items).ok();
    case Op::DeleteMany: {
      std::vector<std::string> ids;
      for (const Item& item : op.items) ids.push_back(item.id);
      return db.delete_many(ids).ok();
    }
    case Op::Save: return db.save().ok();
    case Op::Sync: return db.sync().ok();
    case Op::Compact: return db.compact().ok();
    case Op::CompactSave: return db.compact().ok() && db.save().ok();
  }
  return false;
}

struct Figures {
  int cuts = 0;
  int cuts_in_open = 0, cuts_in_save = 0, cuts_in_compact_save = 0, cuts_in_sync = 0, cuts_in_write = 0,
      cuts_idle = 0;
  std::uint64_t acknowledged = 0;
  std::uint64_t lost = 0;        // acknowledged writes missing after the cut
  std::uint64_t lost_illegally = 0;  // of those, ones the mode promised to keep
  int open_failures = 0, invariant_failures = 0, unexpected_failures = 0;
  int matching_no_prefix = 0;  // states no prefix of the writes gives: half batches among them
  int in_flight_kept = 0;
  std::uint64_t files_torn = 0, bytes_lost = 0, directory_changes_undone = 0;

  void print(const char* mode) const {
    std::printf(
        "[%s] cuts %d (in open %d, save %d, compact+save %d, sync %d, write %d, idle %d); acknowledged writes %llu, "
        "lost %llu (%llu against the promise), in-flight op kept %d; failures: open %d, verify %d, unexpected "
        "errors %d, no-prefix states %d; files torn %llu, bytes dropped %llu, directory changes undone %llu\n",
        mode, cuts, cuts_in_open, cuts_in_save, cuts_in_compact_save, cuts_in_sync, cuts_in_write, cuts_idle,
        static_cast<unsigned long long>(acknowledged), static_cast<unsigned long long>(lost),
        static_cast<unsigned long long>(lost_illegally), in_flight_kept, open_failures, invariant_failures,
        unexpected_failures, matching_no_prefix, static_cast<unsigned long long>(files_torn),
        static_cast<unsigned long long>(bytes_lost), static_cast<unsigned long long>(directory_changes_undone));
  }
};

std::string differing_ids(const DbState& a, const DbState& b) {
  std::string out;
  for (const auto& [id, r] : a) {
    if (!b.count(id) || !(b.at(id) == r)) out += id + " ";
  }
  for (const auto& [id, r] : b) {
    if (!a.count(id)) out += id + " ";
  }
  return out;
}

OpenOptions options_for(Durability mode, bool quantize) {
  OpenOptions o = create_options(kDim, "l2", quantize);
  o.durability = mode;
  return o;
}

void cut_loop(Durability mode, std::uint64_t seed, int cuts, Figures& fig) {
  ScratchDir scratch;
  const std::string db_dir = scratch.path() + "/db";
  const std::string check_dir = scratch.path() + "/check";
  const bool quantize = seed % 2 == 1;
  ASSERT_NE(open_ok(db_dir, options_for(mode, quantize)), nullptr);
  std::mt19937_64 rng(seed);
  DbState model;
  for (int round = 0; round < cuts; ++round) {
    const std::string what = "seed " + std::to_string(seed) + " round " + std::to_string(round);
    // states[i]: after the first i ops of the round. `floor`: the ops a completed sync or save
    // (or, in sync mode, any acknowledgement) made durable.
    std::vector<DbState> states{model};
    std::vector<Op> ops;
    std::size_t acked = 0, floor = 0;
    bool in_flight = false;
    Op::Kind cut_in = Op::Add;
    bool cut_in_open = false;
    std::optional<PowerCut::Outcome> outcome;
    {
      // One cut in ten comes between two ops, with no file call under way.
      const bool idle = rng() % 10 == 0;
      const int max_ops = idle ? static_cast<int>(1 + rng() % 60) : 150;
      PowerCut power(db_dir, idle ? 0 : 1 + rng() % 400);
      {
        auto opened = Database::open(db_dir, options_for(mode, quantize));
        if (!opened.ok()) {
          cut_in_open = true;
          if (!power.is_cut()) {
            ++fig.unexpected_failures;
            ADD_FAILURE() << what << ": open failed before the cut: " << opened.error().text();
          }
        } else {
          Database& db = **opened;
          for (int i = 0; i < max_ops; ++i) {
            Op op = make_op(rng);
            const bool ok = execute(db, op);
            DbState next = states.back();
            apply_op(next, op);
            states.push_back(std::move(next));
            if (!ok) {
              in_flight = true;
              cut_in = op.kind;
              if (!power.is_cut()) {
                ++fig.unexpected_failures;
                ADD_FAILURE() << what << ": op " << op.kind << " failed before the cut";
              }
              break;
            }
            ++acked;
            if (op.kind != Op::Save && op.kind != Op::Sync && op.kind != Op::Compact && op.kind != Op::CompactSave) {
              ++fig.acknowledged;
            }
            if (mode == Durability::Sync || is_checkpoint(op.kind)) floor = acked;
            ops.push_back(std::move(op));
          }
        }
      }
      auto restored = power.restore(rng());
      ASSERT_TRUE(restored.ok()) << what << ": " << restored.error().text();
      outcome = *restored;
    }
    ++fig.cuts;
    fig.files_torn += outcome->files_torn;
    fig.bytes_lost += outcome->bytes_lost;
    fig.directory_changes_undone += outcome->directory_changes_undone;
    if (cut_in_open) {
      ++fig.cuts_in_open;
    } else if (!in_flight) {
      ++fig.cuts_idle;
    } else if (cut_in == Op::Save) {
      ++fig.cuts_in_save;
    } else if (cut_in == Op::CompactSave) {
      ++fig.cuts_in_compact_save;
    } else if (cut_in == Op::Sync) {
      ++fig.cuts_in_sync;
    } else {
      ++fig.cuts_in_write;
    }

    // Checked on a copy, so that the next round meets the directory exactly as the cut left it.
    copy_dir(db_dir, check_dir);
    OpenOutcome reopened = Database::open(check_dir, open_only());
    if (!reopened.ok()) {
      ++fig.open_failures;
      ADD_FAILURE() << what << ": reopen failed: " << reopened.error().text();
      return;
    }
    if (auto broken = (*reopened)->check_invariants()) {
      ++fig.invariant_failures;
      ADD_FAILURE() << what << ": " << *broken;
    }
    const DbState actual = read_state(**reopened);
    reopened->reset();

    // The newest prefix of the round's ops the directory holds.
    std::optional<std::size_t> matched;
    for (std::size_t i = states.size(); i-- > 0;) {
      if (states[i] == actual) {
        matched = i;
        break;
      }
    }
    if (!matched) {
      ++fig.matching_no_prefix;
      std::size_t nearest = 0;
      for (std::size_t i = 1; i < states.size(); ++i) {
        if (differing_ids(states[i], actual).size() <= differing_ids(states[nearest], actual).size()) nearest = i;
      }
      ADD_FAILURE() << what << ": the state after the cut is no prefix of the writes; the nearest, after " << nearest
                    << " of " << states.size() - 1 << " ops (in flight: " << (in_flight ? std::to_string(cut_in) : "none")
                    << "), differs in " << differing_ids(states[nearest], actual);
      model = actual;
      continue;
    }
    if (*matched > acked) ++fig.in_flight_kept;
    const std::size_t kept = std::min(*matched, acked);
    for (std::size_t i = kept; i < acked; ++i) {
      const bool write = !is_checkpoint(ops[i].kind) && ops[i].kind != Op::Compact;
      // An op that changed nothing cannot be lost.
      if (!write || states[i] == states[i + 1]) continue;
      ++fig.lost;
      if (i < floor) {
        ++fig.lost_illegally;
        ADD_FAILURE() << what << ": op " << i << " (" << ops[i].kind << ") was acknowledged and made durable, then lost";
      }
    }
    model = actual;
  }
}

int cuts_per_mode() {
  const char* env = std::getenv("QUARN_POWER_CUTS");
  return env != nullptr ? std::max(1, std::atoi(env)) : 200;
}

void run_mode(Durability mode, const char* name) {
  const int cuts = cuts_per_mode();
  Figures fig;
  // Several seeds, so that both the plain and the quantized database are cut.
  const int seeds = cuts >= 40 ? 4 : 1;
  for (int s = 0; s < seeds; ++s) {
    cut_loop(mode, 100 + static_cast<std::uint64_t>(s), cuts / seeds + (s < cuts % seeds ? 1 : 0), fig);
  }
  fig.print(name);
  EXPECT_EQ(fig.lost_illegally, 0u);
  EXPECT_GT(fig.cuts_in_save + fig.cuts_in_compact_save, 0) << "no cut landed inside a save";
}

TEST(PowerCutLoop, SyncModeLosesNoAcknowledgedWrite) { run_mode(Durability::Sync, "sync"); }

TEST(PowerCutLoop, FlushModeLosesNothingBeforeTheLastSyncOrSave) { run_mode(Durability::Flush, "flush"); }

// Group commit: writers sharing syncs, each acknowledged id present after the cut.
TEST(PowerCutLoop, ConcurrentSyncWritersKeepEveryAcknowledgedId) {
  for (std::uint64_t seed : {1u, 2u, 3u}) {
    ScratchDir scratch;
    const std::string db_dir = scratch.path() + "/db";
    ASSERT_NE(open_ok(db_dir, options_for(Durability::Sync, false)), nullptr);
    std::mutex mutex;
    std::set<std::string> acked, attempted;
    std::mt19937_64 rng(seed);
    {
      PowerCut power(db_dir, 40 + rng() % 300);
      auto db = open_ok(db_dir, options_for(Durability::Sync, false));
      ASSERT_NE(db, nullptr);
      std::vector<std::thread> writers;
      for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&, t] {
          for (int i = 0; i < 500; ++i) {
            const std::string id = std::to_string(t) + "-" + std::to_string(i);
            {
              std::lock_guard lock(mutex);
              attempted.insert(id);
            }
            if (!db->add(id, std::vector<float>(kDim, static_cast<float>(i)), std::nullopt).ok()) return;
            std::lock_guard lock(mutex);
            acked.insert(id);
          }
        });
      }
      for (auto& w : writers) w.join();
      db.reset();
      ASSERT_TRUE(power.restore(seed).ok());
    }
    auto db = open_ok(db_dir, open_only());
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(db->check_invariants(), std::nullopt);
    const auto ids = db->ids();
    const std::set<std::string> present(ids.begin(), ids.end());
    for (const std::string& id : acked) EXPECT_TRUE(present.count(id)) << "seed " << seed << ": acknowledged " << id << " lost";
    for (const std::string& id : present) EXPECT_TRUE(attempted.count(id)) << id;
    EXPECT_GT(acked.size(), 0u);
  }
}

}  // namespace
}  // namespace quarn::testing
