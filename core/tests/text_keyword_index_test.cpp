// The keyword index against a brute-force BM25 written here: random corpora with repeated
// terms and equal-scoring documents, every pruning method, filters of every kind, deletes and
// replaces; and the index after random writes against one rebuilt from the final documents.
#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "text/keyword_index.h"

namespace quarn {
namespace {

using Corpus = std::map<std::uint32_t, std::string>;  // slot -> document text

// BM25 straight from its definition over the tokenized corpus: every document holding a query
// term is scored, distinct terms summed in query order.
class Reference {
 public:
  Reference(const KeywordIndex& index, const Corpus& corpus) : index_(index) {
    for (const auto& [slot, text] : corpus) {
      auto terms = index.tokenizer().tokenize(text);
      if (terms.empty()) continue;
      total_ += static_cast<double>(terms.size());
      for (const auto& t : std::set<std::string>(terms.begin(), terms.end())) ++df_[t];
      docs_[slot] = std::move(terms);
    }
  }

  std::vector<KeywordHit> top(const std::string& query, std::size_t k,
                              const std::function<bool(std::uint32_t)>& allows = {}) const {
    const double n_docs = static_cast<double>(docs_.size());
    const double k1 = index_.options().bm25.k1;
    const double b = index_.options().bm25.b;
    std::vector<KeywordHit> hits;
    const auto terms = index_.query_terms(query);
    for (const auto& [slot, doc] : docs_) {
      if (allows && !allows(slot)) continue;
      double score = 0;
      bool any = false;
      for (const auto& term : terms) {
        const auto tf = static_cast<double>(std::count(doc.begin(), doc.end(), term));
        if (tf == 0) continue;
        any = true;
        const double df = df_.at(term);
        const double idf = std::log(1.0 + (n_docs - df + 0.5) / (df + 0.5));
        const double norm = k1 * (1.0 - b + b * static_cast<double>(doc.size()) / (total_ / n_docs));
        score += idf * (k1 + 1.0) * tf / (tf + norm);
      }
      if (any) hits.push_back({slot, score});
    }
    std::sort(hits.begin(), hits.end(), [](const KeywordHit& x, const KeywordHit& y) {
      return x.score > y.score || (x.score == y.score && x.slot < y.slot);
    });
    if (hits.size() > k) hits.resize(k);
    return hits;
  }

 private:
  const KeywordIndex& index_;
  std::map<std::uint32_t, std::vector<std::string>> docs_;
  std::map<std::string, double> df_;
  double total_ = 0;
};

void expect_same(const std::vector<KeywordHit>& got, const std::vector<KeywordHit>& want, const std::string& what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].slot, want[i].slot) << what << " rank " << i;
    EXPECT_NEAR(got[i].score, want[i].score, 1e-9 * want[i].score) << what << " rank " << i;
  }
}

// Words drawn with a skewed distribution from a small vocabulary, so that documents repeat
// terms and many score alike; some documents have no words at all.
std::string random_text(std::mt19937& rng, std::size_t vocabulary) {
  std::geometric_distribution<std::size_t> word(0.08);
  std::string text;
  const std::size_t length = rng() % 9 == 0 ? 0 : 1 + rng() % 12;
  for (std::size_t i = 0; i < length; ++i) {
    text += "w" + std::to_string(std::min(word(rng), vocabulary - 1)) + (rng() % 5 == 0 ? ", " : " ");
  }
  if (rng() % 13 == 0) text += " !! ";
  return text;
}

std::string random_query(std::mt19937& rng) {
  std::string q;
  const std::size_t n = 1 + rng() % 5;
  for (std::size_t i = 0; i < n; ++i) q += "W" + std::to_string(rng() % 40) + " ";  // unknown and repeated terms too
  return q;
}

KeywordIndex make_index(Bm25Params bm25 = {}) {
  auto index = KeywordIndex::create({TokenizerOptions{}, bm25});
  EXPECT_TRUE(index.ok());
  return std::move(index).value();
}

constexpr KeywordPruning kPrunings[] = {KeywordPruning::Exact, KeywordPruning::Wand, KeywordPruning::BlockMaxWand,
                                        KeywordPruning::MaxScore, KeywordPruning::BlockMaxMaxScore};

TEST(TextKeywordIndex, ScoresMatchAHandComputedExample) {
  KeywordIndex index = make_index();
  index.set_document(4, "a b");
  index.set_document(7, "b c C");
  index.set_document(9, "c");
  // N = 3, n(c) = 2, average length 2: idf = ln 1.6; slot 7 has tf 2 in 3 terms, slot 9 tf 1 in 1.
  // (k1 and b are floats: 1.2f is not 1.2, hence the tolerance.)
  const double idf = std::log(1.6);
  const auto hits = index.search("c", 10);
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(hits[0].slot, 9u);
  EXPECT_NEAR(hits[0].score, idf * 2.2 / (1 + 1.2 * (0.25 + 0.75 * 0.5)), 1e-7);
  EXPECT_EQ(hits[1].slot, 7u);
  EXPECT_NEAR(hits[1].score, idf * 4.4 / (2 + 1.2 * (0.25 + 0.75 * 1.5)), 1e-7);
}

