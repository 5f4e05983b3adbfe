// Crash safety: a worker process writing and saving is killed at random moments, and every
// write it acknowledged must be there after the reopen. Also each intermediate directory state
// of an interrupted save, built by hand.
//
// The worker is this test binary run again with "--crash-worker", so it starts as a fresh
// process (no inherited worker pool or locks).
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <set>
#include <thread>

#include "persistence_test_util.h"

namespace quarn::testing {
namespace {

constexpr std::size_t kDim = 8;
constexpr int kIdPool = 150;

// One step of the worker's stream, fully determined by (seed, seq).
struct Op {
  enum Kind { Add, Upsert, UpdateVector, UpdateMetadata, UpdateDocument, Delete, UpsertMany, DeleteMany, Save, Compact } kind;
  std::vector<Item> items;  // Add, Upsert, Update*, UpsertMany: one per distinct id
};

Op make_op(std::uint64_t seed, std::uint64_t seq) {
  std::mt19937_64 rng(seed * 0x9E3779B97F4A7C15ull + seq);
  auto pick_id = [&] { return "k" + std::to_string(rng() % kIdPool); };
  auto vector = [&] {
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> v(kDim);
    for (float& x : v) x = dist(rng);
    return v;
  };
  auto metadata = [&]() -> std::optional<Json> {
    if (rng() % 4 == 0) return std::nullopt;
    Json md = Json::object();
    md["seq"] = seq;
    md["t"] = std::string(1, static_cast<char>('a' + rng() % 3));
    return md;
  };
  auto document = [&]() -> std::optional<std::string> {
    if (rng() % 3 == 0) return std::nullopt;
    // Words shared between records, so that every document counts in the keyword results.
    std::string text = "d" + std::to_string(seq);
    for (int w = static_cast<int>(rng() % 4); w >= 0; --w) text += " w" + std::to_string(rng() % 6);
    return text + " " + std::string(rng() % 3 == 0 ? 3000 : 10, 'x');
  };
  const unsigned roll = static_cast<unsigned>(rng() % 100);
  Op op{};
  if (roll < 22) {
    op.kind = Op::Add;
  } else if (roll < 42) {
    op.kind = Op::Upsert;
  } else if (roll < 52) {
    op.kind = Op::UpdateVector;
  } else if (roll < 56) {
    op.kind = Op::UpdateMetadata;
  } else if (roll < 60) {
    op.kind = Op::UpdateDocument;
  } else if (roll < 72) {
    op.kind = Op::Delete;
  } else if (roll < 82) {
    op.kind = Op::UpsertMany;
  } else if (roll < 90) {
    op.kind = Op::DeleteMany;
  } else if (roll < 98) {
    op.kind = Op::Save;
  } else {
    op.kind = Op::Compact;
  }
  const std::size_t count = (op.kind == Op::UpsertMany || op.kind == Op::DeleteMany) ? 2 + rng() % 5 : 1;
  std::set<std::string> used;
  while (op.items.size() < count) {
    std::string id = pick_id();
    if (!used.insert(id).second) continue;
    op.items.push_back({id, vector(), metadata(), document()});
  }
  if (op.kind == Op::UpdateMetadata && !op.items[0].metadata) op.items[0].metadata = Json::object();
  return op;
}

// What the database must hold after the op.
void apply_op(DbState& state, const Op& op) {
  for (const Item& item : op.items) {
    auto it = state.find(item.id);
    switch (op.kind) {
      case Op::Add:
        if (it == state.end()) state[item.id] = record_state(item.vector, item.metadata, item.document);
        break;
      case Op::Upsert:
      case Op::UpsertMany:
        state[item.id] = record_state(item.vector, item.metadata, item.document);
        break;
      case Op::UpdateDocument:
        if (it != state.end()) it->second.document = item.document;
        break;
      case Op::UpdateVector:
        if (it != state.end()) it->second.vector = item.vector;
        break;
      case Op::UpdateMetadata:
        if (it != state.end()) it->second.metadata = json_dump(*item.metadata);
        break;
      case Op::Delete:
      case Op::DeleteMany:
        if (it != state.end()) state.erase(it);
        break;
      case Op::Save:
      case Op::Compact:
        break;
    }
  }
}

// Runs one op; false when the database reported an unexpected failure.
bool execute(Database& db, const Op& op) {
  const Item& first = op.items[0];
  switch (op.kind) {
    case Op::Add: {
      Status s = db.add(first.id, first.vector, first.metadata, first.document);
      return s.ok() || s.error().kind() == QuarnError::Kind::DuplicateId;
    }
    case Op::Upsert:
      return db.upsert(first.id, first.vector, first.metadata, first.document).ok();
    case Op::UpdateVector: {
      Status s = db.update(first.id, first.vector, std::nullopt);
      return s.ok() || s.error().kind() == QuarnError::Kind::NotFound;
    }
    case Op::UpdateMetadata: {
      Status s = db.update(first.id, std::nullopt, first.metadata);
      return s.ok() || s.error().kind() == QuarnError::Kind::NotFound;
    }
    case Op::UpdateDocument: {
      Status s = db.update(first.id, std::nullopt, std::nullopt, DocumentChange(std::in_place, first.document));
      return s.ok() || s.error().kind() == QuarnError::Kind::NotFound;
    }
    case Op::Delete:
      return db.remove(first.id).ok();
    case Op::UpsertMany:
      return db.upsert_many(op.items).ok();
    case Op::DeleteMany: {
      std::vector<std::string> ids;
      for (const Item& item : op.items) ids.push_back(item.id);
      return db.delete_many(ids).ok();
    }
    case Op::Save:
      return db.save().ok();
    case Op::Compact:
      return db.compact().ok();
  }
  return false;
}

constexpr std::uint64_t kRowsOnDiskSeeds = 30;

// The worker: runs ops from `start` until killed, writing each finished seq to `ack_fd`. With
// `save_every_op` it saves after every op, so that most kills land inside a save.
int run_worker(const std::string& dir, std::uint64_t seed, std::uint64_t start, bool save_every_op, int ack_fd) {
  OpenOptions options = create_options(kDim, "cosine", /*quantize=*/seed % 2 == 1);
  // Seeds from kRowsOnDiskSeeds on keep the rows in files (the mode is then stored, so the
  // checking opens use it too).
  if (seed >= kRowsOnDiskSeeds) options.vectors_in_memory = false;
  auto outcome = Database::open(dir, options);
  if (!outcome.ok()) {
    std::fprintf(stderr, "worker open failed: %s\n", outcome.error().text().c_str());
    return 2;
  }
  auto& db = **outcome;
  for (std::uint64_t seq = start; seq < start + 100000; ++seq) {
    if (!execute(db, make_op(seed, seq))) {
      std::fprintf(stderr, "worker op %llu failed\n", static_cast<unsigned long long>(seq));
      return 3;
    }
    if (::write(ack_fd, &seq, sizeof seq) != static_cast<ssize_t>(sizeof seq)) return 4;
    if (save_every_op && !db.save().ok()) return 5;
  }
  return 0;
}

struct Killed {
  std::optional<std::uint64_t> last_ack;
  bool temporaries_left = false;
};

// Starts a worker, lets it acknowledge `acks` ops, waits `delay_us`, kills it.
Killed run_and_kill(const std::string& dir, std::uint64_t seed, std::uint64_t start, bool save_every_op,
                    std::size_t acks, int delay_us) {
  int fds[2];
  if (::pipe(fds) != 0) std::abort();
  const std::string seed_arg = std::to_string(seed), start_arg = std::to_string(start),
                    mode_arg = save_every_op ? "save" : "plain", fd_arg = std::to_string(fds[1]);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    const char* argv[] = {"crash_test",     "--crash-worker", dir.c_str(),    seed_arg.c_str(),
                          start_arg.c_str(), mode_arg.c_str(), fd_arg.c_str(), nullptr};
    ::execv("/proc/self/exe", const_cast<char* const*>(argv));
    ::_exit(127);
  }
  ::close(fds[1]);
  Killed result;
  auto read_ack = [&](int timeout_ms) {
    pollfd p{fds[0], POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return false;
    std::uint64_t seq;
    if (::read(fds[0], &seq, sizeof seq) != static_cast<ssize_t>(sizeof seq)) return false;
    result.last_ack = seq;
    return true;
  };
  for (std::size_t i = 0; i < acks; ++i) {
    if (!read_ack(30000)) break;
  }
  std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  while (read_ack(0)) {
  }
  ::close(fds[0]);
  EXPECT_TRUE(WIFSIGNALED(status)) << "worker exited by itself with status " << WEXITSTATUS(status);
  for (const char* temp : {"graph.tmp", "graph.partial", "vectors.tmp", "vectors.sq8.tmp", "documents.tmp"}) {
    result.temporaries_left |= fs::exists(dir + "/" + temp);
  }
  return result;
}

// Each id holds its state after the last acknowledged op or after the op in flight (a batch in
// flight may have reached only some of its ids).
void expect_between(const DbState& actual, const DbState& acked, const DbState& in_flight, const std::string& what) {
  std::set<std::string> ids;
  for (const auto* s : {&actual, &acked, &in_flight}) {
    for (const auto& [id, r] : *s) ids.insert(id);
  }
  for (const std::string& id : ids) {
    auto get = [&](const DbState& s) { return s.count(id) ? std::optional<RecordState>(s.at(id)) : std::nullopt; };
    const auto got = get(actual);
    EXPECT_TRUE(got == get(acked) || got == get(in_flight))
        << what << ": id " << id << (got ? " present" : " absent") << ", acknowledged state "
        << (get(acked) ? "present" : "absent");
  }
}

// The keyword results of `db` equal those of a database built afresh from its records in its
// slot order (so that equal scores fall in the same order): the index it recovered, saved or
// rebuilt, scores as one made from its documents.
void expect_keyword_results_of_fresh_copy(const Database& db, const std::string& fresh_dir, const std::string& what) {
  fs::remove_all(fresh_dir);
  auto fresh = open_ok(fresh_dir, create_options(kDim));
  ASSERT_NE(fresh, nullptr) << what;
  std::vector<Item> items;
  for (const std::string& id : db.ids_matching(nullptr, 0, std::nullopt)) {
    auto record = db.get_record(id);
    ASSERT_TRUE(record.ok()) << what;
    items.push_back({id, record->vector, record->metadata, record->document});
  }
  if (!items.empty()) {
    ASSERT_TRUE(fresh->add_many(items).ok()) << what;
  }
  SearchParams params;
  params.k = 25;
  for (const char* query : {"w0", "w1 w2", "w3 w4 w5", "xxxxxxxxxx w0"}) {
    auto got = db.search_keyword(query, params);
    auto want = fresh->search_keyword(query, params);
    ASSERT_TRUE(got.ok() && want.ok()) << what;
    ASSERT_EQ(got->size(), want->size()) << what << " query " << query;
    for (std::size_t i = 0; i < got->size(); ++i) {
      EXPECT_EQ((*got)[i].id, (*want)[i].id) << what << " query " << query << " rank " << i;
      EXPECT_EQ((*got)[i].distance, (*want)[i].distance) << what << " query " << query << " rank " << i;
    }
  }
}

void crash_rounds(std::uint64_t seed, bool save_every_op, int rounds) {
  TempDir dir;
  const std::string db_dir = dir.path() + "/db";
  const std::string check_dir = dir.path() + "/check";
  std::mt19937 rng(static_cast<std::uint32_t>(seed));
  DbState model;
  std::uint64_t next = 0;
  int with_temporaries = 0;
  for (int round = 0; round < rounds; ++round) {
    const std::size_t acks = rng() % 5 == 0 ? 0 : 1 + rng() % 40;
    const int delay_us = static_cast<int>(rng() % (acks == 0 ? 30000 : 3000));
    const Killed killed = run_and_kill(db_dir, seed, next, save_every_op, acks, delay_us);
    with_temporaries += killed.temporaries_left;

    DbState acked = model;
    std::uint64_t in_flight = next;
    if (killed.last_ack) {
      for (std::uint64_t s = next; s <= *killed.last_ack; ++s) apply_op(acked, make_op(seed, s));
      in_flight = *killed.last_ack + 1;
    }
    DbState after_in_flight = acked;
    apply_op(after_in_flight, make_op(seed, in_flight));

    // Check a copy, so that the next worker meets the directory exactly as the kill left it.
    if (!fs::exists(db_dir)) {
      EXPECT_EQ(acks, 0u);
      continue;
    }
    copy_dir(db_dir, check_dir);
    auto db = open_ok(check_dir, create_options(kDim));
    ASSERT_NE(db, nullptr) << "round " << round;
    const std::string what = "seed " + std::to_string(seed) + " round " + std::to_string(round);
    ASSERT_EQ(db->check_invariants(), std::nullopt) << what;
    const DbState actual = read_state(*db);
    expect_between(actual, acked, after_in_flight, what);
    expect_keyword_results_of_fresh_copy(*db, dir.path() + "/fresh", what);
    ASSERT_TRUE(db->save().ok()) << what;
    expect_norms_match_vectors(check_dir + "/vectors.bin", kDim);
    db.reset();
    // Reopened on its own save, with the keyword index read back from keyword.bin.
    auto reopened = open_ok(check_dir, open_only());
    ASSERT_NE(reopened, nullptr) << what;
    EXPECT_EQ(read_state(*reopened), actual) << what;
    EXPECT_EQ(reopened->check_invariants(), std::nullopt) << what;
    expect_keyword_results_of_fresh_copy(*reopened, dir.path() + "/fresh", what);

    model = actual;
    next = in_flight + 1;
  }
  std::printf("seed %llu: %d of %d kills left save temporaries behind\n", static_cast<unsigned long long>(seed),
              with_temporaries, rounds);
}

TEST(CrashKill, AcknowledgedWritesSurviveKillsBetweenAndDuringSaves) {
  const int rounds = small_scale() ? 4 : 12;
  for (std::uint64_t seed : {11u, 12u}) crash_rounds(seed, /*save_every_op=*/false, rounds);
}

TEST(CrashKill, AcknowledgedWritesSurviveKillsInsideSaves) {
  const int rounds = small_scale() ? 5 : 16;
  for (std::uint64_t seed : {21u, 22u}) crash_rounds(seed, /*save_every_op=*/true, rounds);
}

TEST(CrashKill, AcknowledgedWritesSurviveKillsWithRowsOnDisk) {
  const int rounds = small_scale() ? 4 : 10;
  crash_rounds(kRowsOnDiskSeeds + 1, /*save_every_op=*/false, rounds);
  crash_rounds(kRowsOnDiskSeeds + 2, /*save_every_op=*/true, rounds);
}

// ---- every intermediate state of a save, built by hand ----

// `before`: a snapshot plus a log of later writes. `after`: the files the next save of that
// database writes (after a compaction, so slots are renumbered and a mix of old and new
// files would be visible).
class InterruptedSaveBase : public ::testing::Test {
 protected:
  // Even records carry documents; `clear_documents` clears every one of them in the log, so that
  // the next save has none.
  void prepare(bool with_codes, bool clear_documents = false) {
    quantize = with_codes;
    before = dir.path() + "/before";
    after = dir.path() + "/after";
    work = dir.path() + "/work";
    auto db = open_ok(before, create_options(4, "l2", quantize));
    auto vecs = random_vectors(80, 4, 5);
    for (int i = 0; i < 40; ++i) {
      std::optional<std::string> document;
      if (i % 2 == 0) document = "text of v" + std::to_string(i);
      ASSERT_TRUE(db->add("v" + std::to_string(i), vecs[i], J("{\"i\":" + std::to_string(i) + "}"), document).ok());
    }
    ASSERT_TRUE(db->save().ok());
    if (clear_documents) {
      for (int i = 0; i < 40; i += 2) {
        ASSERT_TRUE(db->update("v" + std::to_string(i), std::nullopt, std::nullopt, DocumentChange(std::in_place)).ok());
      }
    } else {
      ASSERT_TRUE(db->update("v2", std::nullopt, std::nullopt, DocumentChange(std::string("changed"))).ok());
      ASSERT_TRUE(db->update("v4", std::nullopt, std::nullopt, DocumentChange(std::in_place)).ok());
      ASSERT_TRUE(db->add("v60", vecs[60], std::nullopt, std::string("late")).ok());
    }
    for (int i = 0; i < 40; i += 3) ASSERT_TRUE(*db->remove("v" + std::to_string(i)));
    for (int i = 40; i < 60; ++i) ASSERT_TRUE(db->add("v" + std::to_string(i), vecs[i], std::nullopt).ok());
    ASSERT_TRUE(db->update("v1", vecs[70], J("{\"u\":1}")).ok());
    expected = read_state(*db);
    db.reset();

    copy_dir(before, after);
    auto next = open_ok(after, open_only());
    ASSERT_TRUE(next->compact().ok());
    ASSERT_TRUE(next->save().ok());
    ASSERT_EQ(read_state(*next), expected);
  }

