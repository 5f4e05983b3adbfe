#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "hnsw_test_util.h"
#include "hnsw/hnsw.h"

namespace quarn {
namespace {

using testing_util::random_vectors;

// Counts how often each array the index appends to moved while one-row batches were loaded.
struct Moves {
  std::size_t store = 0;
  std::size_t norms = 0;
  std::size_t level0 = 0;
  std::size_t codes = 0;
};

Moves load_one_row_batches(HnswIndex& index, const std::vector<std::vector<float>>& rows) {
  Moves moves;
  const float* store = nullptr;
  const float* norms = nullptr;
  const Slot* level0 = nullptr;
  const std::uint8_t* codes = nullptr;
  for (const auto& row : rows) {
    index.batch_insert({row});
    moves.store += index.store().data() != store;
    moves.norms += index.norms().data() != norms;
    moves.level0 += index.links().list_address(0, 0) != level0;
    store = index.store().data();
    norms = index.norms().data();
    level0 = index.links().list_address(0, 0);
    if (index.has_quantized()) {
      moves.codes += index.quantized()->codes.data() != codes;
      codes = index.quantized()->codes.data();
    }
  }
  return moves;
}

// With arrays grown to exactly the new size, every one-row batch copies the whole store; with
// geometric growth, 400 batches move each array a few dozen times at most (log base 1.5 of 400
// is under 15, plus the first small steps).
TEST(StoreGrowth, OneRowBatchesReallocateLogarithmicallyOften) {
  const std::size_t rows = 400;
  const std::size_t bound = 30;
  for (const bool quantized : {false, true}) {
    SCOPED_TRACE(quantized ? "quantized" : "plain");
    HnswIndex index(8, 8, 32, Metric::Euclidean);
    const auto data = random_vectors(rows + 1, 8, 11);
    index.batch_insert({data[0]});
    if (quantized) index.enable_quantized_search();
    const Moves moves = load_one_row_batches(index, {data.begin() + 1, data.end()});
    EXPECT_LE(moves.store, bound);
    EXPECT_LE(moves.norms, bound);
    EXPECT_LE(moves.level0, bound);
    if (quantized) {
      EXPECT_LE(moves.codes, bound);
    }
    ASSERT_EQ(index.node_count(), rows + 1);
    ASSERT_EQ(index.live_count(), rows + 1);
    // The rows are where the slots say, whatever moved.
    for (std::size_t s = 0; s <= rows; ++s) {
      const auto v = index.vector(static_cast<Slot>(s));
      ASSERT_EQ(std::vector<float>(v.begin(), v.end()), data[s]) << "slot " << s;
    }
  }
}

// Rows of 128 floats fill whole cache lines only when the store starts on a line; an allocation
// large enough to come from its own pages starts 16 bytes in. Each way the store grows must keep
// the start on a 64-byte boundary.
TEST(StoreGrowth, StoreStartsOnACacheLineWhicheverWayItGrew) {
  const std::size_t dim = 128;
  const auto data = random_vectors(600, dim, 13);
  auto aligned = [](const HnswIndex& index) {
    return reinterpret_cast<std::uintptr_t>(index.store().data()) % 64 == 0;
  };
  struct Case {
    const char* name;
    void (*grow)(HnswIndex&, const std::vector<std::vector<float>>&);
  };
  const Case cases[] = {
      {"one insert at a time",
       [](HnswIndex& index, const std::vector<std::vector<float>>& rows) {
         for (const auto& row : rows) index.insert(row);
       }},
      {"one-row batches",
       [](HnswIndex& index, const std::vector<std::vector<float>>& rows) {
         for (const auto& row : rows) index.batch_insert({row});
       }},
      {"one contiguous block",
       [](HnswIndex& index, const std::vector<std::vector<float>>& rows) {
         std::vector<float> block;
         for (const auto& row : rows) block.insert(block.end(), row.begin(), row.end());
         index.batch_insert_rows(block);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HnswIndex index(dim, 8, 32, Metric::Euclidean);
    for (std::size_t begin = 0; begin < data.size(); begin += 150) {
      c.grow(index, {data.begin() + static_cast<std::ptrdiff_t>(begin),
                     data.begin() + static_cast<std::ptrdiff_t>(begin + 150)});
      EXPECT_TRUE(aligned(index)) << "after " << begin + 150 << " rows";
    }
    ASSERT_EQ(index.node_count(), data.size());
  }
}

// A large batch after small ones reserves what it needs in one step, not 1.5x repeatedly.
TEST(StoreGrowth, BatchLargerThanTheGrowthStepFitsAtOnce) {
  HnswIndex index(4, 8, 32, Metric::Euclidean);
  const auto data = random_vectors(1000, 4, 12);
  index.batch_insert({data[0]});
  index.batch_insert({data.begin() + 1, data.end()});
  ASSERT_EQ(index.node_count(), 1000u);
  for (std::size_t s = 0; s < 1000; ++s) {
    const auto v = index.vector(static_cast<Slot>(s));
    ASSERT_EQ(std::vector<float>(v.begin(), v.end()), data[s]);
  }
}

}  // namespace
}  // namespace quarn
