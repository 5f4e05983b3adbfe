#include <limits>
#include <stdexcept>
#include <thread>

#include "database_test_util.h"
#include "util/file.h"

namespace quarn::testing {
namespace {

Item item(const std::string& id, std::vector<float> v, std::optional<Json> meta = std::nullopt) {
  return Item{id, std::move(v), std::move(meta)};
}

TEST(DatabaseBatch, EmptyBatchesChangeAndLogNothing) {
  TempDir dir;
  auto db = make_db(dir, 2);
  EXPECT_TRUE(db->add_many({}).ok());
  EXPECT_TRUE(db->upsert_many({}).ok());
  EXPECT_EQ(*db->delete_many({}), 0u);
  EXPECT_FALSE(dir.wal_exists());
  EXPECT_EQ(db->total_slots(), 0u);
}

TEST(DatabaseBatch, OneBadItemRejectsTheWholeBatchBeforeAnythingIsLogged) {
  TempDir dir;
  auto db = make_db(dir, 2);
  auto wrong = db->add_many({item("a", {1, 1}), item("b", {1, 1, 1}), item("c", {2, 2})});
  ASSERT_FALSE(wrong.ok());
  EXPECT_EQ(wrong.error().text(), "dimension mismatch: expected 2, got 3");
  EXPECT_FALSE(db->upsert_many({item("a", {1, 1}), item("b", {1})}).ok());
  EXPECT_FALSE(dir.wal_exists());
  EXPECT_EQ(db->size(), 0u);

  ASSERT_TRUE(db->add("b", {0, 0}, std::nullopt).ok());
  const auto log = dir.wal_bytes();
  auto dup = db->add_many({item("a", {1, 1}), item("b", {1, 1}), item("c", {2, 2})});
  ASSERT_FALSE(dup.ok());
  EXPECT_EQ(dup.error().text(), "id 'b' already exists, use upsert instead");
  EXPECT_EQ(dir.wal_bytes(), log);
  EXPECT_EQ(db->size(), 1u);
  EXPECT_FALSE(db->contains("a"));
  EXPECT_EQ(db->get("b")->first, (std::vector<float>{0, 0}));
}

// add_many takes each id once, in either form: the first id met again is refused by name with both
// rows, before the ids already stored are looked at and before anything is logged.
TEST(DatabaseBatch, AddManyRefusesAnIdRepeatedInTheBatchAndWritesNothing) {
  struct Case {
    const char* name;
    std::vector<std::string> ids;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"next to each other", {"a", "a"}, "id 'a' appears twice in the batch (rows 0 and 1); add_many takes each id once"},
      {"first repeat named", {"x", "y", "z", "y", "x"},
       "id 'y' appears twice in the batch (rows 1 and 3); add_many takes each id once"},
      {"stored id repeated", {"old", "n", "old"},
       "id 'old' appears twice in the batch (rows 0 and 2); add_many takes each id once"},
  };
  for (const Case& c : cases) {
    for (const bool as_block : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (as_block ? ", add_block" : ", add_many"));
      TempDir dir;
      auto db = make_db(dir, 2);
      ASSERT_TRUE(db->add("old", {9, 9}, std::nullopt).ok());
      const auto log = dir.wal_bytes();
      std::vector<Item> items;
      std::vector<float> floats;
      for (std::size_t r = 0; r < c.ids.size(); ++r) {
        items.push_back(item(c.ids[r], {static_cast<float>(r), 1}));
        floats.insert(floats.end(), {static_cast<float>(r), 1});
      }
      const Status refused = as_block ? db->add_block(ItemBlock{c.ids, floats, {}}) : db->add_many(items);
      ASSERT_FALSE(refused.ok());
      EXPECT_EQ(refused.error().kind(), QuarnError::Kind::InvalidArgument);
      EXPECT_EQ(refused.error().text(), c.message);
      EXPECT_EQ(dir.wal_bytes(), log);
      EXPECT_EQ(db->ids(), std::vector<std::string>{"old"});
      EXPECT_EQ(db->get("old")->first, (std::vector<float>{9, 9}));
    }
  }
}

