// Failures of single file calls, made through the file layer's fault hook: every call of every
// writing operation failing with ENOSPC or EIO, a kill at every file call of a save, and a power
// cut during a save that keeps only what was synced.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <tuple>

#include "persistence_test_util.h"
#include "scoped_hook.h"
#include "util/file.h"
#include "wal/wal.h"

namespace quarn::testing {
namespace {

// The outcome of an operation: success, or the text of its error.
using Outcome = std::optional<std::string>;
Outcome outcome_of(const Status& s) { return s.ok() ? Outcome() : Outcome(s.error().text()); }
template <class T>
Outcome outcome_of(const Result<T>& r) {
  return r.ok() ? Outcome() : Outcome(r.error().text());
}

// A saved database "base" with one more record and one update in its log.
void make_base(const std::string& path) {
  auto db = open_ok(path, create_options(3));
  ASSERT_TRUE(db->add_many({{"a", {1, 0, 0}, J("{\"n\":1}")}, {"b", {0, 1, 0}, std::nullopt}}).ok());
  ASSERT_TRUE(db->save().ok());
  ASSERT_TRUE(db->add("c", {0, 0, 1}, J("{\"n\":3}")).ok());
  ASSERT_TRUE(db->update("a", std::nullopt, J("{\"n\":10}")).ok());
}

struct WriteCase {
  const char* name;
  std::function<Outcome(Database&)> run;
};

const std::vector<WriteCase>& write_cases() {
  static const std::vector<WriteCase> cases = {
      {"add", [](Database& db) { return outcome_of(db.add("d", {1, 1, 0}, J("{\"n\":4}"))); }},
      {"upsert", [](Database& db) { return outcome_of(db.upsert("a", {2, 0, 0}, std::nullopt)); }},
      {"add_many",
       [](Database& db) {
         return outcome_of(db.add_many({{"d", {1, 1, 0}, std::nullopt}, {"e", {0, 1, 1}, J("{\"e\":1}")},
                                        {"f", {1, 0, 1}, std::nullopt}}));
       }},
      {"upsert_many",
       [](Database& db) {
         return outcome_of(db.upsert_many({{"a", {3, 0, 0}, std::nullopt}, {"g", {0, 3, 0}, J("{\"g\":1}")}}));
       }},
      {"delete", [](Database& db) { return outcome_of(db.remove("b")); }},
      {"save", [](Database& db) { return outcome_of(db.save()); }},
      {"compact", [](Database& db) { return outcome_of(db.compact()); }},
  };
  return cases;
}

// Runs `body` with a hook that counts the file calls and fails call number `fail_at` (from 0)
// with `err`; returns how many calls were made.
// Runs `body`, failing file call number `fail_at` with `err`; returns the number of calls and
// stores the path of the failed one in `failed_path` (when given).
// A save fills its files on several threads, so the count is atomic and exactly one call fails.
int run_counting(int fail_at, int err, const std::function<void()>& body, std::string* failed_path = nullptr) {
  std::atomic<int> calls{0};
  std::mutex failed_mutex;  // guards *failed_path
  ScopedHook hook([&](FileOp, const std::string& path, const std::string&) {
    if (calls.fetch_add(1) != fail_at) return 0;
    if (failed_path) {
      std::lock_guard guard(failed_mutex);
      *failed_path = path;
    }
    return err;
  });
  body();
  return calls.load();
}

// The text of an operating-system failure of the file at `path`.
std::string os_error_text(const std::string& path, int err) {
  return "io error: " + path + ": " + std::strerror(err);
}

TEST(FileFaults, EveryFailingCallOfEveryWriteGivesACleanErrorAndLosesNothingAcknowledged) {
  for (const WriteCase& c : write_cases()) {
    // How many file calls the operation makes when nothing fails, and the states before and after.
    TempDir probe;
    make_base(probe.path());
    DbState before;
    DbState after;
    int calls = 0;
    {
      auto db = open_ok(probe.path(), open_only());
      before = read_state(*db);
      calls = run_counting(-1, 0, [&] { ASSERT_EQ(c.run(*db), std::nullopt) << c.name; });
      after = read_state(*db);
    }
    for (int err : {ENOSPC, EIO}) {
      for (int n = 0; n < calls; ++n) {
        SCOPED_TRACE(std::string(c.name) + " call " + std::to_string(n) + " " + std::strerror(err));
        TempDir dir;
        make_base(dir.path());
        Outcome out;
        {
          auto db = open_ok(dir.path(), open_only());
          std::string failed;
          run_counting(n, err, [&] { out = c.run(*db); }, &failed);
          if (out) {
            EXPECT_EQ(*out, os_error_text(failed, err));
          }
          // Memory holds exactly the acknowledged state, and the database takes writes again.
          EXPECT_EQ(read_state(*db), out ? before : after);
          EXPECT_EQ(db->check_invariants(), std::nullopt);
          ASSERT_TRUE(db->add("z", {5, 5, 5}, std::nullopt).ok());
        }
        DbState expected = out ? before : after;
        expected["z"] = record_state({5, 5, 5}, std::nullopt);
        auto reopened = open_ok(dir.path(), open_only());
        ASSERT_NE(reopened, nullptr);
        EXPECT_EQ(read_state(*reopened), expected) << describe(read_state(*reopened));
      }
    }
  }
}

TEST(FileFaults, EveryFailingCallOfAnOpenGivesACleanErrorAndTheNextOpenSeesEverything) {
  struct OpenCase {
    const char* name;
    bool existing;
    OpenOptions options;
  };
  const std::vector<OpenCase> cases = {
      {"open-only", true, open_only()},
      {"read-only", true, read_only()},
      {"create over an existing database", true, create_options(3)},
      {"create", false, create_options(3, "l2")},
  };
  for (const OpenCase& c : cases) {
    TempDir probe;
    const std::string probe_path = probe.path() + "/db";
    if (c.existing) make_base(probe_path);
    const int calls = run_counting(-1, 0, [&] { ASSERT_NE(open_ok(probe_path, c.options), nullptr); });
    const DbState expected = read_state(*open_ok(probe_path, read_only()));
    for (int err : {ENOSPC, EIO}) {
      for (int n = 0; n < calls; ++n) {
        SCOPED_TRACE(std::string(c.name) + " call " + std::to_string(n) + " " + std::strerror(err));
        TempDir dir;
        const std::string path = dir.path() + "/db";
        if (c.existing) make_base(path);
        std::string failed;
        run_counting(
            n, err,
            [&] {
              auto opened = Database::open(path, c.options);
              if (!opened.ok()) {
                EXPECT_EQ(opened.error().text(), os_error_text(failed, err));
              }
            },
            &failed);
        auto db = open_ok(path, c.options.dim ? c.options : open_only());
        ASSERT_NE(db, nullptr);
        EXPECT_EQ(read_state(*db), expected);
        EXPECT_EQ(db->metric_name(), c.existing ? "cosine" : "euclidean");
      }
    }
  }
}

TEST(FileFaults, BatchFailingAtItsNthLogAppendLeavesNothingAfterARestart) {
  std::vector<Item> batch;
  for (int i = 0; i < 6; ++i) batch.push_back({"n" + std::to_string(i), {float(i), 1, 0}, std::nullopt});
  for (bool upsert : {false, true}) {
    for (int n = 0; n < 7; ++n) {  // the batch frame, then one write per record
      SCOPED_TRACE((upsert ? "upsert_many, write " : "add_many, write ") + std::to_string(n));
      TempDir dir;
      make_base(dir.path());
      DbState before;
      {
        auto db = open_ok(dir.path(), open_only());
        before = read_state(*db);
        int writes = 0;
        ScopedHook hook([&](FileOp op, const std::string&, const std::string&) {
          return op == FileOp::Write && writes++ == n ? ENOSPC : 0;
        });
        Status s = upsert ? db->upsert_many(batch) : db->add_many(batch);
        EXPECT_FALSE(s.ok());
        EXPECT_EQ(read_state(*db), before);
      }
      EXPECT_EQ(read_state(*open_ok(dir.path(), open_only())), before);
    }
  }
}

TEST(FileFaults, BatchWhoseCutBackFailsIsStillNotReplayedAndLaterWritesAreKept) {
  TempDir dir;
  make_base(dir.path());
  DbState expected;
  {
    auto db = open_ok(dir.path(), open_only());
    expected = read_state(*db);
    int writes = 0;
    {
      // The third record's write fails, and so does every truncate: the first two stay in the file.
      ScopedHook hook([&](FileOp op, const std::string&, const std::string&) {
        if (op == FileOp::Truncate) return EIO;
        return op == FileOp::Write && writes++ == 3 ? ENOSPC : 0;
      });
      std::vector<Item> batch;
      for (int i = 0; i < 5; ++i) batch.push_back({"n" + std::to_string(i), {float(i), 1, 0}, std::nullopt});
      EXPECT_FALSE(db->add_many(batch).ok());
      // A reader now sees a batch frame with fewer records than it counts.
      EXPECT_EQ(read_state(*open_ok(dir.path(), read_only())), expected);
      EXPECT_FALSE(db->add("x", {1, 2, 3}, std::nullopt).ok()) << "no append after a batch that is not cut off";
    }
    ASSERT_TRUE(db->add("y", {3, 2, 1}, std::nullopt).ok());  // the cut is retried first
    expected["y"] = record_state({3, 2, 1}, std::nullopt);
  }
  EXPECT_EQ(read_state(*open_ok(dir.path(), open_only())), expected);
}

// ---- kills and power cuts during a save ----

// The files of a directory, name to contents.
using DirImage = std::map<std::string, std::string>;

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

DirImage image_of(const std::string& dir) {
  DirImage image;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.is_regular_file()) image[entry.path().filename().string()] = slurp(entry.path().string());
  }
  return image;
}

