// Database::open: the two modes, parameter checks, and recovery of the log through the open.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "persistence_test_util.h"
#include "wal/wal.h"

namespace quarn::testing {
namespace {

constexpr char kMetricMessage[] = "metric must be 'cosine', 'euclidean'/'l2', or 'dot'/'dot_product'";

TEST(OpenModes, OpenOnlyOnAMissingOrEmptyDirectoryFailsAndCreatesNothing) {
  TempDir dir;
  const std::string missing = dir.path() + "/missing";
  QuarnError error = open_fails(missing, open_only());
  EXPECT_EQ(error.kind(), QuarnError::Kind::DatabaseNotFound);
  EXPECT_EQ(error.text(), "database not found at '" + missing + "'");
  EXPECT_FALSE(fs::exists(missing));

  EXPECT_EQ(open_fails(dir.path(), open_only()).kind(), QuarnError::Kind::DatabaseNotFound);
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(OpenModes, CreateMakesTheDirectoryWithEveryMissingParent) {
  TempDir dir;
  const std::string path = dir.path() + "/a/b/c";
  auto db = open_ok(path, create_options(3));
  EXPECT_TRUE(fs::is_directory(path));
  // The parameters are on the disk from the creation on: an empty snapshot, and the lock file.
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(path)) names.insert(entry.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"graph.quarn", "manifest.quarn", "vectors.bin", "writer.lock"}));
  EXPECT_EQ(db->dim(), 3u);
  EXPECT_EQ(db->metric_name(), "cosine");
  EXPECT_FALSE(db->quantize_setting());
}

TEST(OpenModes, StoredParametersWinOverTheArguments) {
  TempDir dir;
  {
    OpenOptions o = create_options(4, "dot");
    o.m = 5;
    o.ef_construction = 17;
    auto db = open_ok(dir.path(), o);
    ASSERT_TRUE(db->add("a", {1, 2, 3, 4}, std::nullopt).ok());
    ASSERT_TRUE(db->save().ok());
  }
  auto db = open_ok(dir.path(), create_options(8, "cosine"));
  EXPECT_EQ(db->dim(), 4u);
  EXPECT_EQ(db->metric_name(), "dot_product");
  auto graph = read_bytes(dir.path() + "/graph.quarn");
  EXPECT_EQ(graph[13], 5);   // m
  EXPECT_EQ(graph[17], 17);  // ef_construction
  EXPECT_EQ(db->size(), 1u);
}

TEST(OpenMetric, NamesAreMatchedExactly) {
  TempDir dir;
  const std::pair<const char*, const char*> accepted[] = {
      {"cosine", "cosine"}, {"euclidean", "euclidean"}, {"l2", "euclidean"}, {"dot", "dot_product"},
      {"dot_product", "dot_product"}};
  for (const auto& [name, canonical] : accepted) {
    auto db = open_ok(dir.path() + "/" + name, create_options(2, name));
    EXPECT_EQ(db->metric_name(), canonical) << name;
  }
  for (const char* name : {"Cosine", "L2", "EUCLIDEAN", " cosine", "cosine ", "dot-product", ""}) {
    const std::string path = dir.path() + "/bad";
    QuarnError error = open_fails(path, create_options(2, name));
    EXPECT_EQ(error.kind(), QuarnError::Kind::InvalidArgument) << name;
    EXPECT_EQ(error.text(), kMetricMessage) << name;
    EXPECT_FALSE(fs::exists(path)) << name;
  }
}

TEST(OpenMetric, BadNameFailsEvenForAnExistingDatabaseButOpenOnlyIgnoresIt) {
  TempDir dir;
  ASSERT_TRUE(open_ok(dir.path(), create_options(2))->save().ok());
  EXPECT_EQ(open_fails(dir.path(), create_options(2, "Cosine")).text(), kMetricMessage);
  OpenOptions o = open_only();
  o.metric = "nonsense";
  EXPECT_NE(open_ok(dir.path(), o), nullptr);
}

