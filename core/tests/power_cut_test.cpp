// The power-cut simulation itself: what survives a cut, file by file and in the directory.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <set>

#include "scratch_dir.h"
#include "util/file.h"
#include "util/power_cut.h"

namespace quarn::testing {
namespace {

namespace fs = std::filesystem;

using Bytes = std::vector<std::uint8_t>;

std::vector<std::uint8_t> pattern(std::size_t n, std::uint8_t salt) {
  std::vector<std::uint8_t> out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(i * 7 + salt);
  return out;
}

std::optional<std::vector<std::uint8_t>> contents(const std::string& path) {
  if (!fs::exists(path)) return std::nullopt;
  auto bytes = read_file(path);
  return bytes.ok() ? std::optional(std::move(*bytes)) : std::nullopt;
}

void write_new(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  auto file = FileHandle::create_truncate(path);
  ASSERT_TRUE(file.ok());
  ASSERT_TRUE(file->write_all(bytes.data(), bytes.size()).ok());
  ASSERT_TRUE(file->sync().ok());
}

void append(const std::string& path, const std::vector<std::uint8_t>& bytes, bool sync) {
  auto file = FileHandle::open_append(path);
  ASSERT_TRUE(file.ok());
  ASSERT_TRUE(file->write_all(bytes.data(), bytes.size()).ok());
  if (sync) {
    ASSERT_TRUE(file->sync_data().ok());
  }
}

std::vector<std::uint8_t> concat(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

using Outcome = std::pair<std::optional<Bytes>, std::optional<Bytes>>;  // what "f" and "g" hold

Bytes prefix(const Bytes& b, std::size_t n) { return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n)); }

// Runs `steps` under a simulation on a directory that holds a durable file "f", cuts, and
// restores with each of 40 seeds; every outcome seen.
std::set<Outcome> outcomes(const Bytes& f, const std::function<void(const std::string& dir)>& steps) {
  std::set<Outcome> seen;
  for (std::uint64_t seed = 0; seed < 40; ++seed) {
    ScratchDir dir;
    write_new(dir.path() + "/f", f);
    {
      PowerCut power(dir.path(), 0);
      steps(dir.path());
      auto restored = power.restore(seed);
      EXPECT_TRUE(restored.ok()) << restored.error().text();
    }
    seen.insert({contents(dir.path() + "/f"), contents(dir.path() + "/g")});
  }
  return seen;
}

TEST(PowerCut, EachChangeNotYetSyncedIsLostOrKeptAsAPrefixOfPages) {
  const Bytes f = pattern(1000, 1), more = pattern(9000, 2), small = pattern(100, 3);
  const Bytes grown = concat(f, more);
  struct Case {
    const char* name;
    std::function<void(const std::string&)> steps;
    std::set<Outcome> expected;  // every outcome allowed, and each seen over the seeds
  };
  const std::vector<Case> cases = {
      {"append without sync: pieces end at page boundaries",
       [&](const std::string& d) { append(d + "/f", more, false); },
       {{f, {}}, {prefix(grown, 4096), {}}, {prefix(grown, 8192), {}}, {grown, {}}}},
      {"synced append stays, the append after it may go",
       [&](const std::string& d) {
         append(d + "/f", prefix(more, 500), true);
         append(d + "/f", small, false);
       },
       {{concat(f, prefix(more, 500)), {}}, {concat(concat(f, prefix(more, 500)), small), {}}}},
      {"rewrite without sync: old contents, truncated, or new",
       [&](const std::string& d) {
         auto file = FileHandle::create_truncate(d + "/f");
         ASSERT_TRUE(file->write_all(small.data(), small.size()).ok());
       },
       {{f, {}}, {Bytes{}, {}}, {small, {}}}},
      {"truncate without sync", [&](const std::string& d) { ASSERT_TRUE(truncate_file(d + "/f", 10).ok()); },
       {{f, {}}, {prefix(f, 10), {}}}},
      {"synced file whose creation the directory never synced",
       [&](const std::string& d) { write_new(d + "/g", small); },
       {{f, {}}, {f, small}}},
      {"created file with a directory sync",
       [&](const std::string& d) {
         write_new(d + "/g", small);
         ASSERT_TRUE(sync_directory(d).ok());
       },
       {{f, small}}},
      {"rename without a directory sync", [&](const std::string& d) { ASSERT_TRUE(rename_file(d + "/f", d + "/g").ok()); },
       {{f, {}}, {{}, f}}},
      {"unlink without a directory sync", [&](const std::string& d) { ASSERT_TRUE(remove_file(d + "/f").ok()); },
       {{f, {}}, {{}, {}}}},
      {"directory changes are kept in order: a replacement needs its creation",
       [&](const std::string& d) {
         write_new(d + "/g", small);
         ASSERT_TRUE(rename_file(d + "/g", d + "/f").ok());
       },
       {{f, {}}, {f, small}, {small, {}}}},
      {"replacement by a synced rename", [&](const std::string& d) {
         write_new(d + "/g", small);
         ASSERT_TRUE(rename_file(d + "/g", d + "/f").ok());
         ASSERT_TRUE(sync_directory(d).ok());
       },
       {{small, {}}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(outcomes(f, c.steps), c.expected) << c.name;
  }
}

TEST(PowerCut, CallsFromTheCutOnFailAndChangeNothing) {
  ScratchDir dir;
  const std::string path = dir.path() + "/f";
  write_new(path, pattern(10, 1));
  PowerCut power(dir.path(), 3);
  auto file = FileHandle::open_append(path);  // call 1
  ASSERT_TRUE(file.ok());
  const Bytes more = pattern(5, 2);
  ASSERT_TRUE(file->write_all(more.data(), more.size()).ok());  // call 2
  const Status cut = file->sync_data();                          // call 3: the power is off
  ASSERT_FALSE(cut.ok());
  EXPECT_EQ(cut.error().os_errno(), EIO);
  EXPECT_TRUE(power.is_cut());
  EXPECT_FALSE(rename_file(path, dir.path() + "/g").ok());
  EXPECT_TRUE(fs::exists(path));
  auto restored = power.restore(1);
  ASSERT_TRUE(restored.ok());
  const auto left = contents(path);
  EXPECT_TRUE(left == pattern(10, 1) || left == concat(pattern(10, 1), more));
}

}  // namespace
}  // namespace quarn::testing
