#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "hnsw_test_util.h"
#include "hnsw/hnsw.h"
#include "util/bytes.h"
#include "util/file.h"

namespace quarn {
namespace {

using testing_util::random_vectors;

// A vectors file written by hand: n * dim floats, then one norm per vector.
class VectorFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quarn_vectors_XXXXXX";
    const int fd = mkstemp(tmpl);
    ASSERT_GE(fd, 0);
    ::close(fd);
    path_ = tmpl;
  }
  void TearDown() override { ::unlink(path_.c_str()); }

  void write(const std::vector<std::vector<float>>& vectors) {
    std::vector<std::uint8_t> bytes;
    for (const auto& v : vectors) {
      for (float x : v) put_f32(bytes, x);
    }
    for (const auto& v : vectors) put_f32(bytes, vector_norm(v));
    auto file = FileHandle::create_truncate(path_);
    ASSERT_TRUE(file.ok());
    BufferedWriter out(std::move(*file));
    ASSERT_TRUE(out.write(bytes.data(), bytes.size()).ok());
    ASSERT_TRUE(out.close().ok());
    original_ = bytes;
  }

  void expect_file_unchanged() {
    auto now = read_file(path_);
    ASSERT_TRUE(now.ok());
    EXPECT_EQ(*now, original_);
  }

  std::string path_;
  std::vector<std::uint8_t> original_;
};

TEST_F(VectorFile, MappedStoreReadsVectorsAndNorms) {
  const auto vectors = random_vectors(5, 3, 1);
  write(vectors);
  auto map = FileMapping::map_file(path_);
  ASSERT_TRUE(map.ok());
  EXPECT_EQ(map->file_size(), 5u * 3 * 4 + 5 * 4);
  VectorStore store(std::move(*map), 15);
  EXPECT_TRUE(store.is_mapped());
  EXPECT_EQ(store.float_count(), 15u);
  for (Slot s = 0; s < 5; ++s) {
    const auto row = store.row(s, 3);
    EXPECT_EQ(std::vector<float>(row.begin(), row.end()), vectors[s]);
  }
  const auto norms = store.mapped_norms();
  ASSERT_TRUE(norms.has_value());
  ASSERT_EQ(norms->size(), 5u);
  for (Slot s = 0; s < 5; ++s) EXPECT_EQ((*norms)[s], vector_norm(vectors[s]));
}

TEST_F(VectorFile, ConversionToOwnedCopiesOnlyVectorsAndLeavesTheFile) {
  const auto vectors = random_vectors(4, 2, 2);
  write(vectors);
  auto map = FileMapping::map_file(path_);
  ASSERT_TRUE(map.ok());
  VectorStore store(std::move(*map), 8);
  store.ensure_owned();
  EXPECT_FALSE(store.is_mapped());
  EXPECT_FALSE(store.mapped_norms().has_value());
  ASSERT_EQ(store.owned().size(), 8u);  // the norms after the vectors are not copied
  for (Slot s = 0; s < 4; ++s) {
    const auto row = store.row(s, 2);
    EXPECT_EQ(std::vector<float>(row.begin(), row.end()), vectors[s]);
  }
  store.owned().push_back(1.0f);
  store.ensure_owned();  // already owned: untouched
  EXPECT_EQ(store.float_count(), 9u);
  expect_file_unchanged();
}

TEST_F(VectorFile, EmptyFileMapsAsAnEmptyStore) {
  write({});
  auto map = FileMapping::map_file(path_);
  ASSERT_TRUE(map.ok());
  EXPECT_EQ(map->file_size(), 0u);
  EXPECT_NE(map->data(), nullptr);
  VectorStore store(std::move(*map), 0);
  EXPECT_EQ(store.float_count(), 0u);
  EXPECT_EQ(store.mapped_norms(), std::vector<float>{});
}

TEST(FileMapping, MissingFileIsAnIoError) {
  auto map = FileMapping::map_file("/nonexistent/quarn/vectors.bin");
  ASSERT_FALSE(map.ok());
  EXPECT_EQ(map.error().kind(), QuarnError::Kind::Io);
}

// Rebuilds `source` around a mapped store, as a snapshot load does.
HnswIndex reopen(const HnswIndex& source, const std::string& path) {
  auto map = FileMapping::map_file(path);
  EXPECT_TRUE(map.ok());
  HnswIndex::Parts parts{source.dim(), source.metric(), source.m(), source.ef_construction(),
                         source.entry_point(), source.max_level(),
                         VectorStore(std::move(*map), source.node_count() * source.dim()), {},
                         GraphLinks(source.m()), source.deleted()};
  parts.norms = *parts.store.mapped_norms();
  std::vector<Slot> list;
  for (Slot s = 0; s < source.node_count(); ++s) {
    parts.links.append(source.level(s));
    for (std::size_t l = 0; l <= source.level(s); ++l) {
      source.links().copy_to(s, l, list);
      parts.links.assign(s, l, list);
    }
  }
  return HnswIndex(std::move(parts));
}

TEST_F(VectorFile, ReopenedIndexSearchesTheMapAndConvertsOnFirstInsert) {
  const auto vectors = random_vectors(60, 4, 3);
  write(vectors);
  HnswIndex source(4, 8, 50, Metric::Euclidean);
  source.batch_insert(vectors);
  source.mark_deleted(7);
  HnswIndex index = reopen(source, path_);
  EXPECT_TRUE(index.store().is_mapped());
  EXPECT_EQ(index.live_count(), 59u);
  EXPECT_EQ(index.m0(), 16u);
  const auto q = random_vectors(1, 4, 4)[0];
  const auto before = index.search_graph(q, 5, 20);
  const auto expected = source.search_graph(q, 5, 20);
  ASSERT_EQ(before.size(), expected.size());
  for (std::size_t i = 0; i < before.size(); ++i) EXPECT_EQ(before[i].slot, expected[i].slot);

  const std::vector<float> norms = index.norms();
  EXPECT_EQ(index.insert({1, 2, 3, 4}), 60u);
  EXPECT_FALSE(index.store().is_mapped());
  ASSERT_EQ(index.norms().size(), 61u);
  EXPECT_EQ(std::vector<float>(index.norms().begin(), index.norms().end() - 1), norms);
  for (Slot s = 0; s < 60; ++s) {
    EXPECT_EQ(std::vector<float>(index.vector(s).begin(), index.vector(s).end()), vectors[s]);
  }
  expect_file_unchanged();
}

TEST_F(VectorFile, BatchInsertAndUpdateAlsoConvertAMappedStore) {
  const auto vectors = random_vectors(30, 3, 5);
  write(vectors);
  HnswIndex source(3, 8, 50, Metric::Cosine);
  source.batch_insert(vectors);

  HnswIndex batched = reopen(source, path_);
  EXPECT_EQ(batched.batch_insert(random_vectors(3, 3, 6)), (std::vector<Slot>{30, 31, 32}));
  EXPECT_FALSE(batched.store().is_mapped());
  EXPECT_EQ(batched.store().float_count(), 33u * 3);

  HnswIndex updated = reopen(source, path_);
  updated.update_vector(4, std::vector<float>{0, 0, 2});
  EXPECT_FALSE(updated.store().is_mapped());
  EXPECT_EQ(updated.norms()[4], 2.0f);
  EXPECT_EQ(std::vector<float>(updated.vector(3).begin(), updated.vector(3).end()), vectors[3]);
  expect_file_unchanged();
}

}  // namespace
}  // namespace quarn
