// Rows kept in files (vectors_in_memory = false): the row array they form, searches equal to the
// resident store's, the mode stored in the directory, and memory that does not grow with them.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "database_test_util.h"
#include "hnsw/disk_rows.h"
#include "hnsw/hnsw.h"
#include "hnsw_test_util.h"
#include "persistence_test_util.h"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing_util::clustered_vectors;

std::vector<float> ramp(std::size_t n, float start) {
  std::vector<float> out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = start + static_cast<float>(i);
  return out;
}

std::vector<char> file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_floats(const std::string& path, const std::vector<float>& floats) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(floats.data()), static_cast<std::streamsize>(floats.size() * 4));
}

// A base file of `base` floats (then 7 trailing floats standing for the norms), rows appended in
// steps, one row of the base and one appended row overwritten: the array reads back as written,
// also after the appends outgrow the reservation (a reservation of 0 grows at once), and the
// base file keeps its bytes.
TEST(DiskRows, ReadsBackBaseAppendsAndOverwritesWhereverThePagesFall) {
  struct Case {
    std::size_t base;  // floats taken from the file
    std::size_t min_reservation;
  };
  for (const Case c : {Case{0, 0}, Case{1024, 0}, Case{1003, 0}, Case{5000, DiskRows::kMinReservation},
                       Case{3, 0}}) {
    TempDir dir;
    const std::string base_path = dir.path() + "/vectors.bin";
    std::vector<float> expected = ramp(c.base, 0.5f);
    std::vector<float> file = expected;
    for (int i = 0; i < 7; ++i) file.push_back(-1.0f);
    write_floats(base_path, file);
    const std::vector<char> before = file_bytes(base_path);

    auto rows = DiskRows::open(c.base == 0 ? "" : base_path, c.base, dir.path(), c.min_reservation);
    ASSERT_TRUE(rows.ok()) << rows.error().text();
    // 3 MB of appends in uneven pieces: past the scratch file's first allocation.
    for (std::size_t step = 0; step < 12; ++step) {
      const std::vector<float> piece = ramp(60'000 + 17 * step, 1e6f * static_cast<float>(step + 1));
      ASSERT_TRUE(rows->append(piece).ok());
      expected.insert(expected.end(), piece.begin(), piece.end());
    }
    const std::vector<float> patch = {-2.0f, -3.0f, -4.0f};
    const std::size_t in_base = c.base / 2, appended = expected.size() - 10;
    for (std::size_t at : {in_base, appended}) {
      rows->write(at, patch);
      std::copy(patch.begin(), patch.end(), expected.begin() + static_cast<std::ptrdiff_t>(at));
    }
    // Grows the reservation again once it is small, moving the overwritten pages with it.
    ASSERT_TRUE(rows->reserve(expected.size() + 4'000'000).ok());
    ASSERT_EQ(rows->float_count(), expected.size());
    EXPECT_EQ(std::memcmp(rows->data(), expected.data(), expected.size() * 4), 0) << "base " << c.base;
    EXPECT_EQ(file_bytes(base_path), before) << "base " << c.base;
    rows->will_need(0, expected.size());  // only advice: nothing to observe but that it is harmless
  }
}

// One index searched with its rows in memory, then again once they moved into files: the same
// hits and distances at every re-rank depth, and the depth honoured (a shallower re-rank's
// candidates are a prefix of a deeper one's, so its i-th hit is never nearer).
TEST(DiskRows, SearchEqualsTheResidentStoreAtEveryRerankDepth) {
  TempDir dir;
  const auto data = clustered_vectors(3000, 24, 12, 7);
  const auto queries = clustered_vectors(20, 24, 12, 8);
  const std::vector<std::size_t> depths = {100, 40, 15, 10, 0};
  HnswIndex index(24, 12, 80, Metric::Cosine);
  index.batch_insert(data);
  index.enable_quantized_search();
  std::vector<std::vector<Candidate>> resident;
  for (const auto& q : queries) {
    for (std::size_t rerank : depths) resident.push_back(index.search_graph(q, 10, 100, rerank));
  }
  ASSERT_FALSE(index.rows_on_disk());
  ASSERT_TRUE(index.move_rows_to_disk("", dir.path()).ok());
  ASSERT_TRUE(index.rows_on_disk());
  std::size_t at = 0;
  for (const auto& q : queries) {
    const std::vector<Candidate>* deeper = nullptr;
    for (std::size_t rerank : depths) {
      const auto& a = resident[at++];
      const auto b = index.search_graph(q, 10, 100, rerank);
      ASSERT_EQ(a.size(), b.size());
      for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].slot, b[i].slot) << "rerank " << rerank;
        EXPECT_EQ(a[i].distance, b[i].distance) << "rerank " << rerank;
        EXPECT_NEAR(b[i].distance, span_distance_fn(Metric::Cosine)(q.data(), data[b[i].slot].data(), 24), 1e-5);
        if (i > 0) EXPECT_LE(b[i - 1].distance, b[i].distance);
        if (deeper != nullptr && rerank != 0) EXPECT_LE((*deeper)[i].distance, b[i].distance) << rerank;
      }
      deeper = &a;
    }
  }
}