TEST(DatabaseBatch, UpsertManyUpdatesExistingInPlaceAndAppendsNewOnesConsecutively) {
  TempDir dir;
  auto db = make_db(dir, 2);
  ASSERT_TRUE(db->add_many({item("a", {0, 0}, J(R"({"k":1})")), item("b", {1, 1}, J(R"({"k":2})")),
                            item("c", {2, 2})})
                  .ok());
  ASSERT_TRUE(db->upsert_many({item("x", {7, 7}), item("b", {5, 5}), item("y", {8, 8}, J(R"({"k":3})")),
                               item("a", {4, 4}, J(R"({"k":9})"))})
                  .ok());
  EXPECT_EQ(db->slot_of("a"), Slot{0});
  EXPECT_EQ(db->slot_of("b"), Slot{1});
  EXPECT_EQ(db->slot_of("x"), Slot{3});
  EXPECT_EQ(db->slot_of("y"), Slot{4});
  EXPECT_EQ(db->total_slots(), 5u);
  EXPECT_EQ(db->get("b")->first, (std::vector<float>{5, 5}));
  EXPECT_EQ(db->get("b")->second, std::nullopt);  // no metadata given: cleared
  EXPECT_EQ(db->get("a")->second, J(R"({"k":9})"));
  Filter k2 = Filter::eq("k", J("2"));
  Filter k9 = Filter::eq("k", J("9"));
  EXPECT_EQ(db->count(&k2), 0u);
  EXPECT_EQ(db->count(&k9), 1u);
  EXPECT_EQ(db->check_invariants(), std::nullopt);
}

TEST(DatabaseBatch, IdRepeatedInOneBatchIsStoredOnceWithItsLastOccurrenceAsReplayWould) {
  TempDir dir;
  auto db = make_db(dir, 2);
  ASSERT_TRUE(db->add("old", {9, 9}, std::nullopt).ok());
  ASSERT_TRUE(db->upsert_many({item("a", {1, 1}, J(R"({"v":1})")), item("b", {2, 2}), item("a", {3, 3}, J(R"({"v":3})"))})
                  .ok());
  ASSERT_TRUE(db->upsert_many({item("c", {4, 4}), item("old", {5, 5}), item("c", {6, 6}, J(R"({"v":6})"))}).ok());
  EXPECT_EQ(db->size(), 4u);
  EXPECT_EQ(db->total_slots(), 4u);
  EXPECT_EQ(db->slot_of("a"), Slot{1});
  EXPECT_EQ(db->slot_of("b"), Slot{2});
  EXPECT_EQ(db->slot_of("c"), Slot{3});
  EXPECT_EQ(db->get("a")->first, (std::vector<float>{3, 3}));
  EXPECT_EQ(db->get("c")->second, J(R"({"v":6})"));
  Filter v1 = Filter::eq("v", J("1"));
  EXPECT_EQ(db->count(&v1), 0u);
  auto hits = db->search(std::vector<float>{1, 1}, top(10));
  EXPECT_EQ(hits->size(), 4u);  // no ghost slot holding the first "a"
  EXPECT_EQ(db->check_invariants(), std::nullopt);

  // Every item was logged; replaying the log rebuilds the same records in the same slots.
  auto replayed = make_db(dir, 2);
  ASSERT_TRUE(replayed->replay_wal().ok());
  EXPECT_EQ(replayed->total_slots(), 4u);
  for (const std::string id : {"old", "a", "b", "c"}) {
    EXPECT_EQ(replayed->slot_of(id), db->slot_of(id)) << id;
    EXPECT_EQ(*replayed->get(id), *db->get(id)) << id;
  }
}

TEST(DatabaseBatch, DeleteManyCountsEachLiveIdOnceAndLogsOnlyThose) {
  TempDir dir;
  auto db = make_db(dir, 1);
  ASSERT_TRUE(db->add_many({item("a", {0}, J(R"({"t":1})")), item("b", {1}), item("c", {2})}).ok());
  const auto before = dir.wal_bytes().size();
  EXPECT_EQ(*db->delete_many({"a", "zz", "a", "c"}), 2u);
  // The frame that opens a batch (13 bytes), then two Delete records of one-byte ids, 14 bytes each.
  EXPECT_EQ(dir.wal_bytes().size(), before + 13 + 2 * 14);
  EXPECT_EQ(db->ids(), (std::vector<std::string>{"b"}));
  EXPECT_EQ(db->deleted_count(), 2u);
  Filter t1 = Filter::eq("t", J("1"));
  EXPECT_EQ(db->count(&t1), 0u);
  EXPECT_EQ(db->check_invariants(), std::nullopt);
}