  // The `before` directory with the given files of `after` copied in under the given names.
  void build(const std::vector<std::pair<std::string, std::string>>& moved) {
    copy_dir(before, work);
    for (const auto& [from, to] : moved) fs::copy_file(after + "/" + from, work + "/" + to, fs::copy_options::overwrite_existing);
  }

  void expect_recovered(const std::string& what) {
    auto db = open_ok(work, open_only());
    ASSERT_NE(db, nullptr) << what;
    EXPECT_EQ(db->check_invariants(), std::nullopt) << what;
    EXPECT_EQ(read_state(*db), expected) << what;
    ASSERT_TRUE(db->save().ok()) << what;
    expect_norms_match_vectors(work + "/vectors.bin", 4);
    db.reset();
    EXPECT_EQ(read_state(*open_ok(work, open_only())), expected) << what;
  }

  std::string quantized_temp() const { return "vectors.sq8.tmp"; }

  TempDir dir;
  bool quantize = false;
  std::string before, after, work;
  DbState expected;
};

class InterruptedSave : public InterruptedSaveBase, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override { prepare(GetParam()); }
};

class InterruptedQuantizedSave : public InterruptedSaveBase {
 protected:
  void SetUp() override { prepare(true); }
};

TEST_P(InterruptedSave, TemporariesBeforeTheGraphIsCompleteAreIgnored) {
  const auto graph = read_bytes(after + "/graph.quarn");
  const auto vectors = read_bytes(after + "/vectors.bin");
  // vectors.tmp cut short, then complete; the quantizer temporary; graph.tmp cut short.
  build({});
  write_bytes(work + "/vectors.tmp", std::vector<std::uint8_t>(vectors.begin(), vectors.begin() + 100));
  expect_recovered("partial vectors.tmp");
  EXPECT_TRUE(fs::exists(work + "/graph.quarn"));

  std::vector<std::pair<std::string, std::string>> temps = {{"vectors.bin", "vectors.tmp"}};
  if (quantize) temps.push_back({"vectors.sq8", quantized_temp()});
  build(temps);
  expect_recovered("complete vectors temporaries, no graph.tmp");

  for (std::size_t cut : {std::size_t{0}, std::size_t{36}, graph.size() / 2, graph.size() - 1}) {
    build(temps);
    write_bytes(work + "/graph.tmp", std::vector<std::uint8_t>(graph.begin(), graph.begin() + static_cast<std::ptrdiff_t>(cut)));
    const auto old_graph = read_bytes(work + "/graph.quarn");
    auto db = open_ok(work, open_only());
    EXPECT_EQ(read_state(*db), expected) << "graph.tmp cut at " << cut;
    EXPECT_EQ(read_bytes(work + "/graph.quarn"), old_graph);
    EXPECT_TRUE(fs::exists(work + "/graph.tmp"));  // left alone; the next save removes it
  }
}

TEST_P(InterruptedSave, CompleteTemporariesAreRolledForwardAtEveryRenameStep) {
  const std::string sq8 = quantize ? "vectors.sq8" : "";
  using Moves = std::vector<std::pair<std::string, std::string>>;
  Moves all_temps = {{"vectors.bin", "vectors.tmp"}, {"graph.quarn", "graph.tmp"}, {"documents.bin", "documents.tmp"}};
  if (quantize) all_temps.push_back({"vectors.sq8", quantized_temp()});
  Moves vectors_renamed = {{"vectors.bin", "vectors.bin"}, {"graph.quarn", "graph.tmp"}, {"documents.bin", "documents.tmp"}};
  if (quantize) vectors_renamed.push_back({"vectors.sq8", quantized_temp()});
  Moves codes_renamed = {{"vectors.bin", "vectors.bin"}, {"graph.quarn", "graph.tmp"}, {"documents.bin", "documents.tmp"}};
  if (quantize) codes_renamed.push_back({"vectors.sq8", "vectors.sq8"});
  Moves documents_renamed = {{"vectors.bin", "vectors.bin"}, {"graph.quarn", "graph.tmp"}, {"documents.bin", "documents.bin"}};
  if (quantize) documents_renamed.push_back({"vectors.sq8", "vectors.sq8"});
  Moves all_renamed = {{"vectors.bin", "vectors.bin"}, {"graph.quarn", "graph.quarn"}, {"documents.bin", "documents.bin"}};
  if (quantize) all_renamed.push_back({"vectors.sq8", "vectors.sq8"});

  // A save makes manifest.tmp before its first rename and renames it last.
  for (Moves* moves : {&all_temps, &vectors_renamed, &codes_renamed, &documents_renamed, &all_renamed}) {
    moves->push_back({"manifest.quarn", "manifest.tmp"});
  }
  for (const auto& [name, moves] : std::vector<std::pair<std::string, Moves>>{
           {"all temporaries written", all_temps},
           {"vectors.bin renamed", vectors_renamed},
           {"codes renamed", codes_renamed},
           {"documents renamed", documents_renamed},
           {"all renamed, log kept", all_renamed}}) {
    build(moves);
    {
      auto db = open_ok(work, open_only());
      ASSERT_NE(db, nullptr) << name;
      EXPECT_EQ(read_state(*db), expected) << name;
      EXPECT_EQ(db->check_invariants(), std::nullopt) << name;
      EXPECT_EQ(db->quantized_search(), quantize) << name;
    }
    // The roll-forward put the new files in place and left no temporary behind.
    EXPECT_EQ(read_bytes(work + "/graph.quarn"), read_bytes(after + "/graph.quarn")) << name;
    EXPECT_EQ(read_bytes(work + "/vectors.bin"), read_bytes(after + "/vectors.bin")) << name;
    EXPECT_EQ(read_bytes(work + "/documents.bin"), read_bytes(after + "/documents.bin")) << name;
    for (const char* temp : {"graph.tmp", "vectors.tmp", "vectors.sq8.tmp", "documents.tmp", "manifest.tmp"}) {
      EXPECT_FALSE(fs::exists(work + "/" + temp)) << name << ": " << temp;
    }
    EXPECT_EQ(read_bytes(work + "/manifest.quarn"), read_bytes(after + "/manifest.quarn")) << name;
    expect_recovered(name);
  }
}

TEST_P(InterruptedSave, VectorTemporaryOfTheWrongSizeBlocksTheRollForward) {
  build({{"graph.quarn", "graph.tmp"}});
  auto vectors = read_bytes(after + "/vectors.bin");
  vectors.pop_back();
  write_bytes(work + "/vectors.tmp", vectors);
  const auto old_graph = read_bytes(work + "/graph.quarn");
  auto db = open_ok(work, open_only());
  EXPECT_EQ(read_state(*db), expected);
  EXPECT_EQ(read_bytes(work + "/graph.quarn"), old_graph);
}

TEST_F(InterruptedQuantizedSave, StaleCodeFileIsDroppedWhenTheNewSnapshotHasNone) {
  // The new snapshot was saved without codes; the old vectors.sq8 no longer fits it.
  build({{"vectors.bin", "vectors.bin"}, {"graph.quarn", "graph.tmp"}, {"documents.bin", "documents.tmp"}});
  auto db = open_ok(work, open_only());
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(read_state(*db), expected);
  EXPECT_FALSE(fs::exists(work + "/vectors.sq8"));
}

class InterruptedSaveClearingDocuments : public InterruptedSaveBase {
 protected:
  void SetUp() override { prepare(false, /*clear_documents=*/true); }
};

TEST_F(InterruptedSaveClearingDocuments, OldDocumentFileIsDroppedWhenTheNewSnapshotHasNone) {
  ASSERT_FALSE(fs::exists(after + "/documents.bin"));
  // The new graph is about to be renamed; documents.bin is still the old snapshot's.
  build({{"vectors.bin", "vectors.bin"}, {"graph.quarn", "graph.tmp"}});
  ASSERT_TRUE(fs::exists(work + "/documents.bin"));
  {
    auto db = open_ok(work, open_only());
    ASSERT_NE(db, nullptr);
    EXPECT_FALSE(fs::exists(work + "/documents.bin")) << "it does not belong to the new graph";
  }
  expect_recovered("old documents.bin beside graph.tmp");
}

INSTANTIATE_TEST_SUITE_P(Quantize, InterruptedSave, ::testing::Bool());

TEST(InterruptedSaveInProcess, FailedRenameIsFinishedByTheNextSave) {
  TempDir dir;
  auto db = open_ok(dir.path(), create_options(3, "cosine", /*quantize=*/true));
  auto vecs = random_vectors(30, 3, 8);
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(db->add(std::to_string(i), vecs[i], std::nullopt).ok());
  ASSERT_TRUE(db->save().ok());
  for (int i = 20; i < 30; ++i) ASSERT_TRUE(db->add(std::to_string(i), vecs[i], std::nullopt).ok());
  ASSERT_TRUE(db->compact().ok());
  // The rename of the code file fails: vectors.bin is new, graph.quarn still old.
  fs::remove(dir.path() + "/vectors.sq8");
  fs::create_directories(dir.path() + "/vectors.sq8/blocker");
  ASSERT_FALSE(db->save().ok());
  EXPECT_TRUE(fs::exists(dir.path() + "/graph.tmp"));
  fs::remove_all(dir.path() + "/vectors.sq8");
  // A later save first completes the interrupted one, then writes its own snapshot.
  ASSERT_TRUE(*db->remove("3"));
  ASSERT_TRUE(db->save().ok());
  const DbState expected = read_state(*db);
  db.reset();
  auto reopened = open_ok(dir.path(), open_only());
  EXPECT_EQ(read_state(*reopened), expected);
  EXPECT_EQ(reopened->check_invariants(), std::nullopt);
}

TEST(InterruptedSaveInProcess, OpenFinishesASaveWhoseLastRenameFailed) {
  TempDir dir;
  auto db = open_ok(dir.path(), create_options(3));
  auto vecs = random_vectors(10, 3, 9);
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(db->add(std::to_string(i), vecs[i], J("{\"n\":" + std::to_string(i) + "}")).ok());
  fs::remove(dir.path() + "/graph.quarn");
  fs::create_directories(dir.path() + "/graph.quarn/blocker");
  ASSERT_FALSE(db->save().ok());
  const DbState expected = read_state(*db);
  db.reset();
  fs::remove_all(dir.path() + "/graph.quarn");
  fs::remove(dir.path() + "/wal.quarn");  // the snapshot alone must hold everything
  auto reopened = open_ok(dir.path(), open_only());
  ASSERT_NE(reopened, nullptr);
  EXPECT_EQ(read_state(*reopened), expected);
}

}  // namespace
}  // namespace quarn::testing

int main(int argc, char** argv) {
  if (argc == 7 && std::string(argv[1]) == "--crash-worker") {
    return quarn::testing::run_worker(argv[2], std::stoull(argv[3]), std::stoull(argv[4]),
                                      std::string(argv[5]) == "save", std::stoi(argv[6]));
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
