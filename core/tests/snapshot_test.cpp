// Snapshot files: exact bytes, round trips through save and reopen, the quantizer file, and
// the load failures of damaged graph files.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "hnsw_test_util.h"
#include "persistence_test_util.h"
#include "util/bytes.h"
#include "util/file.h"
#include "storage/storage.h"
#include "storage/graph_parse.h"

namespace quarn::testing {
namespace {

std::vector<SearchResult> search(const Database& db, const std::vector<float>& q, std::size_t k,
                                 const Filter* filter = nullptr) {
  SearchParams params;
  params.k = k;
  params.filter = filter;
  auto found = db.search(q, params);
  EXPECT_TRUE(found.ok());
  return found.ok() ? *found : std::vector<SearchResult>{};
}

void expect_same_results(const std::vector<SearchResult>& a, const std::vector<SearchResult>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].id, b[i].id);
    EXPECT_EQ(a[i].distance, b[i].distance);
  }
}

// A database that went through every kind of write.
void fill_with_every_operation(Database& db, std::size_t dim) {
  auto vecs = random_vectors(40, dim, 7);
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(db.add("r" + std::to_string(i), vecs[i], J("{\"i\":" + std::to_string(i) + ",\"g\":\"x\"}")).ok());
  }
  ASSERT_TRUE(db.add("plain", vecs[10], std::nullopt).ok());
  ASSERT_TRUE(db.upsert("r3", vecs[11], J("{\"g\":\"y\"}")).ok());
  ASSERT_TRUE(db.upsert("new", vecs[12], J("{\"f\":1.5}")).ok());
  ASSERT_TRUE(db.update("r4", vecs[13], std::nullopt).ok());
  ASSERT_TRUE(db.update("r5", std::nullopt, J("{\"g\":\"z\",\"n\":null}")).ok());
  ASSERT_TRUE(*db.remove("r6"));
  std::vector<Item> batch;
  for (int i = 0; i < 12; ++i) batch.push_back({"b" + std::to_string(i), vecs[14 + i], J("{\"b\":true}")});
  ASSERT_TRUE(db.add_many(batch).ok());
  ASSERT_TRUE(db.upsert_many({{"b0", vecs[30], std::nullopt}, {"u", vecs[31], J("{\"u\":[1,2]}")}}).ok());
  ASSERT_EQ(*db.delete_many({"b1", "b2", "missing"}), 2u);
  ASSERT_TRUE(db.add("", vecs[32], J("{\"empty id\":\"\\u00e9\"}")).ok());
}

TEST(SnapshotFiles, EmptyDatabaseWritesTheFortyFiveByteGraphAndAnEmptyVectorFile) {
  TempDir dir;
  auto db = open_ok(dir.path(), create_options(3));
  ASSERT_TRUE(db->save().ok());
  EXPECT_EQ(read_bytes(dir.path() + "/graph.quarn"),
            hex("47 57 53 48 02 00 00 00 03 00 00 00 00 10 00 00 00 C8 00 00 00 FF FF FF FF 00 00 00 00 00 00 00 00 "
                "00 00 00 00 41 54 45 4D 00 00 00 00"));
  EXPECT_TRUE(fs::exists(dir.path() + "/vectors.bin"));
  EXPECT_EQ(fs::file_size(dir.path() + "/vectors.bin"), 0u);
  EXPECT_FALSE(fs::exists(dir.path() + "/vectors.sq8"));

  auto reopened = open_ok(dir.path(), read_only());
  EXPECT_EQ(reopened->size(), 0u);
  EXPECT_EQ(reopened->dim(), 3u);
  EXPECT_EQ(reopened->metric_name(), "cosine");
}