TEST(DatabaseBatch, DeleteManyWhoseSecondRecordFailsDeletesNothingNowOrOnReplay) {
  TempDir dir;
  auto db = make_db(dir, 1);
  ASSERT_TRUE(db->add_many({item("a", {0}), item("b", {1}), item("c", {2})}).ok());
  int writes = 0;
  // Writes: the batch frame, the first Delete record, then the second, which fails.
  set_file_fault_hook([&](FileOp op, const std::string&, const std::string&) {
    return op == FileOp::Write && ++writes == 3 ? EIO : 0;
  });
  const auto deleted = db->delete_many({"a", "b"});
  set_file_fault_hook({});
  ASSERT_FALSE(deleted.ok());
  EXPECT_EQ(db->size(), 3u);
  EXPECT_TRUE(db->contains("a"));
  auto replayed = make_db(dir, 1);
  ASSERT_TRUE(replayed->replay_wal().ok());
  EXPECT_EQ(replayed->size(), 3u);
  EXPECT_TRUE(replayed->contains("a"));
}

TEST(DatabaseBatch, LargeBatchLinkedInParallelIsFullySearchable) {
  const std::size_t n = small_scale() ? 200 : 600;
  const std::size_t dim = 8;
  TempDir dir;
  auto db = make_db(dir, dim);
  auto vectors = random_vectors(n, dim, 3);
  std::vector<Item> items;
  for (std::size_t i = 0; i < n; ++i) items.push_back(item("v" + std::to_string(i), vectors[i]));
  ASSERT_TRUE(db->add_many(std::move(items)).ok());
  EXPECT_EQ(db->size(), n);
  for (std::size_t i = 0; i < n; i += 17) {
    EXPECT_EQ(db->slot_of("v" + std::to_string(i)), static_cast<Slot>(i));
    auto hits = db->search(vectors[i], top(1));
    ASSERT_EQ(hits->size(), 1u);
    EXPECT_EQ((*hits)[0].id, "v" + std::to_string(i));
  }
  EXPECT_EQ(db->check_invariants(), std::nullopt);
}

struct ProgressCall {
  std::size_t done;
  std::size_t total;
  std::thread::id thread;
};

BatchOptions recording(std::vector<ProgressCall>& calls) {
  return BatchOptions{[&calls](std::size_t done, std::size_t total) {
    calls.push_back({done, total, std::this_thread::get_id()});
  }};
}

std::vector<Item> numbered_items(const std::string& prefix, std::size_t n, std::size_t dim, std::uint32_t seed) {
  auto vectors = random_vectors(n, dim, seed);
  std::vector<Item> items;
  for (std::size_t i = 0; i < n; ++i) {
    items.push_back(item(prefix + std::to_string(i), vectors[i], J("{\"i\":" + std::to_string(i) + "}")));
  }
  return items;
}