TEST(TextKeywordIndex, TopKEqualsBruteForceForEveryPruningAndFilter) {
  const struct {
    unsigned seed;
    std::size_t documents;
    std::size_t vocabulary;
    Bm25Params bm25;
  } corpora[] = {{1, 60, 8, {}}, {2, 700, 30, {}}, {3, 2500, 60, {}}, {4, 900, 25, {2.0f, 0.0f}}, {5, 900, 25, {0.0f, 1.0f}}};
  for (const auto& c : corpora) {
    std::mt19937 rng(c.seed);
    KeywordIndex index = make_index(c.bm25);
    Corpus corpus;
    for (std::size_t i = 0; i < c.documents; ++i) {
      const auto slot = static_cast<std::uint32_t>(rng() % (c.documents * 2));  // gaps and overwrites
      corpus[slot] = random_text(rng, c.vocabulary);
      index.set_document(slot, corpus[slot]);
    }
    std::vector<std::uint32_t> few;  // listed filter small enough to be scored slot by slot
    std::vector<std::uint32_t> many;
    for (std::uint32_t s = 0; s < c.documents * 2 + 5; ++s) {
      if (rng() % 50 == 0) few.push_back(s);
      if (rng() % 2 == 0) many.push_back(s);
    }
    const std::function<bool(std::uint32_t)> odd = [](std::uint32_t s) { return s % 2 == 1; };
    const std::function<bool(std::uint32_t)> rare = [](std::uint32_t s) { return s % 97 == 3; };
    const auto in = [](const std::vector<std::uint32_t>& v) {
      return std::function<bool(std::uint32_t)>(
          [&v](std::uint32_t s) { return std::binary_search(v.begin(), v.end(), s); });
    };
    const Reference reference(index, corpus);
    for (int q = 0; q < 30; ++q) {
      const std::string query = random_query(rng);
      for (std::size_t k : {1, 3, 10, 100000}) {
        const auto want = reference.top(query, k);
        const auto want_odd = reference.top(query, k, odd);
        const auto want_rare = reference.top(query, k, rare);
        const auto want_few = reference.top(query, k, in(few));
        const auto want_many = reference.top(query, k, in(many));
        for (KeywordPruning p : kPrunings) {
          const std::string what = "seed " + std::to_string(c.seed) + " query '" + query + "' k " + std::to_string(k) +
                                   " pruning " + std::to_string(static_cast<int>(p));
          KeywordSearchOptions options{p};
          expect_same(index.search(query, k, nullptr, options), want, what);
          KeywordFilter f_odd{std::nullopt, odd};
          expect_same(index.search(query, k, &f_odd, options), want_odd, what + " odd");
          KeywordFilter f_rare{std::nullopt, rare};
          expect_same(index.search(query, k, &f_rare, options), want_rare, what + " rare");
          KeywordFilter f_few{std::span<const std::uint32_t>(few), {}};
          expect_same(index.search(query, k, &f_few, options), want_few, what + " few");
          KeywordFilter f_many{std::span<const std::uint32_t>(many), {}};
          expect_same(index.search(query, k, &f_many, options), want_many, what + " many");
          // The listed filter scored slot by slot, forced, gives the same.
          expect_same(index.search(query, k, &f_many, {p, 1e9}), want_many, what + " many listed");
        }
      }
    }
  }
}

// Everything search() reads, compared through the canonical bytes and the statistics.
void expect_equal_indexes(const KeywordIndex& a, const KeywordIndex& b, const std::string& what) {
  EXPECT_EQ(a.document_count(), b.document_count()) << what;
  EXPECT_EQ(a.total_length(), b.total_length()) << what;
  EXPECT_EQ(a.term_count(), b.term_count()) << what;
  EXPECT_TRUE(a.serialize() == b.serialize()) << what;
}

TEST(TextKeywordIndex, RandomWritesLeaveTheIndexEqualToARebuild) {
  for (unsigned seed : {11u, 12u, 13u}) {
    std::mt19937 rng(seed);
    KeywordIndex index = make_index();
    Corpus corpus;
    for (int step = 0; step < 6000; ++step) {
      // Few slots and a small vocabulary: slots are replaced and emptied often, terms vanish
      // and come back (reusing freed term ids), posting blocks split and drain.
      const auto slot = static_cast<std::uint32_t>(rng() % 400);
      switch (rng() % 4) {
        case 0:
        case 1: {
          const std::string text = random_text(rng, 300);
          index.set_document(slot, text);
          corpus[slot] = text;
          break;
        }
        case 2:
          index.remove_document(slot);
          corpus.erase(slot);
          break;
        default:
          index.set_document(slot, "");
          corpus.erase(slot);
          break;
      }
      if (step % 1500 == 1499) {
        KeywordIndex rebuilt = make_index();
        for (const auto& [s, text] : corpus) rebuilt.set_document(s, text);
        const std::string what = "seed " + std::to_string(seed) + " step " + std::to_string(step);
        expect_equal_indexes(index, rebuilt, what);
        const Reference reference(rebuilt, corpus);
        for (int q = 0; q < 20; ++q) {
          const std::string query = random_query(rng);
          for (KeywordPruning p : kPrunings) {
            expect_same(index.search(query, 10, nullptr, {p}), reference.top(query, 10), what + " " + query);
          }
        }
      }
    }
  }
}