void materialize(const DirImage& image, const std::string& dir) {
  fs::create_directories(dir);
  for (const auto& [name, contents] : image) {
    std::ofstream out(dir + "/" + name, std::ios::binary);
    out << contents;
  }
}

std::uint64_t inode_of(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// What the disk holds after a power cut, as far as a save's syncs decide it: a file's contents
// count only from its last sync (or from the start of the test), a directory's entries only from
// its last sync. The model follows real inode numbers, so a rename carries synced contents along.
class DiskModel {
 public:
  explicit DiskModel(std::string dir) : dir_(std::move(dir)) {
    // Everything but the log, which is flushed and never synced, starts out on the disk.
    for (const auto& entry : fs::directory_iterator(dir_)) {
      const std::string name = entry.path().filename().string();
      const std::uint64_t ino = inode_of(entry.path().string());
      if (name != wal_format::kFileName) synced_[ino] = slurp(entry.path().string());
      durable_names_[name] = ino;
    }
  }

  // Called before each file call.
  void before(FileOp op, const std::string& path) {
    if (op != FileOp::Sync) return;
    if (fs::is_directory(path)) {
      durable_names_.clear();
      for (const auto& entry : fs::directory_iterator(dir_)) {
        durable_names_[entry.path().filename().string()] = inode_of(entry.path().string());
      }
    } else {
      synced_[inode_of(path)] = slurp(path);
    }
  }

  // Directory entries as they are now (every rename already on the disk) or as last synced.
  DirImage after_cut(bool renames_reached_disk) const {
    std::map<std::string, std::uint64_t> names;
    if (renames_reached_disk) {
      for (const auto& entry : fs::directory_iterator(dir_)) {
        names[entry.path().filename().string()] = inode_of(entry.path().string());
      }
    } else {
      names = durable_names_;
    }
    DirImage image;
    for (const auto& [name, ino] : names) {
      auto it = synced_.find(ino);
      image[name] = it == synced_.end() ? std::string() : it->second;
    }
    return image;
  }

 private:
  std::string dir_;
  std::map<std::uint64_t, std::string> synced_;
  std::map<std::string, std::uint64_t> durable_names_;
};

// S1 saved; then S2 = S1 plus logged writes; then a save interrupted at file call `n` (from
// then on every call fails). Returns the images for a kill and for the two power-cut cases,
// and whether the save ran past `n`.
struct Interrupted {
  DbState s1, s2;
  DirImage killed, cut_renamed, cut_durable;
  bool completed = false;
};

Interrupted interrupt_save(const std::string& dir, int n) {
  Interrupted out;
  auto db = open_ok(dir, create_options(4, nullptr, /*quantize=*/true));
  auto vecs = random_vectors(40, 4, 21);
  for (int i = 0; i < 20; ++i) EXPECT_TRUE(db->add("s" + std::to_string(i), vecs[i], J("{\"i\":" + std::to_string(i) + "}")).ok());
  EXPECT_TRUE(db->save().ok());
  out.s1 = read_state(*db);
  for (int i = 20; i < 40; ++i) EXPECT_TRUE(db->add("s" + std::to_string(i), vecs[i], std::nullopt).ok());
  EXPECT_TRUE(*db->remove("s3"));
  out.s2 = read_state(*db);

  DiskModel model(dir);
  int calls = 0;
  bool stopped = false;
  {
    std::mutex model_mutex;  // guards calls, stopped, model and the images: a save writes on several threads
    ScopedHook hook([&](FileOp op, const std::string& path, const std::string&) {
      std::lock_guard guard(model_mutex);
      if (stopped) return EIO;
      if (calls++ == n) {
        out.killed = image_of(dir);
        out.cut_renamed = model.after_cut(true);
        out.cut_durable = model.after_cut(false);
        stopped = true;
        return EIO;
      }
      model.before(op, path);
      return 0;
    });
    out.completed = db->save().ok();
    db.reset();
  }
  if (out.completed) {
    // The save never reached call n: everything it did is on the disk.
    out.killed = image_of(dir);
    out.cut_renamed = model.after_cut(true);
    out.cut_durable = model.after_cut(false);
  }
  return out;
}

TEST(SaveInterrupted, KillOrPowerCutAtEveryFileCallOfASaveLosesNothingSaved) {
  bool reached_end = false;
  for (int n = 0; !reached_end && n < 200; ++n) {
    SCOPED_TRACE("interrupted at file call " + std::to_string(n));
    TempDir dir;
    Interrupted run = interrupt_save(dir.path() + "/db", n);
    reached_end = run.completed;

    struct Outcome {
      const char* what;
      const DirImage* image;
    };
    for (const Outcome& o : {Outcome{"kill", &run.killed}, Outcome{"power cut, renames on disk", &run.cut_renamed},
                             Outcome{"power cut, directory as synced", &run.cut_durable}}) {
      SCOPED_TRACE(o.what);
      TempDir after;
      materialize(*o.image, after.path());
      auto db = open_ok(after.path(), open_only());
      ASSERT_NE(db, nullptr);
      const DbState state = read_state(*db);
      EXPECT_EQ(db->check_invariants(), std::nullopt);
      if (std::string(o.what) == "kill" || run.completed) {
        // A kill keeps the page cache: the log still holds what the snapshot may lack. A save
        // that returned has put the new snapshot on the disk.
        EXPECT_EQ(state, run.s2) << describe(state);
      } else {
        // Unsynced log records may go with the power; the last saved snapshot may not.
        EXPECT_TRUE(state == run.s1 || state == run.s2) << describe(state);
      }
    }
  }
  EXPECT_TRUE(reached_end) << "the save makes more file calls than the test expects";
}

// graph.tmp is what an open takes as the sign of a finished save. The save fills its files side
// by side, so graph.tmp must appear only by a rename, after every other temporary is synced.
TEST(SaveInterrupted, GraphTempAppearsOnlyAfterEveryOtherTemporaryIsSynced) {
  TempDir dir;
  const std::string db_dir = dir.path() + "/db";
  auto db = open_ok(db_dir, create_options(4, nullptr, /*quantize=*/true));
  auto vecs = random_vectors(3000, 4, 5);
  for (int i = 0; i < 3000; ++i) ASSERT_TRUE(db->add("v" + std::to_string(i), vecs[i], std::nullopt).ok());

  std::mutex calls_mutex;  // guards calls
  std::vector<std::tuple<FileOp, std::string, std::string>> calls;
  {
    ScopedHook hook([&](FileOp op, const std::string& path, const std::string& target) {
      std::lock_guard guard(calls_mutex);
      calls.emplace_back(op, path.substr(path.rfind('/') + 1), target.substr(target.rfind('/') + 1));
      return 0;
    });
    ASSERT_TRUE(db->save().ok());
  }
  std::set<std::string> synced;
  bool graph_temp_made = false;
  for (const auto& [op, name, target] : calls) {
    if (op == FileOp::Sync) synced.insert(name);
    if (name == "graph.tmp") {
      EXPECT_TRUE(op == FileOp::Rename || op == FileOp::Stat || op == FileOp::Unlink)
          << "graph.tmp is " << file_op_name(op) << " directly";
    }
    if (op == FileOp::Rename && target == "graph.tmp") {
      graph_temp_made = true;
      for (const char* temp : {"vectors.tmp", "vectors.sq8.tmp", "graph.partial"}) {
        EXPECT_TRUE(synced.count(temp)) << temp << " is not synced before graph.tmp appears";
      }
    }
  }
  EXPECT_TRUE(graph_temp_made);
  EXPECT_FALSE(fs::exists(db_dir + "/graph.partial"));
  const DbState saved = read_state(*db);
  db.reset();
  EXPECT_EQ(read_state(*open_ok(db_dir, open_only())), saved);
}

}  // namespace
}  // namespace quarn::testing