// A write with progress must still be one batch frame holding every record (the same log bytes as
// without progress), and its reports come from the calling thread, rise, stay near 1% steps and
// end at the batch's size, also when repeated ids or in-place updates make fewer graph links.
TEST(DatabaseBatch, ProgressKeepsTheBatchOneLogFrameAndReportsRisingCountsUpToTheTotal) {
  const std::size_t n = small_scale() ? 300 : 1000;
  struct Case {
    const char* name;
    bool upsert;
    std::size_t existing;  // records added before the batch, ids "r0".. with the batch's vectors
    std::vector<Item> batch;
  };
  std::vector<Item> repeated = numbered_items("r", 40, 4, 5);
  for (std::size_t i = 0; i < 20; ++i) repeated.push_back(item("r" + std::to_string(i), {1, 2, 3, 4}));
  std::vector<Item> mixed = numbered_items("r", n, 4, 6);
  const std::vector<Case> cases = {
      {"add_many, parallel linking", false, 0, numbered_items("r", n, 4, 7)},
      {"add_many, three records", false, 0, numbered_items("r", 3, 4, 8)},
      {"upsert_many, repeated ids", true, 0, repeated},
      {"upsert_many, half updates", true, n / 2, mixed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir with_dir;
    TempDir without_dir;
    auto with = make_db(with_dir, 4);
    auto without = make_db(without_dir, 4);
    std::vector<Item> before(c.batch.begin(), c.batch.begin() + static_cast<std::ptrdiff_t>(c.existing));
    if (!before.empty()) {
      ASSERT_TRUE(with->add_many(before).ok());
      ASSERT_TRUE(without->add_many(before).ok());
    }
    const std::size_t log_before = with_dir.wal_bytes().size();
    std::vector<ProgressCall> calls;
    const Status written = c.upsert ? with->upsert_many(c.batch, recording(calls)) : with->add_many(c.batch, recording(calls));
    ASSERT_TRUE(written.ok());
    ASSERT_TRUE((c.upsert ? without->upsert_many(c.batch) : without->add_many(c.batch)).ok());

    const auto log = with_dir.wal_bytes();
    EXPECT_EQ(log, without_dir.wal_bytes());
    std::vector<std::uint8_t> header;
    put_u32le(header, static_cast<std::uint32_t>(c.batch.size()));
    const auto batch_frame = frame(4, header);
    ASSERT_GE(log.size(), log_before + batch_frame.size());
    EXPECT_TRUE(std::equal(batch_frame.begin(), batch_frame.end(), log.begin() + static_cast<std::ptrdiff_t>(log_before)));

    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().done, c.batch.size());
    EXPECT_LE(calls.size(), 101u);
    for (std::size_t i = 0; i < calls.size(); ++i) {
      EXPECT_EQ(calls[i].total, c.batch.size());
      EXPECT_EQ(calls[i].thread, std::this_thread::get_id());
      if (i > 0) {
        EXPECT_GT(calls[i].done, calls[i - 1].done);
      }
    }
    if (c.batch.size() >= 100) {
      EXPECT_GE(calls.size(), 10u);  // reports along the way, not only at the end
    }
    EXPECT_EQ(with->ids(), without->ids());
    EXPECT_EQ(with->check_invariants(), std::nullopt);
  }
}

// A callback that throws must not stop the batch halfway: every record is linked and searchable,
// and the callback is not called again.
TEST(DatabaseBatch, ThrowingProgressCallbackStopsTheReportsButNotTheBatch) {
  const std::size_t n = small_scale() ? 300 : 800;
  TempDir dir;
  auto db = make_db(dir, 4);
  std::vector<Item> items = numbered_items("t", n, 4, 9);
  std::size_t calls = 0;
  BatchOptions options{[&](std::size_t, std::size_t) {
    ++calls;
    throw std::runtime_error("stop");
  }};
  ASSERT_TRUE(db->add_many(items, options).ok());
  EXPECT_EQ(calls, 1u);
  EXPECT_EQ(db->size(), n);
  for (std::size_t i = 0; i < n; i += 37) {
    auto hits = db->search(items[i].vector, top(1));
    ASSERT_EQ(hits->size(), 1u);
    EXPECT_EQ((*hits)[0].id, items[i].id);
  }
  EXPECT_EQ(db->check_invariants(), std::nullopt);
}

// The Insert frame of one row, built by hand from the documented layout.
std::vector<std::uint8_t> insert_frame(const std::string& id, const std::vector<float>& v, const std::string& meta) {
  std::vector<std::uint8_t> payload;
  put_str(payload, id);
  put_vec(payload, v);
  put_str(payload, meta);  // length 0 means no metadata
  return frame(1, payload);
}

