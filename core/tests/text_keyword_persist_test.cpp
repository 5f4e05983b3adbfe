// The keyword index file: what is read back searches like what was written, equal contents
// give equal bytes, and damaged or foreign bytes are refused as Corrupt rather than loaded.
#include <cstdio>
#include <filesystem>
#include <unistd.h>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "text/keyword_format.h"
#include "text/keyword_index.h"
#include "util/bytes.h"
#include "util/crc32.h"

namespace quarn {
namespace {

KeywordIndex random_index(unsigned seed, KeywordIndexOptions options) {
  auto created = KeywordIndex::create(options);
  EXPECT_TRUE(created.ok());
  KeywordIndex index = std::move(created).value();
  std::mt19937 rng(seed);
  std::geometric_distribution<int> word(0.05);
  for (int i = 0; i < 3000; ++i) {
    std::string text;
    for (int w = 0, n = 1 + static_cast<int>(rng() % 30); w < n; ++w) text += "t" + std::to_string(word(rng)) + " é ";
    // Sparse, unordered slots, some far apart (large gaps take multi-byte varints).
    const auto slot = static_cast<std::uint32_t>(rng() % 5 == 0 ? rng() % 300000 : rng() % 4000);
    index.set_document(slot, text);
    if (rng() % 7 == 0) index.remove_document(static_cast<std::uint32_t>(rng() % 4000));
  }
  return index;
}

std::vector<std::uint8_t> with_crc(std::vector<std::uint8_t> body) {
  put_u32(body, crc32(body));
  return body;
}

TEST(TextKeywordPersist, ReadBackIndexSearchesAndSerialisesAlike) {
  const KeywordIndexOptions options[] = {{}, {{true, false}, {0.9f, 0.4f}}, {{false, true}, {1.5f, 1.0f}}};
  for (const auto& o : options) {
    if (o.tokenizer.english_stemming && !Tokenizer::stemming_available()) continue;
    const KeywordIndex index = random_index(7, o);
    const auto bytes = index.serialize();
    auto back = KeywordIndex::deserialize(bytes);
    ASSERT_TRUE(back.ok()) << back.error().text();
    EXPECT_EQ(back->options(), o);
    EXPECT_EQ(back->document_count(), index.document_count());
    EXPECT_EQ(back->total_length(), index.total_length());
    EXPECT_TRUE(back->serialize() == bytes);
    for (const char* q : {"t0", "t1 t5 t9", "t30 é t2", "nothing"}) {
      for (KeywordPruning p : {KeywordPruning::Exact, KeywordPruning::MaxScore, KeywordPruning::BlockMaxWand}) {
        EXPECT_EQ(back->search(q, 20, nullptr, {p}), index.search(q, 20, nullptr, {p})) << q;
      }
    }
    // A loaded index takes further writes like the original.
    KeywordIndex copy = std::move(back).value();
    KeywordIndex original = random_index(7, o);
    for (std::uint32_t s = 0; s < 200; s += 3) {
      copy.remove_document(s);
      original.remove_document(s);
      copy.set_document(s + 1, "t1 t1 new");
      original.set_document(s + 1, "t1 t1 new");
    }
    EXPECT_TRUE(copy.serialize() == original.serialize());
  }
}

TEST(TextKeywordPersist, FileRoundTripsAndDamageIsCorrupt) {
  const auto dir = std::filesystem::temp_directory_path() / ("quarn_text_persist_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "keywords.bin").string();
  const KeywordIndex index = random_index(3, {});
  ASSERT_TRUE(index.save(path).ok());
  auto loaded = KeywordIndex::load(path);
  ASSERT_TRUE(loaded.ok()) << loaded.error().text();
  EXPECT_TRUE(loaded->serialize() == index.serialize());

  const auto good = index.serialize();
  const std::size_t body = good.size() - 4;
  std::vector<std::uint8_t> flipped = good;
  flipped[body / 2] ^= 0x10;
  std::vector<std::uint8_t> bad_magic(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(body));
  bad_magic[0] ^= 1;
  std::vector<std::uint8_t> bad_version(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(body));
  store_u32(bad_version.data() + 4, kKeywordVersion + 1);
  std::vector<std::uint8_t> bad_flags(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(body));
  bad_flags[8] = 0x40;
  std::vector<std::uint8_t> short_body(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(body - 3));
  std::vector<std::uint8_t> trailing(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(body));
  trailing.push_back(0);
  // Two terms out of order: "b" before "a".
  std::vector<std::uint8_t> unordered(good.begin(), good.begin() + 17);
  put_u32(unordered, 2);
  for (const char* t : {"b", "a"}) {
    put_u32(unordered, 1);
    unordered.push_back(static_cast<std::uint8_t>(t[0]));
    put_u32(unordered, 1);
    unordered.push_back(0);
    unordered.push_back(1);
  }
  const struct {
    const char* name;
    std::vector<std::uint8_t> bytes;
  } damaged[] = {
      {"empty", {}},
      {"flipped bit", flipped},
      {"truncated", std::vector<std::uint8_t>(good.begin(), good.end() - 1)},
      {"bad magic", with_crc(bad_magic)},
      {"bad version", with_crc(bad_version)},
      {"bad flags", with_crc(bad_flags)},
      {"short body", with_crc(short_body)},
      {"trailing byte", with_crc(trailing)},
      {"terms out of order", with_crc(unordered)},
  };
  for (const auto& d : damaged) {
    auto r = KeywordIndex::deserialize(d.bytes);
    ASSERT_FALSE(r.ok()) << d.name;
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    if (!d.bytes.empty()) std::fwrite(d.bytes.data(), 1, d.bytes.size(), f);
    std::fclose(f);
    auto from_file = KeywordIndex::load(path);
    ASSERT_FALSE(from_file.ok()) << d.name;
    EXPECT_EQ(from_file.error().kind(), QuarnError::Kind::Corrupt) << d.name << ": " << from_file.error().text();
    EXPECT_EQ(from_file.error().file(), path) << d.name;
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quarn
