// The manifest of a snapshot generation: damage in any file is found and named with its offset
// instead of being served, damage in the log is told from a torn tail, recover opens what can be
// saved and says what it left out, directories without a manifest open as before, a save cut
// short between its renames is finished or undone, and a reader beside a saving writer always
// opens one generation whole.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "persistence_test_util.h"
#include "scratch_dir.h"
#include "storage/manifest.h"
#include "storage/manifest_format.h"

namespace quarn::testing {
namespace {

constexpr std::size_t kDim = 8;
constexpr std::size_t kSaved = 3000;
constexpr std::uint64_t kBlock = manifest_format::kBlockSize;

std::vector<float> vector_of(std::size_t i) {
  std::vector<float> v(kDim);
  for (std::size_t d = 0; d < kDim; ++d) v[d] = static_cast<float>((i * 7 + d * 13) % 101) / 10.0f + 1.0f;
  return v;
}

OpenOptions recovering() {
  OpenOptions o;
  o.recover = true;
  return o;
}

std::size_t find_bytes(const std::vector<std::uint8_t>& hay, const std::vector<std::uint8_t>& needle) {
  auto it = std::search(hay.begin(), hay.end(), needle.begin(), needle.end());
  return static_cast<std::size_t>(it - hay.begin());
}

// A saved database with every snapshot file (quantized codes, documents) and a log of three
// records after the save: r0..r2999 in the snapshot, then "x1", a batch "b1","b2", "x2".
class Generations : public ::testing::Test {
 protected:
  void SetUp() override {
    auto db = open_ok(dir.path(), create_options(kDim, "euclidean", true));
    std::vector<Item> items;
    for (std::size_t i = 0; i < kSaved; ++i) {
      items.push_back({"r" + std::to_string(i), vector_of(i), J("{\"i\":" + std::to_string(i) + "}"),
                       i % 3 == 0 ? std::optional<std::string>("doc " + std::to_string(i)) : std::nullopt});
    }
    ASSERT_TRUE(db->add_many(std::move(items)).ok());
    ASSERT_TRUE(db->save().ok());
    ASSERT_TRUE(db->add("x1", vector_of(9001), std::nullopt).ok());
    log_offsets.push_back(fs::file_size(dir.wal_path()));
    ASSERT_TRUE(db->add_many({{"b1", vector_of(9002), std::nullopt}, {"b2", vector_of(9003), std::nullopt}}).ok());
    log_offsets.push_back(fs::file_size(dir.wal_path()));
    ASSERT_TRUE(db->add("x2", vector_of(9004), std::nullopt).ok());
    db.reset();
    whole = read_state_of(dir.path(), read_only());
  }

  DbState read_state_of(const std::string& path, const OpenOptions& options) {
    auto db = open_ok(path, options);
    return db ? read_state(*db) : DbState{};
  }
  std::string file(const std::string& name) const { return dir.path() + "/" + name; }
  void flip(const std::string& name, std::size_t at) {
    auto bytes = read_bytes(file(name));
    ASSERT_LT(at, bytes.size()) << name;
    bytes[at] ^= 0x10;
    write_bytes(file(name), bytes);
  }