TEST(SnapshotFiles, MetaRecordOfSlotZeroIsTheTwentyDocumentedBytes) {
  TempDir dir;
  {
    auto file = FileHandle::create_truncate(dir.path() + "/meta");
    ASSERT_TRUE(file.ok());
    BufferedWriter out(std::move(*file));
    const Json metadata = J("{\"k\":1}");
    const std::vector<MetaRecordView> records = {{"a", 0, &metadata}};
    ASSERT_TRUE(write_metadata_section(out, records).ok());
    ASSERT_TRUE(out.close().ok());
  }
  EXPECT_EQ(read_bytes(dir.path() + "/meta"),
            hex("41 54 45 4D 01 00 00 00 00 00 00 00 01 00 00 00 61 07 00 00 00 7B 22 6B 22 3A 31 7D"));

  // The same record closes the graph file of a database holding it.
  auto db = open_ok(dir.path() + "/db", create_options(2));
  ASSERT_TRUE(db->add("a", {1.0f, 2.0f}, J("{\"k\":1}")).ok());
  ASSERT_TRUE(db->save().ok());
  auto graph = read_bytes(dir.path() + "/db/graph.quarn");
  ASSERT_GE(graph.size(), 20u);
  EXPECT_EQ(std::vector<std::uint8_t>(graph.end() - 20, graph.end()),
            hex("00 00 00 00 01 00 00 00 61 07 00 00 00 7B 22 6B 22 3A 31 7D"));
}

TEST(SnapshotFiles, DeletedSlotKeepsItsNodeAndVectorButLosesItsRecord) {
  TempDir dir;
  auto db = open_ok(dir.path(), create_options(4));
  for (const char* id : {"a", "b", "c"}) ASSERT_TRUE(db->add(id, {1, 2, 3, 4}, std::nullopt).ok());
  ASSERT_TRUE(*db->remove("b"));
  ASSERT_TRUE(db->save().ok());

  auto bytes = read_bytes(dir.path() + "/graph.quarn");
  ByteReader in(bytes);
  auto graph = storage_detail::parse_graph(in);
  ASSERT_TRUE(graph.ok()) << graph.error().text();
  EXPECT_EQ(graph->deleted, (std::unordered_set<Slot>{1}));
  EXPECT_EQ(graph->links.size(), 3u);
  auto records = storage_detail::parse_metadata_section(in, 3, graph->deleted);
  ASSERT_TRUE(records.ok()) << records.error().text();
  EXPECT_EQ(records->size(), 2u);
  EXPECT_EQ(fs::file_size(dir.path() + "/vectors.bin"), 3u * 4 * (4 + 1));
  expect_norms_match_vectors(dir.path() + "/vectors.bin", 4);
}

TEST(SnapshotRoundTrip, EveryOperationSurvivesSaveAndReopen) {
  TempDir dir;
  const std::size_t dim = 6;
  auto db = open_ok(dir.path(), create_options(dim, "l2"));
  fill_with_every_operation(*db, dim);
  ASSERT_EQ(db->check_invariants(), std::nullopt);
  ASSERT_TRUE(db->save().ok());
  EXPECT_FALSE(dir.wal_exists());

  const DbState before = read_state(*db);
  auto queries = random_vectors(5, dim, 99);
  const Filter filter = Filter::eq("g", J("\"x\""));
  std::vector<std::vector<SearchResult>> results_before, filtered_before;
  for (const auto& q : queries) {
    results_before.push_back(search(*db, q, 5));
    filtered_before.push_back(search(*db, q, 3, &filter));
  }

  auto reopened = open_ok(dir.path(), read_only());
  ASSERT_NE(reopened, nullptr);
  EXPECT_EQ(read_state(*reopened), before);
  EXPECT_EQ(reopened->size(), db->size());
  EXPECT_EQ(reopened->total_slots(), db->total_slots());
  EXPECT_EQ(reopened->deleted_count(), db->deleted_count());
  EXPECT_EQ(reopened->metric_name(), "euclidean");
  EXPECT_EQ(reopened->check_invariants(), std::nullopt);
  EXPECT_EQ(reopened->count(&filter), db->count(&filter));
  for (std::size_t i = 0; i < queries.size(); ++i) {
    expect_same_results(search(*reopened, queries[i], 5), results_before[i]);
    expect_same_results(search(*reopened, queries[i], 3, &filter), filtered_before[i]);
  }
}