TEST(TextKeywordIndex, PartsSearchedWithCollectionStatisticsMergeToTheWholeIndex) {
  std::mt19937 rng(21);
  KeywordIndex whole = make_index();
  KeywordIndex parts[3] = {make_index(), make_index(), make_index()};
  for (std::uint32_t slot = 0; slot < 1500; ++slot) {
    const std::string text = random_text(rng, 40);
    whole.set_document(slot, text);
    parts[rng() % 3].set_document(slot, text);  // one part may lack a term altogether
  }
  for (int q = 0; q < 50; ++q) {
    const auto terms = whole.query_terms(random_query(rng));
    KeywordStatistics collection;
    for (const auto& part : parts) collection += part.statistics(terms);
    for (KeywordPruning p : kPrunings) {
      std::vector<KeywordHit> merged;
      for (const auto& part : parts) {
        const auto hits = part.search_terms(terms, 10, nullptr, {p}, &collection);
        merged.insert(merged.end(), hits.begin(), hits.end());
      }
      std::sort(merged.begin(), merged.end(), ranks_before);
      if (merged.size() > 10) merged.resize(10);
      EXPECT_EQ(merged, whole.search_terms(terms, 10, nullptr, {p})) << q;
    }
  }
}

TEST(TextKeywordIndex, QueriesWithoutTermsAndEmptyIndexesGiveNoHits) {
  auto stop = KeywordIndex::create({{true, false}, {}});
  ASSERT_TRUE(stop.ok());
  KeywordIndex index = std::move(stop).value();
  EXPECT_TRUE(index.search("anything", 10).empty());
  index.set_document(0, "the quick fox");
  index.set_document(1, "the");  // only stop words: holds no document
  EXPECT_EQ(index.document_count(), 1u);
  EXPECT_FALSE(index.has_document(1));
  const char* no_terms[] = {"", "  ,, ", "the of and", "zebra"};
  for (const char* q : no_terms) EXPECT_TRUE(index.search(q, 10).empty()) << q;
  EXPECT_TRUE(index.search("fox", 0).empty());
  EXPECT_EQ(index.search("fox FOX quick", 10).size(), 1u);
}

TEST(TextKeywordIndex, BadBm25ParametersAreRefused) {
  const Bm25Params bad[] = {{-0.1f, 0.75f}, {1.2f, -0.01f}, {1.2f, 1.01f}, {NAN, 0.5f}, {1.2f, INFINITY}};
  for (const auto& p : bad) EXPECT_FALSE(KeywordIndex::create({TokenizerOptions{}, p}).ok()) << p.k1 << " " << p.b;
}

TEST(TextKeywordIndex, ContainsMatchesDocumentsHoldingEveryTermOfTheValue) {
  if (!Tokenizer::stemming_available()) GTEST_SKIP() << "built without libstemmer";
  auto created = KeywordIndex::create({{true, true}, {}});
  ASSERT_TRUE(created.ok());
  KeywordIndex index = std::move(created).value();
  const Corpus corpus = {{0, "Cats chase mice"}, {1, "a cat sat"}, {2, "concatenate strings"},
                         {3, "Mice, cats and DOGS"}, {5, "dogs bark"}, {6, ""}};
  for (const auto& [s, text] : corpus) index.set_document(s, text);
  const struct {
    const char* value;
    std::vector<std::uint32_t> slots;
  } cases[] = {
      {"cat", {0, 1, 3}},          // stems: cats = cat; never a substring ("concatenate")
      {"CATS mice", {0, 3}},       // every term, any order
      {"mice cats", {0, 3}},
      {"the cat", {0, 1, 3}},      // stop words drop out of the value
      {"dog", {3, 5}},
      {"cat bird", {}},
      {"strings", {2}},
  };
  for (const auto& c : cases) {
    auto value = index.contains_terms(c.value);
    ASSERT_TRUE(value.ok()) << c.value;
    EXPECT_EQ(index.slots_containing(*value), c.slots) << c.value;
    for (std::uint32_t s = 0; s < 8; ++s) {
      const bool want = std::find(c.slots.begin(), c.slots.end(), s) != c.slots.end();
      EXPECT_EQ(index.document_contains(s, *value), want) << c.value << " slot " << s;
      if (corpus.count(s)) {
        EXPECT_EQ(index.text_contains(corpus.at(s), *value), want) << c.value << " slot " << s;
      }
    }
  }
  for (const char* empty : {"", " - ", "the and"}) EXPECT_FALSE(index.contains_terms(empty).ok()) << empty;
}

}  // namespace
}  // namespace quarn
