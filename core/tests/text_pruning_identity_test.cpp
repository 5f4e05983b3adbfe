// Pruned keyword search must return exactly what scoring every posting returns: the same slots
// and bit-equal scores, also on lists long enough that whole blocks are passed over.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "text/keyword_index.h"

namespace quarn {
namespace {

// Short documents of Zipf-distributed words: common words reach most documents (lists of many
// blocks with low bounds), rare ones few.
std::string zipf_text(std::mt19937& rng, const std::vector<double>& cdf) {
  std::uniform_real_distribution<double> u(0, 1);
  std::string text;
  const int length = 1 + static_cast<int>(rng() % 20);
  for (int i = 0; i < length; ++i) {
    const auto word = std::lower_bound(cdf.begin(), cdf.end(), u(rng)) - cdf.begin();
    text += "t" + std::to_string(word) + " ";
  }
  return text;
}

TEST(TextPruningIdentity, PrunedTopKIsBitIdenticalToScoringEveryPostingOnLongLists) {
  std::mt19937 rng(7);
  std::vector<double> cdf(3000);
  double sum = 0;
  for (std::size_t i = 0; i < cdf.size(); ++i) cdf[i] = sum += 1.0 / static_cast<double>(i + 1);
  for (double& c : cdf) c /= sum;
  auto created = KeywordIndex::create({});
  ASSERT_TRUE(created.ok());
  KeywordIndex index = std::move(created).value();
  for (std::uint32_t slot = 0; slot < 12000; ++slot) index.set_document(slot, zipf_text(rng, cdf));
  for (std::uint32_t slot = 0; slot < 12000; slot += 7) index.remove_document(slot);  // holes in blocks

  const std::function<bool(std::uint32_t)> thirds = [](std::uint32_t s) { return s % 3 != 0; };
  const KeywordFilter filter{std::nullopt, thirds};
  const KeywordPruning prunings[] = {KeywordPruning::Wand, KeywordPruning::BlockMaxWand, KeywordPruning::MaxScore,
                                     KeywordPruning::BlockMaxMaxScore};
  for (int q = 0; q < 120; ++q) {
    // One to four terms, the first from the commonest words: single-list walks over many blocks.
    std::string query = "t" + std::to_string(rng() % 8);
    for (std::size_t extra = rng() % 4; extra > 0; --extra) query += " t" + std::to_string(rng() % 3000);
    for (std::size_t k : {1, 10, 100}) {
      for (const KeywordFilter* f : {static_cast<const KeywordFilter*>(nullptr), &filter}) {
        const auto want = index.search(query, k, f, {KeywordPruning::Exact});
        for (KeywordPruning p : prunings) {
          const auto got = index.search(query, k, f, {p});
          EXPECT_EQ(got, want) << "query '" << query << "' k " << k << " pruning " << static_cast<int>(p)
                               << (f ? " filtered" : "");
        }
      }
    }
  }
}

}  // namespace
}  // namespace quarn