OpenOptions with_rows(OpenOptions o, std::optional<bool> in_memory) {
  o.vectors_in_memory = in_memory;
  return o;
}

// Writes of every kind land in both a resident and an on-disk database; they must hold the same
// records (vectors byte for byte), answer searches alike, and write the same vectors.bin.
TEST(RowsOnDisk, HoldsAndSavesWhatTheResidentModeHolds) {
  TempDir mem_dir, disk_dir;
  constexpr std::size_t kDim = 37;  // rows that straddle page boundaries
  const auto data = clustered_vectors(1500, kDim, 8, 3);
  for (const auto& [path, in_memory] : {std::pair{mem_dir.path(), true}, std::pair{disk_dir.path(), false}}) {
    {
      auto db = testing::open_ok(path, with_rows(testing::create_options(kDim, "l2"), in_memory));
      std::vector<Item> items;
      for (std::size_t i = 0; i < 1000; ++i) items.push_back({"r" + std::to_string(i), data[i], std::nullopt});
      ASSERT_TRUE(db->add_many(std::move(items)).ok());
      ASSERT_TRUE(db->save().ok());
      EXPECT_EQ(db->stats().vectors_in_memory, in_memory);
    }
    // Reopened without the argument: the stored mode, the snapshot's rows mapped, more writes.
    auto db = testing::open_ok(path, testing::open_only());
    EXPECT_EQ(db->vectors_in_memory(), in_memory);
    EXPECT_EQ(db->stats().memory_vectors_bytes, in_memory ? 1000 * kDim * 4 : 0u);
    for (std::size_t i = 1000; i < 1500; ++i) ASSERT_TRUE(db->add("r" + std::to_string(i), data[i], std::nullopt).ok());
    ASSERT_TRUE(db->update("r3", data[1400], std::nullopt).ok());
    ASSERT_TRUE(db->update("r1200", data[5], std::nullopt).ok());
    ASSERT_TRUE(db->remove("r10").value());
    ASSERT_TRUE(db->compact().ok());
    ASSERT_TRUE(db->add("late", data[77], std::nullopt).ok());
    ASSERT_TRUE(db->save().ok());
  }
  auto mem = testing::open_ok(mem_dir.path(), testing::open_only());
  auto disk = testing::open_ok(disk_dir.path(), testing::open_only());
  ASSERT_FALSE(disk->vectors_in_memory());
  EXPECT_EQ(testing::read_state(*mem), testing::read_state(*disk));
  EXPECT_EQ(file_bytes(mem_dir.path() + "/vectors.bin"), file_bytes(disk_dir.path() + "/vectors.bin"));
  SearchParams params;
  params.k = 10;
  for (std::size_t i = 0; i < 1500; i += 150) {
    const auto a = mem->search(data[i], params);
    const auto b = disk->search(data[i], params);
    ASSERT_TRUE(a.ok() && b.ok());
    ASSERT_EQ(a->size(), b->size());
    for (std::size_t j = 0; j < a->size(); ++j) EXPECT_EQ((*a)[j].id, (*b)[j].id);
  }
  params.rerank = 0;
  EXPECT_EQ(disk->search(data[0], params).error().text(), "rerank must be at least 1");
}