TEST(SnapshotRoundTrip, GraphIsReloadedListForList) {
  TempDir dir;
  auto db = open_ok(dir.path() + "/a", create_options(3));
  auto vecs = random_vectors(300, 3, 3);
  for (std::size_t i = 0; i < vecs.size(); ++i) ASSERT_TRUE(db->add("v" + std::to_string(i), vecs[i], std::nullopt).ok());
  for (int i = 0; i < 300; i += 7) ASSERT_TRUE(*db->remove("v" + std::to_string(i)));
  ASSERT_TRUE(db->save().ok());
  auto reopened = open_ok(dir.path() + "/a", read_only());
  // Saving the reopened database writes the same graph (the deleted set may come out in
  // another order).
  copy_dir(dir.path() + "/a", dir.path() + "/b");
  auto copy = open_ok(dir.path() + "/b", open_only());
  ASSERT_TRUE(copy->save().ok());
  auto first = read_bytes(dir.path() + "/a/graph.quarn");
  auto second = read_bytes(dir.path() + "/b/graph.quarn");
  ByteReader r1(first), r2(second);
  auto g1 = storage_detail::parse_graph(r1);
  auto g2 = storage_detail::parse_graph(r2);
  ASSERT_TRUE(g1.ok() && g2.ok());
  EXPECT_EQ(g1->entry_point, g2->entry_point);
  EXPECT_EQ(g1->top_layer, g2->top_layer);
  EXPECT_EQ(g1->deleted, g2->deleted);
  ASSERT_EQ(g1->links.size(), g2->links.size());
  for (Slot s = 0; s < g1->links.size(); ++s) {
    ASSERT_EQ(g1->links.level(s), g2->links.level(s));
    for (std::size_t l = 0; l <= g1->links.level(s); ++l) {
      EXPECT_EQ(testing_util::list_of(g1->links, s, l), testing_util::list_of(g2->links, s, l))
          << "slot " << s << " layer " << l;
    }
  }
  EXPECT_EQ(read_bytes(dir.path() + "/a/vectors.bin"), read_bytes(dir.path() + "/b/vectors.bin"));
}

TEST(SnapshotRoundTrip, WritesAfterReopenLeaveTheMappedFileUntouchedUntilTheNextSave) {
  TempDir dir;
  const std::size_t dim = 4;
  auto db = open_ok(dir.path(), create_options(dim));
  fill_with_every_operation(*db, dim);
  ASSERT_TRUE(db->save().ok());
  db.reset();
  const auto on_disk = read_bytes(dir.path() + "/vectors.bin");

  auto reopened = open_ok(dir.path(), open_only());
  DbState expected = read_state(*reopened);
  ASSERT_TRUE(reopened->add("late", {9, 8, 7, 6}, J("{\"late\":1}")).ok());
  ASSERT_TRUE(reopened->update("r0", std::vector<float>{1, 1, 1, 1}, std::nullopt).ok());
  expected["late"] = record_state({9, 8, 7, 6}, J("{\"late\":1}"));
  expected["r0"].vector = {1, 1, 1, 1};
  EXPECT_EQ(read_state(*reopened), expected);
  EXPECT_EQ(read_bytes(dir.path() + "/vectors.bin"), on_disk);
  auto hit = search(*reopened, {9, 8, 7, 6}, 1);
  ASSERT_EQ(hit.size(), 1u);
  EXPECT_EQ(hit[0].id, "late");

  ASSERT_TRUE(reopened->save().ok());
  EXPECT_NE(read_bytes(dir.path() + "/vectors.bin"), on_disk);
  expect_norms_match_vectors(dir.path() + "/vectors.bin", dim);
  reopened.reset();
  EXPECT_EQ(read_state(*open_ok(dir.path(), read_only())), expected);
}

TEST(SnapshotRoundTrip, LogRecordsAfterASaveAreReplayedOverIt) {
  TempDir dir;
  auto db = open_ok(dir.path(), create_options(2));
  ASSERT_TRUE(db->add("a", {1, 2}, std::nullopt).ok());
  ASSERT_TRUE(db->save().ok());
  ASSERT_TRUE(db->add("b", {3, 4}, J("{\"t\":\"b\"}")).ok());
  ASSERT_TRUE(*db->remove("a"));
  EXPECT_TRUE(dir.wal_exists());
  const DbState expected = read_state(*db);
  db.reset();
  auto reopened = open_ok(dir.path(), read_only());
  EXPECT_EQ(read_state(*reopened), expected);
  EXPECT_EQ(reopened->check_invariants(), std::nullopt);
}

