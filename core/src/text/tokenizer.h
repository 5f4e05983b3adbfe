#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "quarn/result.h"

struct sb_stemmer;

namespace quarn {

// How text becomes terms. Chosen when an index is created and stored with it: the same
// settings must tokenize documents and queries.
struct TokenizerOptions {
  // Drop the common English words (before stemming).
  bool english_stop_words = false;
  // Reduce each term to its Snowball English stem.
  bool english_stemming = false;

  bool operator==(const TokenizerOptions&) const = default;
};

// Text to terms: a token is a maximal run of Unicode letters and numbers (categories L and N),
// with the combining marks (M) that follow them; every other code point, a mark that follows
// no letter or number, and every byte that is not part of well-formed UTF-8 separate tokens. Each token is case-folded (full folding: "Straße" -> "strasse"), then
// dropped if it is a stop word, then stemmed. No normalisation: a precomposed letter and its
// decomposed form are different terms.
class Tokenizer {
 public:
  // Fails with InvalidArgument when stemming is asked for and this build has no stemmer.
  static Result<Tokenizer> create(const TokenizerOptions& options);
  static bool stemming_available();

  Tokenizer(Tokenizer&&) noexcept;
  Tokenizer& operator=(Tokenizer&&) noexcept;
  ~Tokenizer();

  const TokenizerOptions& options() const { return options_; }

  // Appends the terms of `text`, in order and with repeats, to `out`. Safe to call from several
  // threads at once.
  void tokenize(std::string_view text, std::vector<std::string>& out) const;
  std::vector<std::string> tokenize(std::string_view text) const;

  // The settings as one byte of flags and back (for a file header); unknown flags fail.
  static std::uint8_t to_flags(const TokenizerOptions& options);
  static Result<TokenizerOptions> from_flags(std::uint8_t flags);

 private:
  explicit Tokenizer(const TokenizerOptions& options);
  // Appends the finished term unless it is a stop word.
  void emit(std::string& token, std::vector<std::string>& out) const;

  struct Stemmer;
  TokenizerOptions options_;
  std::unique_ptr<Stemmer> stemmer_;
};

// What a code point is to the tokenizer; its case folding appended as UTF-8.
enum class CodePointClass : std::uint8_t { Separator, Word, Mark };
CodePointClass classify_code_point(std::uint32_t cp);
void append_case_folded(std::uint32_t cp, std::string& out);

}  // namespace quarn