TEST(OpenParameters, DegenerateCreationParametersAreRejected) {
  TempDir dir;
  const std::string path = dir.path() + "/new";
  QuarnError error = open_fails(path, create_options(0));
  EXPECT_EQ(error.kind(), QuarnError::Kind::InvalidArgument);
  EXPECT_EQ(error.text(), "dim must be at least 1");
  for (std::uint64_t m : {0u, 1u}) {
    OpenOptions o = create_options(3);
    o.m = m;
    error = open_fails(path, o);
    EXPECT_EQ(error.kind(), QuarnError::Kind::InvalidArgument);
    EXPECT_EQ(error.text(), "m must be at least 2");
  }
  struct Bound {
    std::optional<std::uint64_t> m;
    std::optional<std::uint64_t> ef_construction;
    const char* message;
  };
  const std::vector<Bound> beyond = {
      {4097, std::nullopt, "m must be at most 4096"},
      {1ull << 32, std::nullopt, "m must be at most 4096"},
      {std::nullopt, 0, "ef_construction must be between 1 and 65536"},
      {std::nullopt, 65537, "ef_construction must be between 1 and 65536"},
      {std::nullopt, (1ull << 32) - 1, "ef_construction must be between 1 and 65536"},
  };
  for (const Bound& b : beyond) {
    OpenOptions o = create_options(3);
    o.m = b.m;
    o.ef_construction = b.ef_construction;
    error = open_fails(path, o);
    EXPECT_EQ(error.kind(), QuarnError::Kind::InvalidArgument) << b.message;
    EXPECT_EQ(error.text(), b.message);
  }
  EXPECT_EQ(open_fails(path, create_options(1ull << 32)).text(), "dim must be at most 4294967295");
  EXPECT_FALSE(fs::exists(path));

  OpenOptions two = create_options(3);
  two.m = 2;
  auto db = open_ok(path, two);
  auto vecs = random_vectors(200, 3, 1);
  for (std::size_t i = 0; i < vecs.size(); ++i) ASSERT_TRUE(db->add(std::to_string(i), vecs[i], std::nullopt).ok());
  EXPECT_EQ(db->check_invariants(), std::nullopt);
}

TEST(OpenParameters, ParametersOfAnExistingDatabaseAreNotChecked) {
  TempDir dir;
  ASSERT_TRUE(open_ok(dir.path(), create_options(2))->save().ok());
  OpenOptions o = create_options(0);
  o.m = 1;
  EXPECT_EQ(open_ok(dir.path(), o)->dim(), 2u);
}

TEST(OpenLog, LogWithoutASnapshotIsReplayedWhenCreating) {
  TempDir dir;
  DbState expected;
  {
    auto db = open_ok(dir.path(), create_options(3));
    ASSERT_TRUE(db->add("a", {1, 2, 3}, J("{\"x\":1}")).ok());
    ASSERT_TRUE(db->add("b", {4, 5, 6}, std::nullopt).ok());
    ASSERT_TRUE(db->update("b", std::nullopt, J("{\"y\":2}")).ok());
    ASSERT_TRUE(*db->remove("a"));
    expected = read_state(*db);
  }
  ASSERT_TRUE(dir.wal_exists());
  // Older versions wrote nothing but the log before the first save.
  fs::remove(dir.path() + "/graph.quarn");
  fs::remove(dir.path() + "/vectors.bin");
  // Without dim the directory holds no database.
  EXPECT_EQ(open_fails(dir.path(), open_only()).kind(), QuarnError::Kind::DatabaseNotFound);
  EXPECT_EQ(open_fails(dir.path(), read_only()).kind(), QuarnError::Kind::DatabaseNotFound);

  // The dimension of the logged vectors wins over the argument, so no record is skipped; the
  // open saves at once, so the parameters are on the disk from now on.
  auto db = open_ok(dir.path(), create_options(5));
  EXPECT_EQ(db->dim(), 3u);
  EXPECT_FALSE(dir.wal_exists());
  EXPECT_TRUE(fs::exists(dir.path() + "/graph.quarn"));
  EXPECT_EQ(read_state(*db), expected);
  EXPECT_EQ(db->check_invariants(), std::nullopt);
  ASSERT_TRUE(db->add("c", {7, 8, 9}, std::nullopt).ok());
  expected["c"] = record_state({7, 8, 9}, std::nullopt);
  ASSERT_TRUE(db->save().ok());
  EXPECT_EQ(read_state(*open_ok(dir.path(), read_only())), expected);
}

// A log of five records over a saved snapshot, with the state after each record.
class OpenReplay : public ::testing::Test {
 protected:
  void SetUp() override {
    auto db = open_ok(dir.path(), create_options(2));
    ASSERT_TRUE(db->add("base", {0, 1}, std::nullopt).ok());
    ASSERT_TRUE(db->save().ok());
    states.push_back(read_state(*db));
    auto step = [&](Status s) {
      ASSERT_TRUE(s.ok());
      states.push_back(read_state(*db));
      ends.push_back(dir.wal_bytes().size());
    };
    step(db->add("a", {1, 2}, J("{\"n\":1}")));
    step(db->upsert("base", {3, 4}, J("{\"n\":2}")));
    step(db->update("a", std::vector<float>{5, 6}, std::nullopt));
    step(db->remove("base").ok() ? Status::success() : Status(QuarnError::corrupt("remove")));
    step(db->add("b", {7, 8}, std::nullopt));
    log = dir.wal_bytes();
  }

