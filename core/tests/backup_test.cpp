#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "persistence_test_util.h"
#include "scoped_hook.h"
#include "util/file.h"

namespace quarn::testing {
namespace {

constexpr std::size_t kDim = 4;

bool in_backup_temp(const std::string& path) { return path.find(".backup-") != std::string::npos; }

std::vector<std::string> entries_of(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::unique_ptr<Database> create_db(const std::string& path, bool quantize = false) {
  return open_ok(path, create_options(kDim, "l2", quantize));
}

std::vector<float> vec(float a, float b) { return {a, b, 0.5f, -0.5f}; }

// One step of a writer's history: what it did to each id (no vector: deleted).
using Step = std::vector<std::pair<std::string, std::optional<std::vector<float>>>>;

// The steps of one writer's history that a state can be the end of: the prefixes of `steps`
// after which the records of `ids_of_writer` in `state` are exactly those the writer left.
std::vector<std::size_t> matching_prefixes(const std::vector<Step>& steps, const DbState& state,
                                           const std::function<bool(const std::string&)>& ids_of_writer) {
  std::map<std::string, std::vector<float>> expected;
  auto agrees = [&](const std::string& id) {
    auto e = expected.find(id);
    auto s = state.find(id);
    if (e == expected.end() || s == state.end()) return e == expected.end() && s == state.end();
    return RecordState{e->second, std::nullopt} == s->second;
  };
  std::size_t mismatches = 0;
  for (const auto& [id, record] : state) mismatches += ids_of_writer(id);
  std::vector<std::size_t> out;
  if (mismatches == 0) out.push_back(0);
  for (std::size_t i = 0; i < steps.size(); ++i) {
    for (const auto& [id, vector] : steps[i]) {
      mismatches -= !agrees(id);
      if (vector) {
        expected[id] = *vector;
      } else {
        expected.erase(id);
      }
      mismatches += !agrees(id);
    }
    if (mismatches == 0) out.push_back(i + 1);
  }
  return out;
}

DbState state_of_copy(const std::string& path) {
  auto db = open_ok(path, read_only());
  if (!db) return {};
  EXPECT_EQ(db->check_invariants(), std::nullopt);
  return read_state(*db);
}

// Two writers (one of them writing batches) and a saver run while backups are taken, by the
// writer and by a reader; each copy must be a state both writers' histories pass through,
// between what was acknowledged before the backup began and what was after it returned.
TEST(Backup, CopyUnderConcurrentWritesAndSavesIsAPointOfEachWritersHistory) {
  TempDir dir;
  TempDir out;
  auto db = create_db(dir.path(), /*quantize=*/true);
  ASSERT_TRUE(db);
  const std::size_t steps_per_writer = small_scale() ? 300 : 1500;
  // Records of neither writer, so that each copy takes long enough for writes and saves to
  // overlap it.
  std::vector<Item> bulk;
  for (std::size_t i = 0; i < (small_scale() ? 2000u : 20000u); ++i) {
    bulk.push_back({"p" + std::to_string(i), vec(9.0f, static_cast<float>(i)), std::nullopt});
  }
  ASSERT_TRUE(db->add_many(std::move(bulk)).ok());

  std::vector<Step> history[2];
  std::atomic<std::size_t> done[2] = {0, 0};
  std::atomic<bool> failed{false};
  auto writer = [&](int w) {
    const std::string prefix = w == 0 ? "a" : "b";
    for (std::size_t i = 0; i < steps_per_writer && !failed; ++i) {
      const std::string id = prefix + std::to_string(i % 97);
      const std::vector<float> v = vec(static_cast<float>(w), static_cast<float>(i));
      Step step;
      Status status = Status::success();
      if (w == 0 && i % 5 == 0) {
        // A batch of three: the copy holds all of it or none of it.
        std::vector<Item> items;
        for (int k = 0; k < 3; ++k) {
          const std::string batch_id = prefix + std::to_string((i + 31 * k) % 97);
          items.push_back({batch_id, vec(static_cast<float>(k), static_cast<float>(i)), std::nullopt});
          step.emplace_back(batch_id, items.back().vector);
        }
        status = db->upsert_many(std::move(items));
      } else if (i % 7 == 3) {
        auto removed = db->remove(id);
        status = removed.ok() ? Status::success() : Status(removed.error());
        step.emplace_back(id, std::nullopt);
      } else {
        status = db->upsert(id, v, std::nullopt);
        step.emplace_back(id, v);
      }
      if (!status.ok()) {
        ADD_FAILURE() << status.error().text();
        failed = true;
      }
      history[w].push_back(std::move(step));
      done[w].store(i + 1);
    }
  };
  auto reader = open_ok(dir.path(), read_only());
  ASSERT_TRUE(reader);
  std::atomic<bool> writing{true};
  std::thread saver([&] {
    while (writing && !failed) {
      Status saved = db->save();
      if (!saved.ok()) {
        ADD_FAILURE() << saved.error().text();
        failed = true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
  });
  std::thread first(writer, 0);
  std::thread second(writer, 1);

  struct Taken {
    std::string path;
    std::size_t before[2];
    std::size_t after[2];
  };
  std::vector<Taken> taken;
  while ((done[0] < steps_per_writer || done[1] < steps_per_writer) && !failed) {
    Taken t{out.path() + "/copy" + std::to_string(taken.size()), {done[0], done[1]}, {}};
    // Every other copy through a reader, which holds no lock of the writer and must retry while
    // a save renames files.
    Database& source = taken.size() % 2 == 0 ? *db : *reader;
    Status backed_up = source.backup(t.path);
    ASSERT_TRUE(backed_up.ok()) << backed_up.error().text();
    t.after[0] = done[0];
    t.after[1] = done[1];
    taken.push_back(t);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  first.join();
  second.join();
  writing = false;
  saver.join();
  ASSERT_FALSE(failed);
  ASSERT_GE(taken.size(), 2u);
  ::testing::Test::RecordProperty("backups", static_cast<int>(taken.size()));

  for (const Taken& t : taken) {
    const DbState state = state_of_copy(t.path);
    for (int w = 0; w < 2; ++w) {
      const char prefix = w == 0 ? 'a' : 'b';
      const auto points = matching_prefixes(history[w], state, [&](const std::string& id) { return id[0] == prefix; });
      // The step running when the backup returned may already be in the copy.
      const bool within = std::any_of(points.begin(), points.end(), [&](std::size_t p) {
        return p >= t.before[w] && p <= t.after[w] + 1;
      });
      EXPECT_TRUE(within) << t.path << " writer " << w << ": acknowledged " << t.before[w] << ".." << t.after[w]
                          << ", copy matches none of those points (" << points.size() << " matching prefixes)";
    }
  }
}

// The copy of vectors.bin is held up until a write and a save have returned: writers do not wait
// for the copy, and the save's renames and its deletion of the log do not reach what is copied.
TEST(Backup, WritesAndSavesDuringTheCopyNeitherWaitNorReachIt) {
  TempDir dir;
  TempDir out;
  auto db = create_db(dir.path(), /*quantize=*/true);
  ASSERT_TRUE(db);
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(db->add("s" + std::to_string(i), vec(1.0f, static_cast<float>(i)), J(R"({"n":1})")).ok());
  ASSERT_TRUE(db->save().ok());
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(db->add("l" + std::to_string(i), vec(2.0f, static_cast<float>(i)), std::nullopt).ok());
  ASSERT_TRUE(db->remove("s3").ok());
  const DbState at_backup = read_state(*db);

  std::mutex mutex;
  std::condition_variable changed;
  bool copy_blocked = false;
  bool release = false;
  ScopedHook hook([&](FileOp op, const std::string& path, const std::string&) {
    if (op == FileOp::Write && in_backup_temp(path) && path.ends_with("vectors.bin")) {
      std::unique_lock lock(mutex);
      copy_blocked = true;
      changed.notify_all();
      changed.wait_for(lock, std::chrono::seconds(30), [&] { return release; });
    }
    return 0;
  });

  const std::string copy = out.path() + "/copy";
  Status backed_up = Status::success();
  std::thread backup([&] { backed_up = db->backup(copy); });
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(30), [&] { return copy_blocked; }));
  }
  EXPECT_TRUE(db->add("later", vec(3.0f, 3.0f), std::nullopt).ok());
  EXPECT_TRUE(db->save().ok());
  EXPECT_TRUE(db->upsert("s1", vec(4.0f, 4.0f), std::nullopt).ok());
  {
    std::lock_guard lock(mutex);
    release = true;
  }
  changed.notify_all();
  backup.join();
  ASSERT_TRUE(backed_up.ok()) << backed_up.error().text();

  EXPECT_EQ(describe(state_of_copy(copy)), describe(at_backup));
  EXPECT_TRUE(state_of_copy(copy) == at_backup);
  EXPECT_TRUE(read_state(*db).contains("later"));
}

// A reader beside a live writer copies the directory as it stands at the call; the copy opens
// as a writer while the source's writer still holds its own lock.
TEST(Backup, ReadOnlyOpenCopiesTheDirectoryAndTheCopyTakesItsOwnWriterLock) {
  TempDir dir;
  TempDir out;
  auto writer = create_db(dir.path());
  ASSERT_TRUE(writer);
  ASSERT_TRUE(writer->add("a", vec(1, 1), J(R"({"k":"v"})")).ok());
  ASSERT_TRUE(writer->add_many({{"saved-doc", vec(5, 5), std::nullopt, "in documents.bin"}}).ok());
  ASSERT_TRUE(writer->save().ok());
  ASSERT_TRUE(writer->add("b", vec(2, 2), std::nullopt).ok());
  ASSERT_TRUE(writer->add_many({{"logged-doc", vec(6, 6), std::nullopt, "in the log"}}).ok());
  auto reader = open_ok(dir.path(), read_only());
  ASSERT_TRUE(reader);
  ASSERT_TRUE(writer->add("c", vec(3, 3), std::nullopt).ok());

  const std::string copy = out.path() + "/copy";
  Status backed_up = reader->backup(copy);
  ASSERT_TRUE(backed_up.ok()) << backed_up.error().text();
  EXPECT_FALSE(fs::exists(copy + "/writer.lock"));
  EXPECT_TRUE(state_of_copy(copy) == read_state(*writer));
  {
    auto copied = open_ok(copy, read_only());
    ASSERT_TRUE(copied);
    for (const char* id : {"saved-doc", "logged-doc"}) {
      auto record = copied->get_record(id);
      ASSERT_TRUE(record.ok()) << id;
      EXPECT_EQ(record->document, writer->get_record(id)->document) << id;
    }
  }

  auto copy_writer = open_ok(copy, open_only());
  ASSERT_TRUE(copy_writer);
  EXPECT_TRUE(copy_writer->add("d", vec(4, 4), std::nullopt).ok());
  EXPECT_FALSE(writer->contains("d"));
}

TEST(Backup, IntoAnExistingEmptyDirectoryReplacesIt) {
  TempDir dir;
  TempDir out;
  auto db = create_db(dir.path());
  ASSERT_TRUE(db);
  ASSERT_TRUE(db->add("a", vec(1, 1), std::nullopt).ok());
  const std::string copy = out.path() + "/empty";
  fs::create_directory(copy);
  Status backed_up = db->backup(copy);
  ASSERT_TRUE(backed_up.ok()) << backed_up.error().text();
  EXPECT_TRUE(state_of_copy(copy) == read_state(*db));
  EXPECT_EQ(entries_of(out.path()), std::vector<std::string>{"empty"});
}

struct BadDestination {
  const char* name;
  // Makes the destination under `out` (the source is `src`); returns its path.
  std::function<std::string(const std::string& src, const std::string& out)> make;
  const char* error;
};

TEST(Backup, BadDestinationsFailNamingThePathAndLeaveNothing) {
  const std::vector<BadDestination> cases = {
      {"non-empty directory",
       [](const std::string&, const std::string& out) {
         fs::create_directory(out + "/full");
         write_bytes(out + "/full/keep.txt", {1, 2, 3});
         return out + "/full";
       },
       "exists and is not empty"},
      {"a file",
       [](const std::string&, const std::string& out) {
         write_bytes(out + "/file", {1});
         return out + "/file";
       },
       "exists and is not a directory"},
      {"the source itself", [](const std::string& src, const std::string&) { return src; }, "is inside the database directory"},
      {"inside the source", [](const std::string& src, const std::string&) { return src + "/copy"; },
       "is inside the database directory"},
      {"inside the source through a link",
       [](const std::string& src, const std::string& out) {
         fs::create_directory_symlink(src, out + "/link");
         return out + "/link/nested";
       },
       "is inside the database directory"},
      {"parent missing", [](const std::string&, const std::string& out) { return out + "/no/such/dir"; },
       "is not a directory"},
  };
  for (const BadDestination& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    TempDir out;
    auto db = create_db(dir.path());
    ASSERT_TRUE(db);
    ASSERT_TRUE(db->add("a", vec(1, 1), std::nullopt).ok());
    const std::string dest = c.make(dir.path(), out.path());
    const auto source_before = entries_of(dir.path());
    const auto out_before = entries_of(out.path());

    Status backed_up = db->backup(dest);
    ASSERT_FALSE(backed_up.ok());
    EXPECT_EQ(backed_up.error().kind(), QuarnError::Kind::InvalidArgument);
    EXPECT_NE(backed_up.error().text().find("'" + dest + "'"), std::string::npos) << backed_up.error().text();
    EXPECT_NE(backed_up.error().text().find(c.error), std::string::npos) << backed_up.error().text();
    EXPECT_EQ(entries_of(dir.path()), source_before);
    EXPECT_EQ(entries_of(out.path()), out_before);
  }
}

// Every file call of the backup that can fail does, in turn; each failure leaves no destination
// and no temporary directory, and the source stays usable.
TEST(Backup, AFailureAtAnyStepLeavesNothingAtTheDestination) {
  struct Fault {
    FileOp op;
    const char* file;  // a name the call's path ends with
    int err;
    const char* error;
  };
  const std::vector<Fault> faults = {
      {FileOp::MakeDir, "", EACCES, "is not writable"},
      {FileOp::MakeDir, "", EROFS, "is not writable"},
      {FileOp::Open, "graph.quarn", EIO, "graph.quarn"},
      {FileOp::Read, "vectors.bin", EIO, "vectors.bin"},
      {FileOp::Write, "vectors.bin", ENOSPC, "vectors.bin"},
      {FileOp::Write, "wal.quarn", ENOSPC, "wal.quarn"},
      {FileOp::Sync, "graph.quarn", EIO, "graph.quarn"},
      {FileOp::Rename, "", EIO, ".backup-"},
  };
  for (const Fault& f : faults) {
    SCOPED_TRACE(std::string(file_op_name(f.op)) + " " + f.file);
    TempDir dir;
    TempDir out;
    auto db = create_db(dir.path());
    ASSERT_TRUE(db);
    ASSERT_TRUE(db->add("a", vec(1, 1), std::nullopt).ok());
    ASSERT_TRUE(db->save().ok());
    ASSERT_TRUE(db->add("b", vec(2, 2), std::nullopt).ok());
    const std::string dest = out.path() + "/copy";
    Status backed_up = Status::success();
    {
      ScopedHook hook([&](FileOp op, const std::string& path, const std::string&) {
        const bool backup_path = in_backup_temp(path) || path.find(dir.path()) == 0;
        return op == f.op && backup_path && path.ends_with(f.file) && (f.op != FileOp::Open || !in_backup_temp(path))
                   ? f.err
                   : 0;
      });
      backed_up = db->backup(dest);
    }
    ASSERT_FALSE(backed_up.ok());
    EXPECT_NE(backed_up.error().text().find(f.error), std::string::npos) << backed_up.error().text();
    EXPECT_TRUE(entries_of(out.path()).empty());
    EXPECT_TRUE(db->add("c", vec(3, 3), std::nullopt).ok());
    Status again = db->backup(dest);
    ASSERT_TRUE(again.ok()) << again.error().text();
    EXPECT_TRUE(state_of_copy(dest) == read_state(*db));
  }
}

}  // namespace
}  // namespace quarn::testing