TEST(SnapshotQuantized, QuantizeSettingWritesCodesAndTheNextOpenSearchesQuantized) {
  TempDir dir;
  const std::size_t dim = 5;
  auto db = open_ok(dir.path(), create_options(dim, nullptr, /*quantize=*/true));
  EXPECT_TRUE(db->quantize_setting());
  EXPECT_FALSE(db->quantized_search());
  auto vecs = random_vectors(20, dim, 5);
  for (std::size_t i = 0; i < vecs.size(); ++i) ASSERT_TRUE(db->add(std::to_string(i), vecs[i], std::nullopt).ok());
  ASSERT_TRUE(*db->remove("3"));
  ASSERT_TRUE(db->save().ok());
  EXPECT_EQ(fs::file_size(dir.path() + "/vectors.sq8"), 4 + 8 * dim + 20 * dim);
  EXPECT_FALSE(fs::exists(dir.path() + "/vectors.sq8.tmp"));

  // The codes are those of a quantizer trained on every slot, the deleted one included.
  std::vector<float> all;
  for (const auto& v : vecs) all.insert(all.end(), v.begin(), v.end());
  const ScalarQuantizer q = ScalarQuantizer::train(all, dim);
  auto file = read_bytes(dir.path() + "/vectors.sq8");
  const auto codes = q.quantize_batch(all, dim);
  EXPECT_EQ(std::vector<std::uint8_t>(file.end() - static_cast<std::ptrdiff_t>(codes.size()), file.end()), codes);

  auto reopened = open_ok(dir.path(), read_only());
  EXPECT_TRUE(reopened->quantized_search());
  EXPECT_TRUE(reopened->quantize_setting());
  EXPECT_TRUE(reopened->stats().uses_quantized_search);
}

TEST(SnapshotQuantized, ReopeningWithQuantizeTrueAddsTheCodeFile) {
  TempDir dir;
  auto db = open_ok(dir.path(), create_options(2));
  ASSERT_TRUE(db->add("a", {1, 2}, std::nullopt).ok());
  ASSERT_TRUE(db->save().ok());
  db.reset();
  EXPECT_FALSE(fs::exists(dir.path() + "/vectors.sq8"));
  auto again = open_ok(dir.path(), create_options(2, nullptr, true));
  EXPECT_FALSE(again->quantized_search());
  ASSERT_TRUE(again->save().ok());
  EXPECT_TRUE(fs::exists(dir.path() + "/vectors.sq8"));
  again.reset();
  EXPECT_TRUE(open_ok(dir.path(), read_only())->quantized_search());
}

TEST(SnapshotQuantized, SaveWithQuantizeOffRemovesAStaleCodeFile) {
  TempDir dir;
  auto db = open_ok(dir.path(), create_options(2));
  ASSERT_TRUE(db->add("a", {1, 2}, std::nullopt).ok());
  write_bytes(dir.path() + "/vectors.sq8", hex("02 00 00 00"));
  ASSERT_TRUE(db->save().ok());
  EXPECT_FALSE(fs::exists(dir.path() + "/vectors.sq8"));
  EXPECT_FALSE(open_ok(dir.path(), read_only())->quantized_search());
}

TEST(SnapshotSave, TwoSavesInARowWriteIdenticalVectorFilesAndLeaveNoLog) {
  TempDir dir;
  auto db = open_ok(dir.path(), create_options(3, nullptr, true));
  auto vecs = random_vectors(30, 3, 11);
  for (std::size_t i = 0; i < vecs.size(); ++i) ASSERT_TRUE(db->add(std::to_string(i), vecs[i], std::nullopt).ok());
  ASSERT_TRUE(dir.wal_exists());
  ASSERT_TRUE(db->save().ok());
  EXPECT_FALSE(dir.wal_exists());
  const auto vectors = read_bytes(dir.path() + "/vectors.bin");
  const auto codes = read_bytes(dir.path() + "/vectors.sq8");
  ASSERT_TRUE(db->save().ok());
  EXPECT_FALSE(dir.wal_exists());
  EXPECT_EQ(read_bytes(dir.path() + "/vectors.bin"), vectors);
  EXPECT_EQ(read_bytes(dir.path() + "/vectors.sq8"), codes);
  for (const char* temp : {"graph.tmp", "vectors.tmp", "vectors.sq8.tmp"}) {
    EXPECT_FALSE(fs::exists(dir.path() + "/" + temp)) << temp;
  }
  // The next write starts a new log.
  ASSERT_TRUE(db->add("more", {1, 1, 1}, std::nullopt).ok());
  EXPECT_TRUE(dir.wal_exists());
}

