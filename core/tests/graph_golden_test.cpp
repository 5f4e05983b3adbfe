// Reproducible builds on one thread, pinned by checksums of the saved graph file and of search
// results: a change to the graph's memory layout, the distance kernels or the save path that
// alters a neighbour list, a distance or a byte of graph.quarn shows up here.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <unistd.h>
#include <string>
#include <vector>

#include "hnsw_test_util.h"
#include "distance/simd_mirror.h"
#include "hnsw/hnsw.h"
#include "util/bytes.h"
#include "util/file.h"
#include "storage/graph_parse.h"

namespace quarn {
namespace {

using testing_util::clustered_vectors;
using testing_util::random_vectors;

std::uint32_t crc_of(const std::vector<std::uint8_t>& bytes) {
  return static_cast<std::uint32_t>(crc32(0L, bytes.data(), static_cast<uInt>(bytes.size())));
}

std::vector<std::uint8_t> saved_graph(const HnswIndex& index) {
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("quarn_golden_" + std::to_string(::getpid()) + ".graph"))
                               .string();
  {
    auto file = FileHandle::create_truncate(path);
    EXPECT_TRUE(file.ok());
    BufferedWriter out(std::move(*file));
    EXPECT_TRUE(index.save_graph(out).ok());
    EXPECT_TRUE(out.close().ok());
  }
  auto bytes = read_file(path);
  std::filesystem::remove(path);
  EXPECT_TRUE(bytes.ok());
  return bytes.ok() ? *bytes : std::vector<std::uint8_t>{};
}

// Slots and distance bits of every result of every query, in order.
std::vector<std::uint8_t> result_bytes(const HnswIndex& index, const std::vector<std::vector<float>>& queries,
                                       bool with_distances) {
  std::vector<std::uint8_t> out;
  for (const auto& q : queries) {
    for (const Candidate& c : index.search_graph(q, 10, 40)) {
      std::uint32_t words[2] = {c.slot, 0};
      std::memcpy(&words[1], &c.distance, 4);
      const auto* p = reinterpret_cast<const std::uint8_t*>(words);
      out.insert(out.end(), p, p + (with_distances ? 8 : 4));
    }
  }
  return out;
}

enum class Shape { Normal, Clustered };
enum class After { Nothing, DeleteEverySeventh, UpdateEveryNinth, Quantize };

struct GoldenCase {
  const char* name;
  Metric metric;
  Shape shape;
  std::size_t n, dim, m, ef_construction;
  After after;
  std::uint32_t graph_crc, slots_crc;
  // Distance bits by the distance library's f32 kernels: the AVX-512 ones keep 16 lanes in
  // single precision, the AVX2 ones 8 lanes reduced in double, so the last bits differ.
  std::uint32_t results_crc_avx512, results_crc_avx2;
};

std::unique_ptr<HnswIndex> build(const GoldenCase& c, std::vector<std::vector<float>>& data) {
  data = c.shape == Shape::Normal ? random_vectors(c.n, c.dim, 101) : clustered_vectors(c.n, c.dim, 12, 102);
  auto index = std::make_unique<HnswIndex>(c.dim, c.m, c.ef_construction, c.metric);
  HnswIndex::seed_levels(7);
  for (const auto& v : data) index->insert(v);
  switch (c.after) {
    case After::Nothing:
      break;
    case After::DeleteEverySeventh:
      for (Slot s = 0; s < c.n; s += 7) index->mark_deleted(s);
      break;
    case After::UpdateEveryNinth: {
      const auto fresh = random_vectors(c.n / 9 + 1, c.dim, 103);
      for (Slot s = 0; s < c.n; s += 9) index->update_vector(s, fresh[s / 9]);
      break;
    }
    case After::Quantize:
      index->enable_quantized_search();
      break;
  }
  return index;
}

// Checksums captured from the build that kept one heap-allocated, mutex-guarded list per node
// and layer; the flat layout reproduces them. Cosine distances are now the dot product over the
// stored norms, which moves their last bits (the third checksum of the cosine case) but leaves
// that graph and the slots it finds as they were. The graphs and the slots are the same with
// either family of kernels. Linking back layer-0 islands changed three graphs (and the slots of
// one); a distance checksum of 0 was not recorded for that family.
const GoldenCase kCases[] = {
    {"euclidean", Metric::Euclidean, Shape::Normal, 2000, 16, 8, 64, After::Nothing, 0x5d20e5ed, 0x8d7f66b6, 0x4058d1a7, 0x8d45af94},
    {"dot_clustered", Metric::DotProduct, Shape::Clustered, 1500, 12, 6, 40, After::Nothing, 0xde78af47, 0xab40dd54, 0xb3f2e3bd, 0},
    {"cosine_clustered", Metric::Cosine, Shape::Clustered, 2000, 16, 8, 64, After::Nothing, 0xdd5b882d, 0x9c6ff286, 0xa3405c63, 0xda04aaf1},
    {"euclidean_deleted", Metric::Euclidean, Shape::Normal, 2000, 16, 8, 64, After::DeleteEverySeventh, 0x2f74fabb, 0xf680015d, 0xd6be4468, 0x0db72afc},
    {"euclidean_updated", Metric::Euclidean, Shape::Clustered, 1200, 8, 5, 32, After::UpdateEveryNinth, 0x6ebce810, 0xbbbbea74, 0x5fc1a8e2, 0x38a7e02f},
    {"euclidean_quantized", Metric::Euclidean, Shape::Clustered, 1500, 16, 8, 64, After::Quantize, 0x48693c7d, 0xa386dad1, 0xd1c377f2, 0xe31e6c89},
};

TEST(GraphGolden, SeededBuildsSaveAndSearchAsTheyAlwaysHave) {
  for (const GoldenCase& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<std::vector<float>> data;
    const auto index = build(c, data);
    const auto queries = c.shape == Shape::Normal ? random_vectors(30, c.dim, 104) : clustered_vectors(30, c.dim, 12, 102);
    const std::uint32_t graph = crc_of(saved_graph(*index));
    const std::uint32_t slots = crc_of(result_bytes(*index, queries, false));
    const std::uint32_t results = crc_of(result_bytes(*index, queries, true));
    EXPECT_EQ(graph, c.graph_crc);
    EXPECT_EQ(slots, c.slots_crc);
    switch (detail::library_f32_capability({simsimd_metric_dot_k, simsimd_metric_l2sq_k, simsimd_metric_cos_k})) {
      case simsimd_cap_skylake_k:
        if (c.results_crc_avx512 != 0) EXPECT_EQ(results, c.results_crc_avx512);
        break;
      case simsimd_cap_haswell_k:
        if (c.results_crc_avx2 != 0) EXPECT_EQ(results, c.results_crc_avx2);
        break;
      default:  // no recorded distance bits for other kernels; the slots found are pinned above
        break;
    }
  }
}

// Deleted slots are written in the order the in-memory set yields them, which a reload may
// change; every other byte of a reloaded graph's file is the same, and so is the deleted set.
void sort_deleted_section(std::vector<std::uint8_t>& file) {
  constexpr std::size_t kCountAt = 33;
  std::uint32_t count = 0;
  std::memcpy(&count, file.data() + kCountAt, 4);
  if (count == 0) return;  // memcpy from an empty vector's null data() is undefined
  std::vector<std::uint32_t> slots(count);
  std::memcpy(slots.data(), file.data() + kCountAt + 4, 4 * std::size_t{count});
  std::sort(slots.begin(), slots.end());
  std::memcpy(file.data() + kCountAt + 4, slots.data(), 4 * std::size_t{count});
}

// A saved graph parsed back and saved again gives the same bytes.
TEST(GraphGolden, ParsedGraphSavesToTheSameBytes) {
  for (const GoldenCase& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<std::vector<float>> data;
    const auto index = build(c, data);
    std::vector<std::uint8_t> first = saved_graph(*index);
    ByteReader in(first);
    auto parsed = storage_detail::parse_graph(in);
    ASSERT_TRUE(parsed.ok());
    std::vector<float> floats(index->store().data(), index->store().data() + index->store().float_count());
    HnswIndex::Parts parts{parsed->dim,          parsed->metric,   parsed->m,
                           parsed->ef_construction, parsed->entry_point, parsed->top_layer,
                           VectorStore(std::move(floats)), index->norms(), std::move(parsed->links),
                           std::move(parsed->deleted)};
    const HnswIndex reloaded(std::move(parts));
    std::vector<std::uint8_t> second = saved_graph(reloaded);
    sort_deleted_section(first);
    sort_deleted_section(second);
    EXPECT_EQ(first.size(), second.size());
    EXPECT_TRUE(first == second);
  }
}

}  // namespace
}  // namespace quarn
