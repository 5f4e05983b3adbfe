#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "util/bytes.h"

namespace quarn {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ByteEncoding, NumbersAreLittleEndianAndReadBack) {
  const struct {
    std::uint32_t value;
    Bytes bytes;
  } u32_cases[] = {
      {0u, {0, 0, 0, 0}},
      {1u, {1, 0, 0, 0}},
      {0x48535747u, {0x47, 0x57, 0x53, 0x48}},
      {0xFFFFFFFFu, {0xFF, 0xFF, 0xFF, 0xFF}},
      {0x80000001u, {0x01, 0, 0, 0x80}},
  };
  for (const auto& c : u32_cases) {
    Bytes out;
    put_u32(out, c.value);
    EXPECT_EQ(out, c.bytes) << c.value;
    ByteReader reader(out);
    EXPECT_EQ(*reader.read_u32(), c.value);
    EXPECT_EQ(reader.remaining(), 0u);
  }

  const struct {
    float value;
    Bytes bytes;
  } f32_cases[] = {
      {1.0f, {0x00, 0x00, 0x80, 0x3F}},
      {-2.5f, {0x00, 0x00, 0x20, 0xC0}},
      {-0.0f, {0x00, 0x00, 0x00, 0x80}},
      {std::numeric_limits<float>::infinity(), {0x00, 0x00, 0x80, 0x7F}},
      {std::numeric_limits<float>::denorm_min(), {0x01, 0x00, 0x00, 0x00}},
  };
  Bytes all;
  std::vector<float> values;
  for (const auto& c : f32_cases) {
    Bytes out;
    put_f32(out, c.value);
    EXPECT_EQ(out, c.bytes) << c.value;
    EXPECT_EQ(load_f32(out.data()), c.value);
    EXPECT_EQ(std::signbit(*ByteReader(out).read_f32()), std::signbit(c.value));
    all.insert(all.end(), out.begin(), out.end());
    values.push_back(c.value);
  }
  Bytes bulk;
  put_f32s(bulk, values);
  EXPECT_EQ(bulk, all);
}

TEST(ByteEncoding, ShortReadsFailWithoutMovingTheCursor) {
  const Bytes data{1, 2, 3};
  ByteReader reader(data);
  EXPECT_FALSE(reader.read_u32().ok());
  EXPECT_FALSE(reader.read_bytes(4).ok());
  EXPECT_EQ(reader.position(), 0u);
  EXPECT_EQ(reader.read_u32().error().text(), "io error: failed to fill whole buffer");

  EXPECT_EQ(*reader.read_u8(), 1);
  auto two = reader.read_bytes(2);
  ASSERT_TRUE(two.ok());
  EXPECT_EQ(Bytes(two->begin(), two->end()), (Bytes{2, 3}));
  EXPECT_FALSE(reader.read_u8().ok());
  EXPECT_TRUE(reader.read_bytes(0).ok());
}

}  // namespace
}  // namespace quarn