  TempDir dir;
  DbState whole;
  std::vector<std::uintmax_t> log_offsets;  // after x1, after the batch
};

TEST_F(Generations, EverySaveWritesAManifestNamingEachSnapshotFile) {
  auto manifest = read_manifest(file("manifest.quarn"));
  ASSERT_TRUE(manifest.ok() && manifest->has_value());
  const Manifest& m = **manifest;
  EXPECT_EQ(m.block_size, kBlock);
  for (const char* name : {"graph.quarn", "vectors.bin", "vectors.sq8", "documents.bin"}) {
    const ManifestFile* entry = m.find(name);
    ASSERT_NE(entry, nullptr) << name;
    auto actual = checksum_file(file(name), name, m.block_size);
    ASSERT_TRUE(actual.ok());
    EXPECT_EQ(*actual, *entry) << name;
  }
  EXPECT_EQ(m.files.size(), 4u);
  for (const char* temp : {"manifest.tmp", "manifest.partial"}) EXPECT_FALSE(fs::exists(file(temp))) << temp;
  // The creation snapshot was generation 1.
  EXPECT_EQ(m.generation, 2u);
}

TEST_F(Generations, ManifestBytesRoundTripAndAnyFlippedByteFailsTheParse) {
  const auto bytes = read_bytes(file("manifest.quarn"));
  auto parsed = parse_manifest(bytes);
  ASSERT_TRUE(parsed.ok());
  EXPECT_EQ(encode_manifest(*parsed), bytes);
  for (std::size_t at = 0; at < bytes.size(); at += 7) {
    auto damaged = bytes;
    damaged[at] ^= 0x01;
    EXPECT_FALSE(parse_manifest(damaged).ok()) << at;
  }
  for (std::size_t keep : {std::size_t{0}, std::size_t{27}, bytes.size() - 1}) {
    EXPECT_FALSE(parse_manifest(std::span(bytes).first(keep)).ok()) << keep;
  }
}

// What each kind of damage gives: the open fails with Corrupt naming the file and the offset,
// or the open succeeds with what it serves unchanged (the torn tail dropped), and verify_files
// finds what the open does not read.
TEST_F(Generations, DamageInEachFileAndSectionIsFoundNotServed) {
  const auto graph = read_bytes(file("graph.quarn"));
  const std::size_t meta = find_bytes(graph, {'A', 'T', 'E', 'M'});
  ASSERT_LT(meta, graph.size());
  const std::size_t vectors = fs::file_size(file("vectors.bin"));
  const std::size_t wal = fs::file_size(dir.wal_path());
  ASSERT_GT(vectors, kBlock + 100);
  const DbState without_x2 = [&] {
    DbState s = whole;
    s.erase("x2");
    return s;
  }();
  enum class Outcome { Corrupt, Opens, OpensVerifyFinds };
  const struct Case {
    const char* what;
    const char* name;
    std::function<void()> damage;
    Outcome outcome;
    std::string text;  // in the error (or verify's problem)
    std::optional<DbState> served = std::nullopt;
  } cases[] = {
      {"graph header", "graph.quarn", [&] { flip("graph.quarn", 17); }, Outcome::Corrupt, "byte offset 0 "},  // ef
      // The low byte of a neighbour's slot (u32 fields start at byte 37): the graph still parses.
      {"graph links", "graph.quarn", [&] { flip("graph.quarn", kBlock + 101); }, Outcome::Corrupt,
       "byte offset " + std::to_string(kBlock) + " "},
      {"graph metadata", "graph.quarn", [&] { flip("graph.quarn", meta + 20); }, Outcome::Corrupt,
       "byte offset " + std::to_string(meta + 20 - (meta + 20) % kBlock) + " "},
      {"graph cut short", "graph.quarn", [&] { fs::resize_file(file("graph.quarn"), graph.size() - 1); },
       Outcome::Corrupt, "holds " + std::to_string(graph.size() - 1) + " bytes"},
      {"vector body", "vectors.bin", [&] { flip("vectors.bin", 100); }, Outcome::OpensVerifyFinds, "byte offset 0 "},
      {"norms", "vectors.bin", [&] { flip("vectors.bin", vectors - 2); }, Outcome::Corrupt,
       "byte offset " + std::to_string((vectors - 2) / kBlock * kBlock) + " "},
      {"vectors cut short", "vectors.bin", [&] { fs::resize_file(file("vectors.bin"), vectors - 4); },
       Outcome::Corrupt, "holds " + std::to_string(vectors - 4) + " bytes"},
      {"quantizer", "vectors.sq8", [&] { flip("vectors.sq8", 6); }, Outcome::Corrupt, "byte offset 0 "},
      // documents.bin carries a checksum of its own, checked first.
      {"documents", "documents.bin", [&] { flip("documents.bin", 40); }, Outcome::Corrupt, "checksum mismatch"},
      {"manifest", "manifest.quarn", [&] { flip("manifest.quarn", 30); }, Outcome::Corrupt,
       "manifest fails its checksum"},
      {"manifest gone", "graph.quarn", [&] { fs::remove(file("manifest.quarn")); }, Outcome::Opens, "", whole},
      {"log, first record", "wal.quarn", [&] { flip("wal.quarn", 12); }, Outcome::Corrupt, "byte offset 0 "},
      {"log, inside the batch", "wal.quarn", [&] { flip("wal.quarn", log_offsets[0] + 30); }, Outcome::Corrupt,
       "byte offset " + std::to_string(log_offsets[0] + 13) + " "},  // after the batch's opening frame
      {"log, last record", "wal.quarn", [&] { flip("wal.quarn", wal - 10); }, Outcome::Opens, "", without_x2},
      {"log, torn last record", "wal.quarn", [&] { fs::resize_file(dir.wal_path(), wal - 3); }, Outcome::Opens, "",
       without_x2},
  };
  TempDir pristine;
  copy_dir(dir.path(), pristine.path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    copy_dir(pristine.path(), dir.path());
    c.damage();
    for (bool read_only_open : {false, true}) {
      OpenOptions options = read_only_open ? read_only() : open_only();
      OpenOutcome opened = Database::open(dir.path(), options);
      if (c.outcome == Outcome::Corrupt) {
        ASSERT_FALSE(opened.ok());
        EXPECT_EQ(opened.error().kind(), QuarnError::Kind::Corrupt);
        EXPECT_EQ(opened.error().file(), file(c.name));
        EXPECT_NE(opened.error().text().find(c.text), std::string::npos) << opened.error().text();
        continue;
      }
      ASSERT_TRUE(opened.ok()) << opened.error().text();
      if (c.served) {
        EXPECT_EQ(read_state(**opened), *c.served);
      }
      auto check = (*opened)->verify_files();
      ASSERT_TRUE(check.ok());
      if (c.outcome == Outcome::OpensVerifyFinds) {
        ASSERT_EQ(check->problems.size(), 1u);
        EXPECT_NE(check->problems[0].find(file(c.name)), std::string::npos) << check->problems[0];
        EXPECT_NE(check->problems[0].find(c.text), std::string::npos) << check->problems[0];
      } else {
        EXPECT_TRUE(check->problems.empty()) << check->problems[0];
      }
    }
  }
}

TEST_F(Generations, RecoverKeepsTheLogBeforeTheDamageAndReportsTheRest) {
  flip("wal.quarn", log_offsets[0] + 30);  // inside b1
  DbState expected = whole;
  for (const char* gone : {"b1", "b2", "x2"}) expected.erase(gone);
  {
    auto db = open_ok(dir.path(), recovering());
    ASSERT_TRUE(db);
    EXPECT_EQ(read_state(*db), expected);
    ASSERT_EQ(db->recovery_report().size(), 1u);
    const RecoveryNote& note = db->recovery_report()[0];
    EXPECT_EQ(note.file, "wal.quarn");
    EXPECT_EQ(note.kind, "damage");
    EXPECT_EQ(note.offset, log_offsets[0]);
    EXPECT_EQ(note.bytes, fs::file_size(dir.wal_path()) - log_offsets[0]);
    EXPECT_EQ(note.records, 2u);  // b2 and x2 were readable
    // A write cuts the damaged rest off; the database then opens without recover.
    ASSERT_TRUE(db->add("after", vector_of(1), std::nullopt).ok());
  }
  auto db = open_ok(dir.path(), open_only());
  ASSERT_TRUE(db);
  EXPECT_TRUE(db->contains("after"));
  EXPECT_EQ(db->size(), expected.size() + 1);
  EXPECT_TRUE(db->recovery_report().empty());
}

TEST_F(Generations, RecoverUsesSnapshotFilesThatParseAndSaysWhichFailedTheirChecks) {
  flip("vectors.bin", fs::file_size(file("vectors.bin")) - 2);  // a norm
  auto db = open_ok(dir.path(), recovering());
  ASSERT_TRUE(db);
  EXPECT_EQ(db->size(), whole.size());
  ASSERT_EQ(db->recovery_report().size(), 1u);
  EXPECT_EQ(db->recovery_report()[0].file, "vectors.bin");
  EXPECT_EQ(db->recovery_report()[0].kind, "checksum");
  // A save writes a new generation from what was recovered.
  ASSERT_TRUE(db->save().ok());
  db.reset();
  db = open_ok(dir.path(), open_only());
  ASSERT_TRUE(db);
  auto check = db->verify_files();
  ASSERT_TRUE(check.ok());
  EXPECT_TRUE(check->checked);
  EXPECT_TRUE(check->problems.empty());
  EXPECT_EQ(check->files, 4u);
}

TEST_F(Generations, DirectoryWithoutAManifestOpensAsBeforeAndIsUnchecked) {
  fs::remove(file("manifest.quarn"));
  flip("vectors.bin", 100);  // nothing to tell this from a real value
  auto db = open_ok(dir.path(), open_only());
  ASSERT_TRUE(db);
  auto check = db->verify_files();
  ASSERT_TRUE(check.ok());
  EXPECT_FALSE(check->checked);
  EXPECT_TRUE(check->problems.empty());
  ASSERT_TRUE(db->save().ok());
  check = db->verify_files();
  EXPECT_TRUE(check->checked);
  EXPECT_EQ(check->generation, 1u);
}

// A save cut short after it made manifest.tmp: with every file renamed the manifest is finished,
// with none renamed it is dropped; readers meanwhile open whichever generation is whole.
TEST_F(Generations, ManifestOfASaveCutShortIsFinishedOrDropped) {
  TempDir older;
  copy_dir(dir.path(), older.path());  // generation 2, with its log
  {
    auto db = open_ok(dir.path(), open_only());
    ASSERT_TRUE(db->save().ok());
  }
  const auto newer_manifest = read_bytes(file("manifest.quarn"));
  const DbState state = read_state_of(dir.path(), read_only());

  // Every file renamed, the manifest not yet.
  fs::rename(file("manifest.quarn"), file("manifest.tmp"));
  fs::copy_file(older.path() + "/manifest.quarn", file("manifest.quarn"));
  EXPECT_EQ(read_state_of(dir.path(), read_only()), state);
  EXPECT_EQ(read_state_of(dir.path(), open_only()), state);
  EXPECT_EQ(read_bytes(file("manifest.quarn")), newer_manifest);
  EXPECT_FALSE(fs::exists(file("manifest.tmp")));

  // No file renamed yet.
  copy_dir(older.path(), dir.path());
  write_bytes(file("manifest.tmp"), newer_manifest);
  EXPECT_EQ(read_state_of(dir.path(), read_only()), whole);
  EXPECT_EQ(read_state_of(dir.path(), open_only()), whole);
  EXPECT_FALSE(fs::exists(file("manifest.tmp")));
  EXPECT_EQ(read_bytes(file("manifest.quarn")), read_bytes(older.path() + "/manifest.quarn"));
}

// ---- a reader process beside a writer that saves after every write ----

// The writer: record "r<i>" holds vector_of(i) and {"i": i}; each step adds one record, moves
// "u" to the newest i, and saves, until `stop` exists.
int run_saving_writer(const std::string& path, const std::string& stop) {
  auto opened = Database::open(path, create_options(kDim, "euclidean", true));
  if (!opened.ok()) return 2;
  Database& db = **opened;
  for (std::size_t i = 0; !fs::exists(stop); ++i) {
    const Json md = J("{\"i\":" + std::to_string(i) + "}");
    if (!db.add("r" + std::to_string(i), vector_of(i), md, "doc " + std::to_string(i)).ok()) return 3;
    if (!db.upsert("u", vector_of(i), md).ok()) return 4;
    if (!db.save().ok()) return 5;
    // Saves back to back would leave a reader that takes longer than one save retrying; the
    // issue is a reader landing on a save, not starving beside an endless one.
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return 0;
}

// One generation whole: records r0..r<n-1> each with its own vector, metadata and document,
// and "u" equal to the newest or the one before.
std::string check_generation(const Database& db) {
  const std::size_t n = db.size() - 1;
  auto u = db.get_record("u");
  if (!u.ok()) return "no u";
  const auto ui = static_cast<std::size_t>(u->metadata->at("i").get<std::int64_t>());
  if (ui + 1 != n && ui + 2 != n) return "u is " + std::to_string(ui) + " beside " + std::to_string(n) + " records";
  if (u->vector != vector_of(ui)) return "u's vector is not that of " + std::to_string(ui);
  for (std::size_t i = 0; i < n; ++i) {
    auto r = db.get_record("r" + std::to_string(i));
    if (!r.ok()) return "r" + std::to_string(i) + " missing";
    if (r->vector != vector_of(i) || r->document != "doc " + std::to_string(i)) return "r" + std::to_string(i) + " differs";
  }
  if (auto problem = db.check_invariants()) return *problem;
  return {};
}

TEST(ReaderBesideASavingWriter, EveryOpenSucceedsAndSeesOneGeneration) {
  ScratchDir dir;  // in memory where possible: more saves while the reader opens
  const std::string stop = dir.path() + ".stop";
  { auto created = open_ok(dir.path(), create_options(kDim, "euclidean", true)); }
  const pid_t pid = ::fork();
  if (pid == 0) {
    const char* argv[] = {"snapshot_manifest_test", "--saving-writer", dir.path().c_str(), stop.c_str(), nullptr};
    ::execv("/proc/self/exe", const_cast<char* const*>(argv));
    ::_exit(127);
  }
  constexpr int kOpens = 200;
  int failed = 0;
  int mixed = 0;
  std::string first_problem;
  std::size_t smallest = SIZE_MAX;
  std::size_t largest = 0;
  // Until the writer has saved a few times.
  for (int wait = 0; wait < 3000 && smallest == SIZE_MAX; ++wait) {
    OpenOutcome opened = Database::open(dir.path(), read_only());
    if (opened.ok() && (*opened)->size() > 3) smallest = (*opened)->size();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  for (int i = 0; i < kOpens; ++i) {
    OpenOutcome opened = Database::open(dir.path(), read_only());
    if (!opened.ok()) {
      if (++failed == 1) first_problem = opened.error().text();
      continue;
    }
    largest = std::max(largest, (*opened)->size());
    if ((*opened)->size() == 0) continue;  // before the writer's first write
    const std::string problem = check_generation(**opened);
    if (!problem.empty() && ++mixed == 1) first_problem = problem;
  }
  { std::FILE* f = std::fopen(stop.c_str(), "w"); if (f != nullptr) std::fclose(f); }
  int status = 0;
  ::waitpid(pid, &status, 0);
  fs::remove(stop);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer status " << status;
  EXPECT_EQ(failed, 0) << first_problem;
  EXPECT_EQ(mixed, 0) << first_problem;
  EXPECT_GT(largest, smallest + 10);  // the writer saved while the reader opened
}

}  // namespace
}  // namespace quarn::testing

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--saving-writer") {
    return quarn::testing::run_saving_writer(argv[2], argv[3]);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