TEST(SnapshotSave, SaveIntoARemovedDirectoryRecreatesIt) {
  TempDir dir;
  const std::string path = dir.path() + "/x/y";
  auto db = open_ok(path, create_options(2));
  ASSERT_TRUE(db->add("a", {1, 2}, J("{\"a\":1}")).ok());
  fs::remove_all(dir.path() + "/x");
  ASSERT_TRUE(db->save().ok());
  EXPECT_EQ(read_state(*open_ok(path, read_only())), read_state(*db));
}

TEST(SnapshotSave, SaveFailureReportsTheOsErrorAndKeepsTheDatabaseUsable) {
  TempDir dir;
  auto db = open_ok(dir.path(), create_options(2));
  ASSERT_TRUE(db->add("a", {1, 2}, std::nullopt).ok());
  fs::remove(dir.path() + "/graph.quarn");
  fs::create_directories(dir.path() + "/graph.quarn/blocker");  // rename over it fails
  Status saved = db->save();
  ASSERT_FALSE(saved.ok());
  EXPECT_EQ(saved.error().kind(), QuarnError::Kind::Io);
  EXPECT_TRUE(dir.wal_exists());
  ASSERT_TRUE(db->add("b", {3, 4}, std::nullopt).ok());
  fs::remove_all(dir.path() + "/graph.quarn");
  ASSERT_TRUE(db->save().ok());
  EXPECT_EQ(read_state(*open_ok(dir.path(), read_only())), read_state(*db));
}

TEST(SnapshotSave, SavesDuringConcurrentWritesLoseNoWrite) {
  // Every write is either in the snapshot or in the log that follows it: reopening without a
  // final save gives exactly the last in-memory state.
  TempDir dir;
  auto db = open_ok(dir.path(), create_options(4));
  const int per_thread = small_scale() ? 60 : 250;
  std::atomic<bool> writing{true};
  std::vector<std::thread> writers;
  for (int t = 0; t < 3; ++t) {
    writers.emplace_back([&, t] {
      auto vecs = random_vectors(static_cast<std::size_t>(per_thread), 4, 100 + static_cast<std::uint32_t>(t));
      for (int i = 0; i < per_thread; ++i) {
        const std::string id = "t" + std::to_string(t) + "-" + std::to_string(i % 40);
        if (i % 5 == 4) {
          EXPECT_TRUE(db->remove(id).ok());
        } else {
          EXPECT_TRUE(db->upsert(id, vecs[static_cast<std::size_t>(i)], J("{\"i\":" + std::to_string(i) + "}")).ok());
        }
      }
    });
  }
  std::thread saver([&] {
    while (writing.load()) EXPECT_TRUE(db->save().ok());
  });
  for (auto& w : writers) w.join();
  writing.store(false);
  saver.join();
  const DbState expected = read_state(*db);
  db.reset();
  auto reopened = open_ok(dir.path(), read_only());
  EXPECT_EQ(read_state(*reopened), expected);
  EXPECT_EQ(reopened->check_invariants(), std::nullopt);
}

// ---- load failures ----

class SnapshotLoadFailure : public ::testing::Test {
 protected:
  std::string load_error(const GraphFile& g) {
    write_snapshot(dir.path(), g);
    return engine_text(open_fails(dir.path(), create_options(2)));
  }
  std::string load_error(const std::vector<std::uint8_t>& graph) {
    write_bytes(dir.path() + "/graph.quarn", graph);
    write_bytes(dir.path() + "/vectors.bin", vectors_file(2, 2));
    return engine_text(open_fails(dir.path(), create_options(2)));
  }
  TempDir dir;
};

TEST_F(SnapshotLoadFailure, HeaderChecksReportTheirOwnMessages) {
  GraphFile g = GraphFile::two_nodes();
  g.version = 1;
  EXPECT_EQ(load_error(g), damage_in(dir.path(), "graph.quarn") + "unsupported graph version: 1");
  g = GraphFile::two_nodes();
  g.magic = 0x48535748;
  EXPECT_EQ(load_error(g), damage_in(dir.path(), "graph.quarn") + "bad graph magic");
  g = GraphFile::two_nodes();
  g.metric = 3;
  EXPECT_EQ(load_error(g), damage_in(dir.path(), "graph.quarn") + "unknown metric: 3");
  g = GraphFile::two_nodes();
  g.meta_magic = 0x4D455442;
  EXPECT_EQ(load_error(g), damage_in(dir.path(), "graph.quarn") + "bad metadata section magic");
}

