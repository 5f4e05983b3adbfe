#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "util/bytes.h"
#include "util/file.h"
#include "quantize/quantizer.h"

namespace quarn {
namespace {

using Codes = std::vector<std::uint8_t>;

TEST(ScalarQuantizer, TrainsPerDimensionMinimaAndScales) {
  const auto q = ScalarQuantizer::train(std::vector<float>{0, 10, 255, 10}, 2);
  EXPECT_EQ(q.dim, 2u);
  EXPECT_EQ(q.mins, (std::vector<float>{0.0f, 10.0f}));
  // Range 255 gives a step of 1; a constant dimension gets exactly 1.0.
  EXPECT_EQ(q.scales, (std::vector<float>{1.0f, 1.0f}));
  EXPECT_EQ(q.quantize(std::vector<float>{2.5f, 10}), (Codes{3, 0}));  // halves round away from zero
  EXPECT_EQ(q.quantize(std::vector<float>{-4, 12}), (Codes{0, 2}));    // clamped below
  EXPECT_EQ(q.quantize(std::vector<float>{300, 10}), (Codes{255, 0}));  // clamped above
  EXPECT_EQ(q.quantize(std::vector<float>{254.5f, 10}), (Codes{255, 0}));
}

TEST(ScalarQuantizer, EncodesWithAFractionalScale) {
  const auto q = ScalarQuantizer::train(std::vector<float>{0, 10}, 1);
  EXPECT_EQ(q.scales[0], 10.0f / 255.0f);
  EXPECT_EQ(q.quantize(std::vector<float>{6}), (Codes{153}));
  EXPECT_EQ(q.quantize(std::vector<float>{4}), (Codes{102}));
  EXPECT_EQ(q.quantize(std::vector<float>{0}), (Codes{0}));
  EXPECT_EQ(q.quantize(std::vector<float>{10}), (Codes{255}));
}

TEST(ScalarQuantizer, TrainingOnNoRowsOverflowsTheScale) {
  const auto q = ScalarQuantizer::train(std::vector<float>{}, 3);
  EXPECT_EQ(q.dim, 3u);
  for (float m : q.mins) EXPECT_EQ(m, std::numeric_limits<float>::max());
  for (float s : q.scales) EXPECT_EQ(s, -std::numeric_limits<float>::infinity());
  EXPECT_TRUE(q.quantize_batch(std::vector<float>{}, 3).empty());
}

TEST(ScalarQuantizer, NanNeitherTrainsNorEncodes) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const auto q = ScalarQuantizer::train(std::vector<float>{nan, 1, 2, nan, 4, 5}, 2);
  EXPECT_EQ(q.mins, (std::vector<float>{2.0f, 1.0f}));
  EXPECT_EQ(q.scales, (std::vector<float>{2.0f / 255.0f, 4.0f / 255.0f}));
  EXPECT_EQ(q.quantize(std::vector<float>{nan, 5}), (Codes{0, 255}));
  // Infinities clamp.
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_EQ(q.quantize(std::vector<float>{inf, -inf}), (Codes{255, 0}));
}

TEST(ScalarQuantizer, BatchEncodingIsRowByRowEncoding) {
  std::vector<float> matrix;
  for (int i = 0; i < 7 * 5; ++i) matrix.push_back(std::sin(static_cast<float>(i)) * 10.0f);
  const auto q = ScalarQuantizer::train(matrix, 5);
  const Codes batch = q.quantize_batch(matrix, 5);
  ASSERT_EQ(batch.size(), matrix.size());
  for (std::size_t r = 0; r < 7; ++r) {
    const Codes row = q.quantize(std::span<const float>(matrix.data() + r * 5, 5));
    EXPECT_EQ(Codes(batch.begin() + r * 5, batch.begin() + (r + 1) * 5), row);
  }
  // Decoding lands within half a step of the original value.
  for (std::size_t i = 0; i < matrix.size(); ++i) {
    const std::size_t d = i % 5;
    EXPECT_NEAR(q.decode(d, batch[i]), matrix[i], q.scales[d] * 0.5f + 1e-5f);
  }
}

class QuantizerFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quarn_quantizer_XXXXXX";
    const int fd = mkstemp(tmpl);
    ASSERT_GE(fd, 0);
    path_ = tmpl;
    file_ = FileHandle(fd);
  }
  void TearDown() override { ::unlink(path_.c_str()); }

  std::string path_;
  FileHandle file_;
};

TEST_F(QuantizerFile, RoundTripsThroughAWrittenFile) {
  const auto q = ScalarQuantizer::train(std::vector<float>{-1.5f, 0, 3, 2, 7.25f, 3}, 3);
  const Codes codes = q.quantize_batch(std::vector<float>{-1.5f, 0, 3, 2, 7.25f, 3}, 3);
  {
    BufferedWriter out(std::move(file_));
    ASSERT_TRUE(q.save(out).ok());
    ASSERT_TRUE(out.write(codes.data(), codes.size()).ok());
    ASSERT_TRUE(out.close().ok());
  }
  auto bytes = read_file(path_);
  ASSERT_TRUE(bytes.ok());
  // dim, then mins, then scales, little-endian.
  ASSERT_EQ(bytes->size(), 4 + 8 * 3 + codes.size());
  EXPECT_EQ(Codes(bytes->begin(), bytes->begin() + 4), (Codes{3, 0, 0, 0}));
  ByteReader in(*bytes);
  auto loaded = ScalarQuantizer::load(in);
  ASSERT_TRUE(loaded.ok());
  EXPECT_EQ(loaded->dim, 3u);
  EXPECT_EQ(loaded->mins, q.mins);
  EXPECT_EQ(loaded->scales, q.scales);
  EXPECT_EQ(in.position(), 4u + 8 * 3);
  EXPECT_EQ(Codes(in.rest().begin(), in.rest().end()), codes);
}

TEST(ScalarQuantizerLoad, ShortDataFailsWithEndOfData) {
  const auto q = ScalarQuantizer::train(std::vector<float>{0, 1, 2, 3}, 2);
  std::vector<std::uint8_t> bytes;
  put_u32(bytes, 2);
  for (float v : q.mins) put_f32(bytes, v);
  for (float v : q.scales) put_f32(bytes, v);
  ASSERT_EQ(bytes.size(), 4u + 8 * 2);
  for (std::size_t len = 0; len < bytes.size(); ++len) {
    ByteReader in(std::span<const std::uint8_t>(bytes.data(), len));
    auto loaded = ScalarQuantizer::load(in);
    ASSERT_FALSE(loaded.ok()) << len;
    EXPECT_EQ(loaded.error().io_kind(), QuarnError::IoKind::UnexpectedEof);
    EXPECT_EQ(loaded.error().text(), "io error: failed to fill whole buffer");
  }
  // Exactly the quantizer part: loads, with nothing left for codes.
  ByteReader in(bytes);
  auto loaded = ScalarQuantizer::load(in);
  ASSERT_TRUE(loaded.ok());
  EXPECT_EQ(in.remaining(), 0u);
}

TEST(ScalarQuantizerLoad, HugeStoredDimensionFailsWithoutAllocating) {
  std::vector<std::uint8_t> bytes;
  put_u32(bytes, 0xFFFFFFFFu);
  put_f32(bytes, 1.0f);
  ByteReader in(bytes);
  auto loaded = ScalarQuantizer::load(in);
  ASSERT_FALSE(loaded.ok());
  EXPECT_EQ(loaded.error().io_kind(), QuarnError::IoKind::UnexpectedEof);
}

}  // namespace
}  // namespace quarn
