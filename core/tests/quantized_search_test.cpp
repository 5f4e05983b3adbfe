#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "hnsw_test_util.h"
#include "hnsw/hnsw.h"

namespace quarn {
namespace {

using testing_util::clustered_vectors;
using testing_util::random_vectors;

TEST(QuantizedSearch, EnablingAnEmptyIndexDoesNothing) {
  HnswIndex index(4, 16, 100, Metric::Euclidean);
  index.enable_quantized_search();
  EXPECT_FALSE(index.has_quantized());
  index.batch_insert(random_vectors(10, 4, 1));
  index.enable_quantized_search();
  ASSERT_TRUE(index.has_quantized());
  EXPECT_EQ(index.quantized()->codes.size(), 40u);
  index.disable_quantized_search();
  EXPECT_FALSE(index.has_quantized());
}

TEST(QuantizedSearch, QuantizedDistanceComparesWithTheDecodedRow) {
  const auto data = random_vectors(50, 6, 2);
  HnswIndex index(6, 16, 100, Metric::Cosine);
  index.batch_insert(data);
  index.enable_quantized_search();
  const auto& state = *index.quantized();
  const auto q = random_vectors(1, 6, 3)[0];
  std::vector<float> scratch(6);
  for (Slot s = 0; s < 50; ++s) {
    std::vector<float> decoded(6);
    for (std::size_t i = 0; i < 6; ++i) decoded[i] = state.quantizer.decode(i, state.codes[s * 6 + i]);
    EXPECT_EQ(index.quantized_distance(q, s, scratch),
              span_distance_fn(Metric::Cosine)(q.data(), decoded.data(), decoded.size()));
  }
  // Two slots side by side give each slot's own distance.
  for (Slot s = 0; s + 1 < 50; ++s) {
    float pair[2] = {0.0f, 0.0f};
    index.quantized_distance_pair(q, s, 49 - s, scratch, pair);
    EXPECT_EQ(pair[0], index.quantized_distance(q, s, scratch)) << s;
    EXPECT_EQ(pair[1], index.quantized_distance(q, 49 - s, scratch)) << s;
  }
}

TEST(QuantizedSearch, ReturnsExactDistancesInAscendingOrder) {
  for (Metric metric : {Metric::Cosine, Metric::Euclidean, Metric::DotProduct}) {
    const auto data = random_vectors(800, 16, 4);
    HnswIndex index(16, 16, 100, metric);
    index.batch_insert(data);
    index.enable_quantized_search();
    for (const auto& q : random_vectors(10, 16, 5)) {
      const auto found = index.search_graph(q, 10, 40);
      ASSERT_EQ(found.size(), 10u);
      for (std::size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(found[i].distance, distance(q, data[found[i].slot], metric));
        if (i > 0) {
          EXPECT_LE(found[i - 1].distance, found[i].distance);
        }
      }
    }
  }
}

TEST(QuantizedSearch, RecallStaysCloseToTheExactGraph) {
  const std::size_t n = testing_util::small_scale() ? 2000 : 5000;
  auto data = clustered_vectors(n + 100, 32, 20, 77);
  const std::vector<std::vector<float>> queries(data.begin() + static_cast<std::ptrdiff_t>(n), data.end());
  data.resize(n);
  HnswIndex index(32, 16, 200, Metric::Euclidean);
  index.batch_insert(data);
  index.enable_quantized_search();
  EXPECT_GE(testing_util::graph_recall_at_10(index, data, queries, 100), 0.85);
}

TEST(QuantizedSearch, OutOfRangeInsertIsClampedButRankedExactly) {
  HnswIndex index(2, 16, 100, Metric::Euclidean);
  index.batch_insert({{0, 0}, {1, 1}, {2, 2}, {3, 3}});
  index.enable_quantized_search();
  const Slot far = index.insert({100, -100});
  const auto& codes = index.quantized()->codes;
  ASSERT_EQ(codes.size(), 10u);
  EXPECT_EQ(codes[far * 2], 255);
  EXPECT_EQ(codes[far * 2 + 1], 0);
  const std::vector<float> q{99, -99};
  const auto found = index.search_graph(q, 1, 10);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].slot, far);
  EXPECT_EQ(found[0].distance, 2.0f);
}

TEST(QuantizedSearch, UpdateRewritesTheCodeRow) {
  HnswIndex index(2, 16, 100, Metric::Euclidean);
  index.batch_insert({{0, 0}, {10, 10}, {5, 5}});
  index.enable_quantized_search();
  index.update_vector(2, std::vector<float>{10, 0});
  const auto& codes = index.quantized()->codes;
  EXPECT_EQ(codes[4], 255);
  EXPECT_EQ(codes[5], 0);
}

TEST(QuantizedSearch, DeletedSlotsAreNeverReturned) {
  const auto data = random_vectors(600, 8, 6);
  HnswIndex index(8, 16, 100, Metric::Euclidean);
  index.batch_insert(data);
  index.enable_quantized_search();
  for (Slot s = 0; s < 600; s += 3) index.mark_deleted(s);
  for (std::size_t i = 0; i < 30; ++i) {
    // Querying with a deleted vector puts it first among the quantized candidates.
    const auto found = index.search_graph(data[3 * i], 10, 30);
    EXPECT_FALSE(found.empty());
    for (const auto& c : found) EXPECT_NE(c.slot % 3, 0u);
  }
}

TEST(QuantizedSearch, LoadedStateWithTooFewCodesIsNeverReadPastItsEnd) {
  const auto data = random_vectors(200, 4, 7);
  HnswIndex index(4, 16, 100, Metric::Euclidean);
  index.batch_insert(data);
  const auto quantizer = ScalarQuantizer::train(std::span<const float>(index.store().data(), index.store().float_count()), 4);
  std::vector<std::uint8_t> codes = quantizer.quantize_batch(std::span<const float>(index.store().data(), index.store().float_count()), 4);
  codes.resize(codes.size() / 2 + 1);  // half the rows and a stray byte
  index.load_quantized(quantizer, codes);
  // Slots without a code row are compared exactly.
  const auto q = data[150];
  const auto found = index.search_graph(q, 1, 50);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].slot, 150u);
  // A pair with a slot past the codes scores that slot exactly and the other by its codes.
  std::vector<float> scratch(4);
  float pair[2] = {0.0f, 0.0f};
  index.quantized_distance_pair(q, 3, 150, scratch, pair);
  EXPECT_EQ(pair[0], index.quantized_distance(q, 3, scratch));
  EXPECT_EQ(pair[1], distance(q, data[150], Metric::Euclidean));
  // A later insert keeps row s at offset s * dim.
  const Slot slot = index.insert({1, 2, 3, 4});
  EXPECT_EQ(index.quantized()->codes.size(), (slot + 1u) * 4);
}

}  // namespace
}  // namespace quarn
