// The tokenizer against tables of texts and the terms they must give: splitting by Unicode
// category, full case folding beyond ASCII, bad UTF-8, stop words and stemming.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "text/tokenizer.h"

namespace quarn {
namespace {

using Terms = std::vector<std::string>;

struct Case {
  const char* text;
  Terms terms;
};

Tokenizer make(bool stop_words, bool stemming) {
  auto t = Tokenizer::create({stop_words, stemming});
  EXPECT_TRUE(t.ok());
  return std::move(t).value();
}

TEST(TextTokenizer, SplitsOnWhatIsNotALetterNumberOrMarkAndFoldsCase) {
  const Case cases[] = {
      {"", {}},
      {" \t\n.,;!?", {}},
      {"Hello, World!", {"hello", "world"}},
      {"x86_64 data2vec e-mail", {"x86", "64", "data2vec", "e", "mail"}},  // '_' and '-' are punctuation
      {"Straße STRASSE", {"strasse", "strasse"}},                        // full folding: ß -> ss
      {"ΟΔΥΣΣΕΥΣ Οδυσσεύς", {"οδυσσευσ", "οδυσσεύσ"}},                 // final sigma folds to σ
      {"ÉCOLE École", {"école", "école"}},
      {"İstanbul", {"i\xCC\x87stanbul"}},                                 // İ -> i + combining dot
      {"ＡＢＣ", {"ａｂｃ"}},                                              // folded, not normalised
      {"e\xCC\x81t\xC3\xA9", {"e\xCC\x81t\xC3\xA9"}},                    // a combining mark stays in its word
      {"नमस्ते दुनिया", {"नमस्ते", "दुनिया"}},                             // vowel signs and virama are marks
      {"東京タワー", {"東京タワー"}},                                      // no spaces: one run of letters
      {"٣٤ ½ x²", {"٣٤", "½", "x²"}},                                       // Nd, No
      {"I\xE2\x9D\xA4\xEF\xB8\x8FNY 😀ok", {"i", "ny", "ok"}},             // symbols, emoji, variation selectors
      {"\xCC\x81x \xCC\x81", {"x"}},                                       // a mark after no word separates
      {"a\xFF" "b\xC3(c\xED\xA0\x80" "d", {"a", "b", "c", "d"}},         // bad bytes and surrogates separate
      {"end\xE2\x80\xA8line", {"end", "line"}},                          // U+2028
      {"trailing-", {"trailing"}},
  };
  const Tokenizer plain = make(false, false);
  for (const Case& c : cases) EXPECT_EQ(plain.tokenize(c.text), c.terms) << c.text;
}

TEST(TextTokenizer, CodePointsAreClassedByTheirCategory) {
  constexpr auto W = CodePointClass::Word;
  constexpr auto M = CodePointClass::Mark;
  constexpr auto S = CodePointClass::Separator;
  const struct {
    std::uint32_t cp;
    CodePointClass cls;
  } cases[] = {{'0', W},    {'Z', W},      {'_', S},     {0x7F, S},     {0xAA, W},   {0xD7, S},
               {0x301, M},  {0x93F, M},    {0xFE0F, M},  {0x660, W},    {0x2028, S}, {0x3000, S},
               {0x1F600, S}, {0x20000, W}, {0x10FFFF, S}, {0xE000, S}};
  for (const auto& c : cases) EXPECT_EQ(classify_code_point(c.cp), c.cls) << std::hex << c.cp;
}

TEST(TextTokenizer, StopWordsAndStemmingApplyOnlyWhenChosen) {
  if (!Tokenizer::stemming_available()) GTEST_SKIP() << "built without libstemmer";
  const char* text = "The Cats are RUNNING into the connected Connections; it's 2024";
  const struct {
    bool stop_words;
    bool stemming;
    Terms terms;
  } cases[] = {
      {false, false, {"the", "cats", "are", "running", "into", "the", "connected", "connections", "it", "s", "2024"}},
      {true, false, {"cats", "running", "connected", "connections", "s", "2024"}},
      {false, true, {"the", "cat", "are", "run", "into", "the", "connect", "connect", "it", "s", "2024"}},
      // Stop words are matched before stemming: "are" goes, "cats" stems.
      {true, true, {"cat", "run", "connect", "connect", "s", "2024"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(make(c.stop_words, c.stemming).tokenize(text), c.terms) << c.stop_words << c.stemming;
  }
  // Stemming works on folded non-ASCII words too (and leaves what it does not know).
  EXPECT_EQ(make(false, true).tokenize("NAÏVELY Ünïcode"), (Terms{"naïv", "ünïcode"}));
}

TEST(TextTokenizer, StemmingFromSeveralThreadsAtOnceGivesTheSameTerms) {
  if (!Tokenizer::stemming_available()) GTEST_SKIP() << "built without libstemmer";
  const Tokenizer stemming = make(false, true);
  const char* texts[] = {"generously connected relational hopefulness", "cats running quickly organisations"};
  const Terms want[] = {stemming.tokenize(texts[0]), stemming.tokenize(texts[1])};
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 3000; ++i) {
        if (stemming.tokenize(texts[(t + i) % 2]) != want[(t + i) % 2]) ++wrong;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(TextTokenizer, SettingsSurviveTheirFlagsAndUnknownFlagsAreRefused) {
  for (bool stop : {false, true}) {
    for (bool stem : {false, true}) {
      const TokenizerOptions options{stop, stem};
      auto back = Tokenizer::from_flags(Tokenizer::to_flags(options));
      ASSERT_TRUE(back.ok());
      EXPECT_EQ(*back, options);
    }
  }
  EXPECT_FALSE(Tokenizer::from_flags(4).ok());
  EXPECT_FALSE(Tokenizer::from_flags(0x80).ok());
}

}  // namespace
}  // namespace quarn