TEST_F(SnapshotLoadFailure, ChecksRunInFileOrder) {
  // Magic before version, version before metric, and a short file before any of them.
  EXPECT_EQ(load_error(hex("47 57 53")), damage_in(dir.path(), "graph.quarn") + "failed to fill whole buffer");
  EXPECT_EQ(load_error(hex("47 57 53 49 01 00 00 00 00 00 00 00 07")), damage_in(dir.path(), "graph.quarn") + "bad graph magic");
  EXPECT_EQ(load_error(hex("47 57 53 48 01 00 00 00 00 00 00 00 07")), damage_in(dir.path(), "graph.quarn") + "unsupported graph version: 1");
  EXPECT_EQ(load_error(hex("47 57 53 48 02 00 00 00 02 00 00 00 07")), damage_in(dir.path(), "graph.quarn") + "unknown metric: 7");
  EXPECT_EQ(load_error(hex("47 57 53 48 02 00 00 00 02 00 00 00 00 10 00")), damage_in(dir.path(), "graph.quarn") + "failed to fill whole buffer");
}

TEST_F(SnapshotLoadFailure, FileCutAnywhereFailsWithTheEndOfFileError) {
  const auto full = GraphFile::two_nodes().bytes();
  for (std::size_t len = 0; len < full.size(); ++len) {
    EXPECT_EQ(load_error(std::vector<std::uint8_t>(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(len))),
              damage_in(dir.path(), "graph.quarn") + "failed to fill whole buffer")
        << "cut at " << len;
  }
}

TEST_F(SnapshotLoadFailure, IdThatIsNotUtf8FailsWithTheDecoderMessage) {
  GraphFile g = GraphFile::two_nodes();
  g.records[1].id = "b\xff";
  const std::string error = load_error(g);
  EXPECT_EQ(error.rfind(damage_in(dir.path(), "graph.quarn"), 0), 0u) << error;
  EXPECT_NE(error.find("utf-8"), std::string::npos) << error;
}

TEST_F(SnapshotLoadFailure, EmptyOrUnparsableMetadataLoadsAsNone) {
  GraphFile g = GraphFile::two_nodes();
  g.records = {{0, "a", "{\"k\":"}, {1, "b", ""}};
  write_snapshot(dir.path(), g);
  auto db = open_ok(dir.path(), read_only());
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(db->get("a")->second, std::nullopt);
  EXPECT_EQ(db->get("b")->second, std::nullopt);
  EXPECT_EQ(db->get("b")->first, (std::vector<float>{2, 2}));
  EXPECT_EQ(db->check_invariants(), std::nullopt);
}

TEST_F(SnapshotLoadFailure, MissingGraphOrVectorFileIsAnIncompleteSnapshotInEveryMode) {
  // Neither half of a snapshot may be taken for a new database: its first save would overwrite
  // the other half.
  struct Case {
    const char* file;
    std::vector<std::uint8_t> bytes;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"graph.quarn", GraphFile::two_nodes().bytes(), "graph.quarn is there but vectors.bin is missing"},
      {"vectors.bin", std::vector<std::uint8_t>(24, 0), "vectors.bin is there but graph.quarn is missing"},
      {"vectors.sq8", hex("02 00 00 00"), "vectors.sq8 is there but graph.quarn is missing"},
  };
  for (const Case& c : cases) {
    TempDir fresh;
    write_bytes(fresh.path() + "/" + c.file, c.bytes);
    for (const OpenOptions& options : {open_only(), read_only(), create_options(2)}) {
      QuarnError error = open_fails(fresh.path(), options);
      EXPECT_EQ(error.kind(), QuarnError::Kind::Corrupt) << c.file;
      EXPECT_EQ(error.text(),
                "corrupt data: incomplete snapshot in '" + fresh.path() + "': " + c.message) << c.file;
    }
    EXPECT_EQ(read_bytes(fresh.path() + "/" + c.file), c.bytes) << "left as it was";
  }
}

}  // namespace
}  // namespace quarn::testing
