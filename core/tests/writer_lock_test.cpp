// One writer per directory: the writer lock between Database objects of one process, across
// processes, and the read-only mode beside a writer.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "persistence_test_util.h"
#include "util/file.h"

namespace quarn::testing {
namespace {

std::string locked_text(const std::string& path) { return QuarnError::locked(path).text(); }

TEST(WriterLock, ASecondWriterIsRefusedInEveryModeUntilTheFirstIsGone) {
  TempDir dir;
  auto first = open_ok(dir.path(), create_options(2));
  for (const OpenOptions& o : {create_options(2), open_only(), create_options(7, "dot")}) {
    QuarnError error = open_fails(dir.path(), o);
    EXPECT_EQ(error.kind(), QuarnError::Kind::Locked);
    EXPECT_EQ(error.text(), locked_text(dir.path()));
  }
  EXPECT_EQ(locked_text("/x"),
            "database '/x' is already open for writing (by this or another process); open it with "
            "read_only=True to read beside that writer");
  ASSERT_TRUE(first->add("a", {1, 0}, std::nullopt).ok());
  first.reset();
  auto second = open_ok(dir.path(), open_only());
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(second->contains("a"));
}

TEST(WriterLock, WritersRacingFromThreadsGetExactlyOneWin) {
  TempDir dir;
  { open_ok(dir.path(), create_options(2)); }
  std::atomic<int> opened{0};
  std::atomic<int> refused{0};
  std::vector<std::unique_ptr<Database>> winners(8);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      auto result = Database::open(dir.path(), open_only());
      if (result.ok()) {
        winners[t] = std::move(*result);
        ++opened;
      } else if (result.error().kind() == QuarnError::Kind::Locked) {
        ++refused;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(opened.load(), 1);
  EXPECT_EQ(refused.load(), 7);
}

TEST(WriterLock, AnotherProcessIsRefusedWhileTheWriterLivesAndGetsInAfterItDies) {
  TempDir dir;
  auto writer = open_ok(dir.path(), create_options(2));
  ASSERT_TRUE(writer->add("a", {1, 0}, std::nullopt).ok());
  auto child_open = [&](bool read_only_mode) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      auto result = Database::open(dir.path(), read_only_mode ? read_only() : open_only());
      if (!result.ok()) ::_exit(result.error().kind() == QuarnError::Kind::Locked ? 10 : 11);
      ::_exit((*result)->contains("a") ? 0 : 12);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  // The child inherits the writer's descriptor, and with it the lock, but it opens the lock
  // file anew: a new open file description, refused like any other.
  EXPECT_EQ(child_open(false), 10);
  EXPECT_EQ(child_open(true), 0);
  writer.reset();
  EXPECT_EQ(child_open(false), 0);
}

TEST(ReadOnly, ReadersBesideAWriterSeeTheLastSnapshotPlusTheLogAndWriteNothing) {
  TempDir dir;
  auto writer = open_ok(dir.path(), create_options(2, "l2"));
  ASSERT_TRUE(writer->add("a", {1, 0}, J("{\"n\":1}")).ok());
  ASSERT_TRUE(writer->save().ok());
  ASSERT_TRUE(writer->add("b", {0, 1}, std::nullopt).ok());
  ASSERT_TRUE(*writer->remove("a"));
  const auto files_before = read_bytes(dir.wal_path());

  auto reader = open_ok(dir.path(), read_only());
  ASSERT_NE(reader, nullptr);
  EXPECT_TRUE(reader->read_only());
  EXPECT_EQ(read_state(*reader), read_state(*writer));
  EXPECT_EQ(reader->metric_name(), "euclidean");

  const Status refused = QuarnError::read_only(dir.path());
  EXPECT_EQ(refused.error().text(), "database '" + dir.path() + "' is open read-only; it cannot be written");
  const std::vector<std::pair<const char*, Status>> writes = {
      {"add", reader->add("c", {1, 1}, std::nullopt)},
      {"upsert", reader->upsert("b", {1, 1}, std::nullopt)},
      {"update", reader->update("b", std::nullopt, J("{}"))},
      {"remove", reader->remove("b").ok() ? Status() : reader->remove("b").error()},
      {"add_many", reader->add_many({{"c", {1, 1}, std::nullopt}})},
      {"upsert_many", reader->upsert_many({{"b", {1, 1}, std::nullopt}})},
      {"delete_many", reader->delete_many({"b"}).ok() ? Status() : reader->delete_many({"b"}).error()},
      {"save", reader->save()},
      {"compact", reader->compact()},
  };
  for (const auto& [name, status] : writes) {
    ASSERT_FALSE(status.ok()) << name;
    EXPECT_EQ(status.error().kind(), QuarnError::Kind::ReadOnly) << name;
  }
  EXPECT_EQ(read_bytes(dir.wal_path()), files_before);
  EXPECT_FALSE(fs::exists(dir.path() + "/graph.tmp"));
  EXPECT_EQ(reader->total_slots(), 2u);  // the refused compaction left the slots as they were
  // The writer goes on undisturbed.
  ASSERT_TRUE(writer->add("c", {2, 2}, std::nullopt).ok());
  ASSERT_TRUE(writer->save().ok());
}

TEST(ReadOnly, AnInterruptedSaveIsLeftForTheWriterToFinish) {
  TempDir dir;
  {
    auto db = open_ok(dir.path(), create_options(2));
    ASSERT_TRUE(db->add("a", {1, 0}, std::nullopt).ok());
  }
  // A save that died after writing graph.tmp: only a writer may move it into place.
  {
    auto db = open_ok(dir.path(), open_only());
    ASSERT_TRUE(db->save().ok());
  }
  fs::copy_file(dir.path() + "/graph.quarn", dir.path() + "/graph.tmp");
  auto reader = open_ok(dir.path(), read_only());
  ASSERT_NE(reader, nullptr);
  EXPECT_TRUE(fs::exists(dir.path() + "/graph.tmp"));
  reader.reset();
  auto writer = open_ok(dir.path(), open_only());
  EXPECT_FALSE(fs::exists(dir.path() + "/graph.tmp"));
  EXPECT_TRUE(writer->contains("a"));
}

TEST(ReadOnly, ASaveFinishingWhileAReaderOpensIsSeenWholeOrNotAtAll) {
  // The writer's save runs at a chosen file call of the reader's open: after the reader has
  // loaded the old snapshot and before it reads the log that the save deletes.
  struct Case {
    const char* what;
    FileOp op;
    const char* file;
  };
  for (const Case& c : {Case{"before the log is read", FileOp::Open, "wal.quarn"},
                        Case{"between graph and vectors", FileOp::Open, "vectors.bin"}}) {
    TempDir dir;
    auto writer = open_ok(dir.path(), create_options(2));
    ASSERT_TRUE(writer->add_many({{"a", {1, 0}, std::nullopt}, {"b", {0, 1}, std::nullopt}}).ok());
    ASSERT_TRUE(writer->save().ok());
    ASSERT_TRUE(writer->add("c", {1, 1}, std::nullopt).ok());
    ASSERT_TRUE(writer->add("d", {2, 1}, std::nullopt).ok());
    bool fired = false;
    set_file_fault_hook([&](FileOp op, const std::string& path, const std::string&) {
      if (!fired && op == c.op && path == dir.path() + "/" + c.file) {
        fired = true;
        EXPECT_TRUE(writer->save().ok());
      }
      return 0;
    });
    auto reader = open_ok(dir.path(), read_only());
    set_file_fault_hook({});
    EXPECT_TRUE(fired) << c.what;
    ASSERT_NE(reader, nullptr) << c.what;
    EXPECT_EQ(read_state(*reader), read_state(*writer)) << c.what;
  }
}

TEST(Bounds, NonFiniteComponentsAreRefusedBeforeAnythingIsLogged) {
  TempDir dir;
  auto db = open_ok(dir.path(), create_options(2));
  ASSERT_TRUE(db->add("a", {1, 0}, std::nullopt).ok());
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<std::pair<const char*, Status>> writes = {
      {"add nan", db->add("b", {nan, 0}, std::nullopt)},
      {"add -inf", db->add("b", {0, -inf}, std::nullopt)},
      {"upsert", db->upsert("a", {inf, 0}, std::nullopt)},
      {"update", db->update("a", std::vector<float>{0, nan}, std::nullopt)},
      {"add_many", db->add_many({{"b", {0, 1}, std::nullopt}, {"c", {nan, 1}, std::nullopt}})},
      {"upsert_many", db->upsert_many({{"a", {0, inf}, std::nullopt}})},
  };
  for (const auto& [name, status] : writes) {
    ASSERT_FALSE(status.ok()) << name;
    EXPECT_EQ(status.error().kind(), QuarnError::Kind::InvalidVector) << name;
  }
  EXPECT_EQ(writes[0].second.error().text(), "vector components must be finite: component 0 is NaN");
  EXPECT_EQ(writes[1].second.error().text(), "vector components must be finite: component 1 is -inf");
  EXPECT_EQ(db->size(), 1u);
  db.reset();
  auto reopened = open_ok(dir.path(), open_only());
  EXPECT_EQ(reopened->size(), 1u);
  EXPECT_EQ(reopened->get("a")->first, (std::vector<float>{1, 0}));
}

}  // namespace
}  // namespace quarn::testing