// The mode an open ends in, and whether the directory then holds the marker, for each sequence
// of opens (nullopt: no argument).
TEST(RowsOnDisk, ReopenKeepsOrSwitchesTheStoredMode) {
  struct Case {
    std::vector<std::optional<bool>> opens;
    bool in_memory_at_end;
  };
  const std::vector<Case> cases = {
      {{std::nullopt}, true},
      {{false}, false},
      {{false, std::nullopt}, false},
      {{false, true}, true},
      {{false, true, std::nullopt}, true},
      {{true, false, std::nullopt, std::nullopt}, false},
  };
  const auto data = clustered_vectors(50, 8, 2, 9);
  for (const Case& c : cases) {
    TempDir dir;
    for (std::size_t i = 0; i < c.opens.size(); ++i) {
      auto db = testing::open_ok(dir.path(), with_rows(testing::create_options(8), c.opens[i]));
      ASSERT_TRUE(db->add("v" + std::to_string(i), data[i], std::nullopt).ok());
      if (i % 2 == 0) ASSERT_TRUE(db->save().ok());
    }
    auto db = testing::open_ok(dir.path(), testing::open_only());
    EXPECT_EQ(db->vectors_in_memory(), c.in_memory_at_end) << "case of " << c.opens.size() << " opens";
    EXPECT_EQ(fs::exists(dir.path() + "/vectors.ondisk"), !c.in_memory_at_end);
    EXPECT_EQ(db->size(), c.opens.size());
    // A reader's argument holds for that open only.
    auto reader = testing::open_ok(dir.path(), with_rows(testing::read_only(), !c.in_memory_at_end));
    EXPECT_EQ(reader->vectors_in_memory(), !c.in_memory_at_end);
    EXPECT_EQ(fs::exists(dir.path() + "/vectors.ondisk"), !c.in_memory_at_end);
  }
  // A database that never chose the mode writes no marker.
  TempDir plain;
  testing::open_ok(plain.path(), testing::create_options(8));
  EXPECT_FALSE(fs::exists(plain.path() + "/vectors.ondisk"));
}

std::size_t anon_resident_bytes() {
  std::ifstream in("/proc/self/status");
  std::string key;
  while (in >> key) {
    if (key == "RssAnon:") {
      std::size_t kb = 0;
      in >> kb;
      return kb * 1024;
    }
  }
  return 0;
}

// Rows added batch after batch stay out of the process's own memory: what grows is the graph
// and the codes (and the log's buffers), well under the floats' bytes.
TEST(RowsOnDisk, AddingBatchesKeepsTheFloatsOutOfMemory) {
  TempDir dir;
  const std::size_t kDim = 256, kBatch = 2000, kBatches = testing::small_scale() ? 5 : 12;
  OpenOptions options = with_rows(testing::create_options(kDim, "l2"), false);
  options.m = 8;
  options.ef_construction = 40;
  auto db = testing::open_ok(dir.path(), options);
  const std::size_t before = anon_resident_bytes();
  std::mt19937 rng(4);
  std::normal_distribution<float> normal;
  std::vector<float> block(kBatch * kDim);
  for (std::size_t b = 0; b < kBatches; ++b) {
    for (float& x : block) x = normal(rng);
    ItemBlock items;
    for (std::size_t i = 0; i < kBatch; ++i) items.ids.push_back(std::to_string(b * kBatch + i));
    items.vectors = block;
    ASSERT_TRUE(db->add_block(std::move(items)).ok());
  }
  const std::size_t grown = anon_resident_bytes() - before;
  const std::size_t float_bytes = kBatches * kBatch * kDim * 4;
  const Stats st = db->stats();
  EXPECT_FALSE(st.vectors_in_memory);
  EXPECT_TRUE(st.uses_quantized_search);
  // Codes are a quarter of the floats and the graph (m = 8) about a sixteenth; with the floats
  // held in memory the growth would pass the floats' bytes.
  EXPECT_LT(grown, float_bytes * 3 / 4) << "anonymous memory grew by " << grown << " for " << float_bytes
                                    << " bytes of floats";
}

}  // namespace
}  // namespace quarn
