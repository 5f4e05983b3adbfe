// The calls a backup makes through file_copy.cpp (resolving paths, listing directories, fstat of
// the files it holds, removing its hidden directory) fail through the fault hook like every other
// file call, and a failure there leaves no destination behind.
#include <algorithm>
#include <filesystem>
#include <functional>

#include "persistence_test_util.h"
#include "scoped_hook.h"
#include "util/file.h"

namespace quarn::testing {
namespace {

constexpr std::size_t kDim = 4;

std::vector<float> vec(float a) { return {a, 1.0f, 0.5f, -0.5f}; }

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A database with one saved record and, with `logged`, one more in the log.
std::unique_ptr<Database> small_db(const std::string& dir, bool logged) {
  auto db = open_ok(dir, create_options(kDim, "l2"));
  if (!db || !db->add("a", vec(1), std::nullopt).ok() || !db->save().ok()) return nullptr;
  if (logged && !db->add("b", vec(2), std::nullopt).ok()) return nullptr;
  return db;
}

bool in_backup_temp(const std::string& path) { return path.find(".backup-") != std::string::npos; }

struct Paths {
  std::string src;
  std::string dest;
};

struct Fault {
  const char* step;
  FileOp op;
  std::function<bool(const std::string& path, const Paths& paths)> at;
  int skip;  // matching calls let through before the one that fails
};

TEST(BackupFileCalls, EachCallOutsideTheOpenReadWritePathCanFailAndLeavesNoDestination) {
  const std::vector<Fault> faults = {
      {"resolving the source", FileOp::Stat, [](const std::string& p, const Paths& d) { return p == d.src; }, 0},
      {"resolving the destination", FileOp::Stat, [](const std::string& p, const Paths& d) { return p == d.dest; }, 0},
      {"listing the destination", FileOp::Read, [](const std::string& p, const Paths& d) { return p == d.dest; }, 0},
      {"listing the source", FileOp::Read, [](const std::string& p, const Paths& d) { return p == d.src; }, 0},
      // The first Stat of graph.quarn is the listing's stat by path, the second the fstat of the
      // file once it is held open.
      {"fstat of a held file", FileOp::Stat,
       [](const std::string& p, const Paths& d) { return p == d.src + "/graph.quarn"; }, 1},
  };
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.step);
    TempDir dir;
    TempDir out;
    auto db = small_db(dir.path(), true);
    ASSERT_TRUE(db);
    const Paths paths{dir.path(), out.path() + "/copy"};
    fs::create_directory(paths.dest);  // an empty destination is listed before it is replaced
    int seen = 0;
    std::string failed;
    Status backed_up = Status::success();
    {
      ScopedHook hook([&](FileOp op, const std::string& path, const std::string&) {
        if (op != f.op || !f.at(path, paths) || seen++ < f.skip) return 0;
        failed = path;
        return EIO;
      });
      backed_up = db->backup(paths.dest);
    }
    ASSERT_FALSE(failed.empty()) << "the hook never saw the call";
    ASSERT_FALSE(backed_up.ok());
    EXPECT_NE(backed_up.error().text().find(failed + ": Input/output error"), std::string::npos)
        << backed_up.error().text();
    EXPECT_EQ(names_in(out.path()), std::vector<std::string>{"copy"});
    EXPECT_TRUE(names_in(paths.dest).empty());
    Status again = db->backup(paths.dest);
    ASSERT_TRUE(again.ok()) << again.error().text();
    auto copy = open_ok(paths.dest, read_only());
    ASSERT_TRUE(copy);
    EXPECT_TRUE(read_state(*copy) == read_state(*db));
  }
}

// A copy that fails and whose hidden directory then cannot be removed reports the copy's error,
// not the cleanup's, and still puts nothing at the destination.
TEST(BackupFileCalls, AFailedCleanupDoesNotHideTheCopysErrorNorMakeTheDestination) {
  TempDir dir;
  TempDir out;
  auto db = small_db(dir.path(), false);
  ASSERT_TRUE(db);
  const std::string dest = out.path() + "/copy";
  bool removal_refused = false;
  Status backed_up = Status::success();
  {
    ScopedHook hook([&](FileOp op, const std::string& path, const std::string&) {
      if (op == FileOp::Write && in_backup_temp(path) && path.ends_with("vectors.bin")) return ENOSPC;
      if (op == FileOp::Unlink && in_backup_temp(path) && !path.ends_with(".bin") && !path.ends_with(".quarn")) {
        removal_refused = true;
        return EBUSY;
      }
      return 0;
    });
    backed_up = db->backup(dest);
  }
  ASSERT_TRUE(removal_refused);
  ASSERT_FALSE(backed_up.ok());
  EXPECT_NE(backed_up.error().text().find("No space left"), std::string::npos) << backed_up.error().text();
  EXPECT_FALSE(fs::exists(dest));
  // What stays is the hidden directory, emptied of the files copied into it.
  const auto left = names_in(out.path());
  ASSERT_EQ(left.size(), 1u);
  EXPECT_TRUE(in_backup_temp(left[0]));
  EXPECT_TRUE(names_in(out.path() + "/" + left[0]).empty());
}

}  // namespace
}  // namespace quarn::testing
