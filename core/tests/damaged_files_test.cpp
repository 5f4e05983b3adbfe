// Hostile and damaged snapshot files: every inconsistency is an Io error naming the problem,
// nothing is allocated for counts the file cannot hold, and no damage crashes the open.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "persistence_test_util.h"

namespace quarn::testing {
namespace {

class DamagedSnapshot : public ::testing::Test {
 protected:
  std::string load_error(const GraphFile& g) {
    write_snapshot(dir.path(), g);
    return engine_text(open_fails(dir.path(), create_options(2)));
  }
  TempDir dir;
};

TEST_F(DamagedSnapshot, OutOfRangeSlotsAreInvalidData) {
  GraphFile g = GraphFile::two_nodes();
  g.nodes[1] = {{2}};
  EXPECT_EQ(load_error(g), damage_in(dir.path(), "graph.quarn") + "node 1 lists neighbour slot 2 out of range for 2 nodes");
  g = GraphFile::two_nodes();
  g.records[1].slot = 2;
  EXPECT_EQ(load_error(g), damage_in(dir.path(), "graph.quarn") + "metadata record slot 2 out of range for 2 nodes");
  g = GraphFile::two_nodes();
  g.deleted = {5};
  EXPECT_EQ(load_error(g), damage_in(dir.path(), "graph.quarn") + "deleted slot 5 out of range for 2 nodes");
  g = GraphFile::two_nodes();
  g.entry_point = 2;
  EXPECT_EQ(load_error(g), damage_in(dir.path(), "graph.quarn") + "entry point 2 out of range for 2 nodes");
  g = GraphFile::two_nodes();
  g.entry_point = 0xFFFFFFFF;
  EXPECT_EQ(load_error(g), damage_in(dir.path(), "graph.quarn") + "entry point 4294967295 out of range for 2 nodes");
}

TEST_F(DamagedSnapshot, ListLongerThanItsLayerHoldsIsInvalid) {
  // m 2: four neighbours fit on layer 0, two above it.
  GraphFile g = GraphFile::two_nodes();
  g.m = 2;
  g.nodes[0] = {{1, 1, 1, 1, 1}};
  EXPECT_EQ(load_error(g), damage_in(dir.path(), "graph.quarn") + "node 0 lists 5 neighbours on layer 0, more than the 4 it can hold");
  g = GraphFile::two_nodes();
  g.m = 2;
  g.nodes[1] = {{0}, {0, 0, 0}};
  g.nodes[0] = {{1}, {1}};
  g.entry_point = 1;
  g.top_layer = 1;
  EXPECT_EQ(load_error(g), damage_in(dir.path(), "graph.quarn") + "node 1 lists 3 neighbours on layer 1, more than the 2 it can hold");
}

TEST_F(DamagedSnapshot, EntryPointAndTopLayerMustAgree) {
  GraphFile g = GraphFile::two_nodes();
  g.top_layer = 1;
  EXPECT_EQ(load_error(g), damage_in(dir.path(), "graph.quarn") + "top layer 1 does not match the entry point's level 0");
  g = GraphFile::two_nodes();
  g.nodes[1] = {{0}, {}};
  g.top_layer = 1;  // node 1 has level 1 but the entry point is node 0
  EXPECT_EQ(load_error(g), damage_in(dir.path(), "graph.quarn") + "top layer 1 does not match the entry point's level 0");
  g.entry_point = 1;
  write_snapshot(dir.path(), g);
  EXPECT_NE(open_ok(dir.path(), open_only()), nullptr);

  GraphFile empty;
  empty.entry_point = 0;
  EXPECT_EQ(load_error(empty), damage_in(dir.path(), "graph.quarn") + "entry point 0 out of range for 0 nodes");
  empty.entry_point = 0xFFFFFFFF;
  empty.top_layer = 3;
  EXPECT_EQ(load_error(empty), damage_in(dir.path(), "graph.quarn") + "empty graph with top layer 3");
}

TEST_F(DamagedSnapshot, LayerCountsOfZeroOrBeyondAnyDrawnLevelAreInvalid) {
  GraphFile g = GraphFile::two_nodes();
  g.nodes[1] = {};
  EXPECT_EQ(load_error(g), damage_in(dir.path(), "graph.quarn") + "node 1 has an invalid layer count: 0");
  g = GraphFile::two_nodes();
  g.nodes[0] = std::vector<std::vector<std::uint32_t>>(66);
  g.top_layer = 65;
  EXPECT_EQ(load_error(g), damage_in(dir.path(), "graph.quarn") + "node 0 has an invalid layer count: 66");
}

TEST_F(DamagedSnapshot, DegenerateParametersAreInvalid) {
  // Beyond the creation bounds a header is damaged: an ef_construction near 2^32 would make
  // every insert reserve gigabytes.
  for (std::uint32_t m : {0u, 1u, 4097u, 0xFFFFFFFFu}) {
    GraphFile g = GraphFile::two_nodes();
    g.m = m;
    EXPECT_EQ(load_error(g), damage_in(dir.path(), "graph.quarn") + "graph m is " + std::to_string(m) + ", outside 2..4096");
  }
  for (std::uint32_t ef : {0u, 65537u, 1000000000u}) {
    GraphFile g = GraphFile::two_nodes();
    g.ef_construction = ef;
    EXPECT_EQ(load_error(g), damage_in(dir.path(), "graph.quarn") + "graph ef_construction is " + std::to_string(ef) + ", outside 1..65536");
  }
  GraphFile g;
  g.dim = 0;
  EXPECT_EQ(load_error(g), damage_in(dir.path(), "graph.quarn") + "graph dimension is 0");
}

TEST_F(DamagedSnapshot, AbsurdCountsFailAsShortDataWithoutAllocating) {
  // Each count claims far more entries than the bytes after it could hold; the loader must
  // say so before reserving room for them.
  GraphFile g = GraphFile::two_nodes();
  g.node_count = 0xFFFFFFFF;
  EXPECT_EQ(load_error(g), damage_in(dir.path(), "graph.quarn") + "failed to fill whole buffer");
  g = GraphFile::two_nodes();
  g.deleted_count = 0xFFFFFFF0;
  EXPECT_EQ(load_error(g), damage_in(dir.path(), "graph.quarn") + "failed to fill whole buffer");
  g = GraphFile::two_nodes();
  auto bytes = g.bytes();
  bytes[37 + 4] = 0xFF;  // neighbour count of node 0, layer 0
  bytes[37 + 7] = 0x7F;
  write_bytes(dir.path() + "/graph.quarn", bytes);
  EXPECT_EQ(engine_text(open_fails(dir.path(), open_only())), damage_in(dir.path(), "graph.quarn") + "failed to fill whole buffer");
  g = GraphFile::two_nodes();
  bytes = g.bytes();
  const std::size_t meta = bytes.size() - (8 + 4 + 4 + 1 + 4 + 7 + 4 + 4 + 1 + 4);
  bytes[meta + 4] = 0xFF;  // record count
  bytes[meta + 7] = 0xFF;
  write_bytes(dir.path() + "/graph.quarn", bytes);
  EXPECT_EQ(engine_text(open_fails(dir.path(), open_only())), damage_in(dir.path(), "graph.quarn") + "failed to fill whole buffer");
  g = GraphFile::two_nodes();
  bytes = g.bytes();
  bytes[meta + 12] = 0xFE;  // id length of the first record
  bytes[meta + 15] = 0xFF;
  write_bytes(dir.path() + "/graph.quarn", bytes);
  EXPECT_EQ(engine_text(open_fails(dir.path(), open_only())), damage_in(dir.path(), "graph.quarn") + "failed to fill whole buffer");
}

TEST_F(DamagedSnapshot, MetadataRecordsMustNameDistinctLiveSlotsAndIds) {
  GraphFile g = GraphFile::two_nodes();
  g.records[1].slot = 0;
  EXPECT_EQ(load_error(g), damage_in(dir.path(), "graph.quarn") + "duplicate metadata record for slot 0");
  g = GraphFile::two_nodes();
  g.records[1].id = "a";
  EXPECT_EQ(load_error(g), damage_in(dir.path(), "graph.quarn") + "duplicate metadata record for id 'a'");
  g = GraphFile::two_nodes();
  g.deleted = {1};
  EXPECT_EQ(load_error(g), damage_in(dir.path(), "graph.quarn") + "metadata record for deleted slot 1");
}

TEST_F(DamagedSnapshot, LiveSlotWithoutARecordLoadsAsDeleted) {
  GraphFile g = GraphFile::two_nodes();
  g.records.pop_back();
  write_snapshot(dir.path(), g);
  auto db = open_ok(dir.path(), open_only());
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(db->size(), 1u);
  EXPECT_EQ(db->deleted_count(), 1u);
  EXPECT_EQ(db->total_slots(), 2u);
  EXPECT_EQ(db->check_invariants(), std::nullopt);
  SearchParams params;
  params.k = 5;
  auto hits = db->search(std::vector<float>{2, 2}, params);
  ASSERT_TRUE(hits.ok());
  ASSERT_EQ(hits->size(), 1u);
  EXPECT_EQ((*hits)[0].id, "a");
}

TEST_F(DamagedSnapshot, VectorFileMustHoldExactlyEverySlotAndNorm) {
  GraphFile g = GraphFile::two_nodes();
  write_snapshot(dir.path(), g);
  auto vectors = vectors_file(2, 2);
  for (std::size_t len : {std::size_t{0}, std::size_t{16}, vectors.size() - 1, vectors.size() + 4}) {
    auto resized = vectors;
    resized.resize(len, 0);
    write_bytes(dir.path() + "/vectors.bin", resized);
    EXPECT_EQ(engine_text(open_fails(dir.path(), open_only())),
              damage_in(dir.path(), "vectors.bin") + "vectors.bin holds " + std::to_string(len) + " bytes, expected 24 for 2 slots of dimension 2");
  }
}

TEST_F(DamagedSnapshot, QuantizerFileMustMatchTheGraph) {
  write_snapshot(dir.path(), GraphFile::two_nodes());
  const std::string sq8 = dir.path() + "/vectors.sq8";
  // dim 2, mins (0, 0), scales (1, 1), then two codes per slot.
  const auto header = hex("02 00 00 00 00 00 00 00 00 00 00 00 00 00 80 3F 00 00 80 3F");
  auto with_codes = [&](std::size_t n) {
    auto out = header;
    out.insert(out.end(), n, 7);
    return out;
  };
  write_bytes(sq8, with_codes(4));
  auto db = open_ok(dir.path(), open_only());
  ASSERT_NE(db, nullptr);
  EXPECT_TRUE(db->quantized_search());
  db.reset();

  write_bytes(sq8, with_codes(3));
  EXPECT_EQ(engine_text(open_fails(dir.path(), open_only())), damage_in(dir.path(), "vectors.sq8") + "vectors.sq8 holds 3 codes, expected 4");
  write_bytes(sq8, with_codes(5));
  EXPECT_EQ(engine_text(open_fails(dir.path(), open_only())), damage_in(dir.path(), "vectors.sq8") + "vectors.sq8 holds 5 codes, expected 4");
  auto three = hex("03 00 00 00");
  three.resize(4 + 24 + 6, 0);
  write_bytes(sq8, three);
  EXPECT_EQ(engine_text(open_fails(dir.path(), open_only())),
            damage_in(dir.path(), "vectors.sq8") + "vectors.sq8 dimension 3 does not match the graph dimension 2");
  write_bytes(sq8, hex("FF FF FF FF 00 00"));
  EXPECT_EQ(engine_text(open_fails(dir.path(), open_only())), damage_in(dir.path(), "vectors.sq8") + "failed to fill whole buffer");
  write_bytes(sq8, std::vector<std::uint8_t>(header.begin(), header.begin() + 10));
  EXPECT_EQ(engine_text(open_fails(dir.path(), open_only())), damage_in(dir.path(), "vectors.sq8") + "failed to fill whole buffer");
}

// ---- random damage ----

// A saved database with deletions, metadata, quantized codes and a log after the snapshot.
void build_pristine(const std::string& path) {
  auto db = open_ok(path, create_options(4, "cosine", /*quantize=*/true));
  auto vecs = random_vectors(60, 4, 21);
  for (std::size_t i = 0; i < 50; ++i) {
    std::optional<Json> md;
    if (i % 3 != 0) md = J("{\"i\":" + std::to_string(i) + ",\"s\":\"v" + std::to_string(i % 5) + "\"}");
    ASSERT_TRUE(db->add("id" + std::to_string(i), vecs[i], md).ok());
  }
  for (int i = 0; i < 50; i += 9) ASSERT_TRUE(*db->remove("id" + std::to_string(i)));
  ASSERT_TRUE(db->save().ok());
  for (std::size_t i = 50; i < 60; ++i) ASSERT_TRUE(db->upsert("id" + std::to_string(i - 45), vecs[i], std::nullopt).ok());
  ASSERT_TRUE(db->update("id1", std::nullopt, J("{\"u\":true}")).ok());
  ASSERT_TRUE(*db->remove("id2"));
}

// Opens a damaged copy: either a Corrupt failure naming the damaged file, or a database whose
// tables agree and which answers reads, searches and writes.
void expect_safe_open(const std::string& path, const std::string& what) {
  OpenOutcome outcome = Database::open(path, create_options(4));
  if (!outcome.ok()) {
    const QuarnError& error = outcome.error();
    EXPECT_EQ(error.kind(), QuarnError::Kind::Corrupt) << what << ": " << error.text();
    EXPECT_TRUE(error.file().starts_with(path)) << what << ": " << error.text();
    return;
  }
  auto& db = *outcome;
  ASSERT_EQ(db->check_invariants(), std::nullopt) << what;
  (void)read_state(*db);
  SearchParams params;
  params.k = 5;
  EXPECT_TRUE(db->search(std::vector<float>{0.5f, -0.5f, 0.25f, 1.0f}, params).ok()) << what;
  db->enable_quantized_search();
  EXPECT_TRUE(db->search(std::vector<float>{0.5f, -0.5f, 0.25f, 1.0f}, params).ok()) << what;
  EXPECT_TRUE(db->upsert("fresh", {1, 2, 3, 4}, std::nullopt).ok()) << what;
  EXPECT_EQ(db->check_invariants(), std::nullopt) << what;
}

TEST(RandomDamage, TruncatedOrFlippedFilesNeverCrashTheOpen) {
  TempDir dir;
  const std::string work = dir.path() + "/work";
  build_pristine(work);
  const char* names[] = {"graph.quarn", "vectors.bin", "vectors.sq8", "wal.quarn"};
  std::map<std::string, std::vector<std::uint8_t>> pristine;
  for (const char* name : names) pristine[name] = read_bytes(work + "/" + name);
  // Puts one damaged file in place; the open changes nothing but the log (the "fresh" write).
  auto run = [&](const std::string& name, const std::vector<std::uint8_t>& damaged, const std::string& what) {
    write_bytes(work + "/" + name, damaged);
    expect_safe_open(work, what);
    write_bytes(work + "/" + name, pristine[name]);
    write_bytes(work + "/wal.quarn", pristine["wal.quarn"]);
  };

  const bool small = small_scale();
  std::mt19937 rng(20240601);
  for (const char* name : names) {
    const auto& original = pristine[name];
    ASSERT_FALSE(original.empty()) << name;
    const std::size_t cuts = small ? 30 : 150;
    const std::size_t stride = std::max<std::size_t>(1, original.size() / cuts);
    for (std::size_t len = 0; len < original.size(); len += stride) {
      run(name, std::vector<std::uint8_t>(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(len)),
          std::string(name) + " cut at " + std::to_string(len));
    }
    const int flips = small ? 30 : 150;
    for (int i = 0; i < flips; ++i) {
      auto damaged = original;
      const int count = 1 + static_cast<int>(rng() % 3);
      std::string what = std::string(name) + " flipped at";
      for (int c = 0; c < count; ++c) {
        const std::size_t at = rng() % damaged.size();
        damaged[at] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
        what += " " + std::to_string(at);
      }
      run(name, damaged, what);
    }
  }
}

}  // namespace
}  // namespace quarn::testing