// A block write must log exactly what one batch of Insert records holds (the bytes the item form
// logged before blocks existed) and leave the same records in the same slots as the item form,
// also when ids repeat inside the block or rows update existing records.
TEST(DatabaseBatch, BlockWritesLogTheBytesOfOneInsertBatchAndStoreWhatTheItemFormStores) {
  const std::size_t dim = 3;
  struct Case {
    const char* name;
    bool upsert;
    std::vector<std::string> ids;
    bool with_metadata;
  };
  const std::vector<Case> cases = {
      {"add_block, distinct ids", false, {"a", "b", "c", "d", "e"}, true},
      {"add_block, no metadata", false, {"a", "b", "c"}, false},
      {"upsert_block, repeated new ids", true, {"a", "b", "a", "c", "b"}, true},
      {"upsert_block, updates and repeats", true, {"x", "old1", "y", "x", "old0"}, true},
  };
  const auto vectors = random_vectors(5, dim, 21);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t n = c.ids.size();
    std::vector<float> floats;
    std::vector<Item> items;
    std::vector<std::optional<Json>> metadata;
    std::vector<std::uint8_t> expected_log;
    std::vector<std::uint8_t> count;
    put_u32le(count, static_cast<std::uint32_t>(n));
    expected_log = frame(4, count);
    for (std::size_t r = 0; r < n; ++r) {
      floats.insert(floats.end(), vectors[r].begin(), vectors[r].end());
      const std::string meta = c.with_metadata && r % 2 == 0 ? "{\"r\":" + std::to_string(r) + "}" : "";
      const std::optional<Json> json = meta.empty() ? std::nullopt : std::optional<Json>(J(meta));
      items.push_back(item(c.ids[r], vectors[r], json));
      if (c.with_metadata) metadata.push_back(json);
      const auto f = insert_frame(c.ids[r], vectors[r], meta);
      expected_log.insert(expected_log.end(), f.begin(), f.end());
    }
    TempDir block_dir;
    TempDir items_dir;
    auto by_block = make_db(block_dir, dim);
    auto by_items = make_db(items_dir, dim);
    if (c.upsert) {
      for (auto* db : {by_block.get(), by_items.get()}) {
        ASSERT_TRUE(db->add_many({item("old0", {9, 9, 9}, J(R"({"o":0})")), item("old1", {8, 8, 8})}).ok());
      }
    }
    const std::size_t log_before = block_dir.wal_bytes().size();
    ItemBlock block{c.ids, floats, metadata};
    ASSERT_TRUE((c.upsert ? by_block->upsert_block(std::move(block)) : by_block->add_block(std::move(block))).ok());
    ASSERT_TRUE((c.upsert ? by_items->upsert_many(items) : by_items->add_many(items)).ok());

    const auto log = block_dir.wal_bytes();
    EXPECT_EQ(std::vector<std::uint8_t>(log.begin() + static_cast<std::ptrdiff_t>(log_before), log.end()), expected_log);
    EXPECT_EQ(items_dir.wal_bytes(), log);
    EXPECT_EQ(by_block->ids(), by_items->ids());
    for (const std::string& id : by_items->ids()) {
      EXPECT_EQ(by_block->slot_of(id), by_items->slot_of(id)) << id;
      EXPECT_EQ(*by_block->get(id), *by_items->get(id)) << id;
    }
    EXPECT_EQ(by_block->check_invariants(), std::nullopt);
  }
}

TEST(DatabaseBatch, BlockThatDoesNotMatchItsIdsIsRefusedBeforeAnythingIsLogged) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    std::vector<float> floats;
    std::size_t metadata_entries;
    std::string error;
  };
  const std::vector<Case> cases = {
      {std::vector<float>(12, 0.5f), 0, "dimension mismatch: expected 4, got 6"},
      {std::vector<float>(7, 0.5f), 0, "7 floats for 2 vectors of dimension 4"},
      {std::vector<float>(8, 0.5f), 1, "1 metadata entries for 2 records"},
      {{0, 0, 0, 0, 1, 1, nan, 1}, 0, "vector components must be finite: component 2 is NaN"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    TempDir dir;
    auto db = make_db(dir, 4);
    for (const bool upsert : {false, true}) {
      ItemBlock block{{"a", "b"}, c.floats, std::vector<std::optional<Json>>(c.metadata_entries)};
      const Status s = upsert ? db->upsert_block(std::move(block)) : db->add_block(std::move(block));
      ASSERT_FALSE(s.ok());
      EXPECT_EQ(s.error().text(), c.error);
    }
    EXPECT_FALSE(dir.wal_exists());
    EXPECT_EQ(db->total_slots(), 0u);
  }
}

}  // namespace
}  // namespace quarn::testing
