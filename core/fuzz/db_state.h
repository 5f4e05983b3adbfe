// Whole-database state for the fuzz targets: every live id with its vector bits and metadata.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "fuzz_util.h"
#include "db/db_impl.h"
#include "quarn/json.h"

namespace quarn_fuzz {

struct Record {
  std::vector<float> vector;
  std::optional<quarn::Json> metadata;
};
using State = std::map<std::string, Record>;

inline bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

inline bool same_metadata(const std::optional<quarn::Json>& a, const std::optional<quarn::Json>& b) {
  if (a.has_value() != b.has_value()) return false;
  // NaN never reaches metadata through parsing, so json_equal is exact here.
  return !a || quarn::json_equal(*a, *b);
}

inline bool same_state(const State& a, const State& b) {
  if (a.size() != b.size()) return false;
  for (auto ia = a.begin(), ib = b.begin(); ia != a.end(); ++ia, ++ib) {
    if (ia->first != ib->first || !same_bits(ia->second.vector, ib->second.vector) ||
        !same_metadata(ia->second.metadata, ib->second.metadata)) {
      return false;
    }
  }
  return true;
}

inline State read_state(const quarn::Database& db) {
  State out;
  for (const std::string& id : db.ids()) {
    auto got = db.get(id);
    FUZZ_CHECK(got.ok(), "every listed id can be read");
    out.emplace(id, Record{std::move(got->first), std::move(got->second)});
  }
  FUZZ_CHECK(out.size() == db.size(), "ids() and size() agree");
  return out;
}

// Opens or aborts when `must` is set; otherwise null on failure.
inline std::unique_ptr<quarn::Database> open_db(const std::string& path, const quarn::OpenOptions& options,
                                                bool must) {
  auto outcome = quarn::Database::open(path, options);
  if (!outcome.ok()) {
    if (must) {
      std::fprintf(stderr, "open failed: %s\n", outcome.error().text().c_str());
      FUZZ_CHECK(false, "the open must succeed");
    }
    return nullptr;
  }
  return std::move(*outcome);
}

inline void check_invariants(const quarn::Database& db) {
  if (auto broken = db.check_invariants()) {
    std::fprintf(stderr, "invariant: %s\n", broken->c_str());
    FUZZ_CHECK(false, "database invariants hold");
  }
}

// A saved database reopens with the same records. The database is released before the
// reopen, since a writer holds its directory for as long as it lives.
inline void check_save_roundtrip(std::unique_ptr<quarn::Database> db, const std::string& path) {
  const State before = read_state(*db);
  quarn::Status saved = db->save();
  db.reset();
  if (!saved.ok()) return;  // only a full scratch file system makes a save fail here
  auto reopened = open_db(path, quarn::OpenOptions{}, /*must=*/true);
  check_invariants(*reopened);
  FUZZ_CHECK(same_state(before, read_state(*reopened)), "save -> open keeps every record");
}

}  // namespace quarn_fuzz