  DbState reopen_with_log(const std::vector<std::uint8_t>& bytes) {
    write_bytes(dir.wal_path(), bytes);
    auto db = open_ok(dir.path(), open_only());
    if (!db) return {};
    EXPECT_EQ(db->check_invariants(), std::nullopt);
    return read_state(*db);
  }

  TempDir dir;
  std::vector<DbState> states;    // states[k]: after the first k records
  std::vector<std::size_t> ends;  // ends[k]: log length after record k + 1
  std::vector<std::uint8_t> log;
};

TEST_F(OpenReplay, LogCutAtEveryOffsetOfItsLastRecordReplaysEveryEarlierRecord) {
  const std::size_t last_start = ends[ends.size() - 2];
  for (std::size_t len = last_start; len < log.size(); ++len) {
    std::vector<std::uint8_t> cut(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(len));
    EXPECT_EQ(reopen_with_log(cut), states[4]) << "cut at " << len;
  }
  EXPECT_EQ(reopen_with_log(log), states[5]);
}

// A flipped byte in the last record is a torn tail; in an earlier one it is damage, which fails
// the open naming the log and the record's offset, and recover opens the records before it.
TEST_F(OpenReplay, FlippedPayloadByteInRecordKFailsTheOpenUnlessLastOrRecovered) {
  for (std::size_t k = 0; k < ends.size(); ++k) {
    const std::size_t start = k == 0 ? 0 : ends[k - 1];
    std::vector<std::uint8_t> damaged = log;
    damaged[start + 5] ^= 0x40;  // first payload byte
    if (k + 1 == ends.size()) {
      EXPECT_EQ(reopen_with_log(damaged), states[k]) << "record " << k + 1;
      continue;
    }
    write_bytes(dir.wal_path(), damaged);
    const QuarnError error = open_fails(dir.path(), open_only());
    EXPECT_EQ(error.kind(), QuarnError::Kind::Corrupt);
    EXPECT_EQ(error.file(), dir.wal_path());
    EXPECT_NE(error.text().find("byte offset " + std::to_string(start) + " "), std::string::npos) << error.text();
    OpenOptions recover;
    recover.recover = true;
    auto db = open_ok(dir.path(), recover);
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(read_state(*db), states[k]) << "record " << k + 1;
    ASSERT_EQ(db->recovery_report().size(), 1u);
    EXPECT_EQ(db->recovery_report()[0].kind, "damage");
  }
}

TEST_F(OpenReplay, UnknownRecordTypeWithAGoodChecksumIsSkipped) {
  std::vector<std::uint8_t> with_unknown(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(ends[1]));
  auto odd = frame(4, {1, 2, 3});
  with_unknown.insert(with_unknown.end(), odd.begin(), odd.end());
  with_unknown.insert(with_unknown.end(), log.begin() + static_cast<std::ptrdiff_t>(ends[1]), log.end());
  EXPECT_EQ(reopen_with_log(with_unknown), states[5]);
}

TEST_F(OpenReplay, ReplayingTheSameLogTwiceGivesTheSameState) {
  EXPECT_EQ(reopen_with_log(log), states[5]);
  {
    auto db = open_ok(dir.path(), open_only());
    EXPECT_EQ(read_state(*db), states[5]);
  }  // dropped without saving
  EXPECT_EQ(dir.wal_bytes(), log);
  auto db = open_ok(dir.path(), open_only());
  EXPECT_EQ(read_state(*db), states[5]);
  // Writes after a replay append after the old records.
  ASSERT_TRUE(db->add("c", {9, 9}, std::nullopt).ok());
  DbState expected = states[5];
  expected["c"] = record_state({9, 9}, std::nullopt);
  db.reset();
  EXPECT_EQ(read_state(*open_ok(dir.path(), open_only())), expected);
}

TEST_F(OpenReplay, DamagedGraphFailsTheOpenInEitherMode) {
  auto graph = read_bytes(dir.path() + "/graph.quarn");
  graph[4] = 9;
  write_bytes(dir.path() + "/graph.quarn", graph);
  EXPECT_EQ(engine_text(open_fails(dir.path(), open_only())), damage_in(dir.path(), "graph.quarn") + "unsupported graph version: 9");
  EXPECT_EQ(engine_text(open_fails(dir.path(), create_options(2))), damage_in(dir.path(), "graph.quarn") + "unsupported graph version: 9");
}

}  // namespace
}  // namespace quarn::testing
