#include "text/tokenizer.h"

#include <algorithm>
#include <array>
#include <iterator>

#include "text/unicode_tables.h"
#include "util/utf8.h"

#ifdef QUARN_HAVE_LIBSTEMMER
#include <libstemmer.h>
#endif

namespace quarn {

namespace {

constexpr std::uint8_t kStopWordsFlag = 1;
constexpr std::uint8_t kStemmingFlag = 2;

// The classic English stop set of search engines, ascending.
constexpr std::array<std::string_view, 33> kEnglishStopWords = {
    "a",   "an",  "and",   "are",  "as",    "at",    "be",   "but",  "by",   "for",  "if",
    "in",  "into", "is",   "it",   "no",    "not",   "of",   "on",   "or",   "such", "that",
    "the", "their", "then", "there", "these", "they", "this", "to",  "was",  "will", "with"};

void append_utf8(std::uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Decodes the well-formed sequence of `length` bytes at s[i].
std::uint32_t decode_utf8(std::string_view s, std::size_t i, std::size_t length) {
  const auto b = [&](std::size_t k) { return static_cast<std::uint32_t>(static_cast<unsigned char>(s[i + k])); };
  switch (length) {
    case 1: return b(0);
    case 2: return ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
    case 3: return ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
    default: return ((b(0) & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) | (b(3) & 0x3F);
  }
}

bool is_ascii_word(unsigned char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

template <std::size_t N>
bool in_ranges(const CodePointRange (&ranges)[N], std::uint32_t cp) {
  const auto* it = std::upper_bound(std::begin(ranges), std::end(ranges), cp,
                                    [](std::uint32_t v, const CodePointRange& r) { return v < r.first; });
  return it != std::begin(ranges) && cp <= std::prev(it)->last;
}

}  // namespace

CodePointClass classify_code_point(std::uint32_t cp) {
  if (cp < 0x80) return is_ascii_word(static_cast<unsigned char>(cp)) ? CodePointClass::Word : CodePointClass::Separator;
  if (in_ranges(kWordRanges, cp)) return CodePointClass::Word;
  return in_ranges(kMarkRanges, cp) ? CodePointClass::Mark : CodePointClass::Separator;
}

void append_case_folded(std::uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp >= 'A' && cp <= 'Z' ? cp + 32 : cp));
    return;
  }
  const auto* end = std::end(kCaseFolds);
  const auto* it = std::lower_bound(std::begin(kCaseFolds), end, cp,
                                    [](const CaseFold& f, std::uint32_t v) { return f.from < v; });
  if (it == end || it->from != cp) {
    append_utf8(cp, out);
    return;
  }
  for (std::uint32_t to : it->to) {
    if (to != 0) append_utf8(to, out);
  }
}

struct Tokenizer::Stemmer {
  // One stemmer object holds its working buffer, so calls on it take turns.
  std::mutex mutex;
  sb_stemmer* handle = nullptr;
#ifdef QUARN_HAVE_LIBSTEMMER
  ~Stemmer() { sb_stemmer_delete(handle); }
#endif
};

bool Tokenizer::stemming_available() {
#ifdef QUARN_HAVE_LIBSTEMMER
  return true;
#else
  return false;
#endif
}

Result<Tokenizer> Tokenizer::create(const TokenizerOptions& options) {
  Tokenizer tokenizer(options);
  if (options.english_stemming) {
#ifdef QUARN_HAVE_LIBSTEMMER
    tokenizer.stemmer_ = std::make_unique<Stemmer>();
    tokenizer.stemmer_->handle = sb_stemmer_new("english", "UTF_8");
    if (tokenizer.stemmer_->handle == nullptr) {
      return QuarnError::invalid_argument("could not create the English stemmer");
    }
#else
    return QuarnError::invalid_argument("English stemming is not available in this build");
#endif
  }
  return tokenizer;
}

Tokenizer::Tokenizer(const TokenizerOptions& options) : options_(options) {}
Tokenizer::Tokenizer(Tokenizer&&) noexcept = default;
Tokenizer& Tokenizer::operator=(Tokenizer&&) noexcept = default;
Tokenizer::~Tokenizer() = default;

std::uint8_t Tokenizer::to_flags(const TokenizerOptions& options) {
  return static_cast<std::uint8_t>((options.english_stop_words ? kStopWordsFlag : 0) |
                                   (options.english_stemming ? kStemmingFlag : 0));
}

Result<TokenizerOptions> Tokenizer::from_flags(std::uint8_t flags) {
  if ((flags & ~(kStopWordsFlag | kStemmingFlag)) != 0) {
    return QuarnError::invalid_argument("unknown tokenizer flags " + std::to_string(flags));
  }
  TokenizerOptions options;
  options.english_stop_words = (flags & kStopWordsFlag) != 0;
  options.english_stemming = (flags & kStemmingFlag) != 0;
  return options;
}

void Tokenizer::emit(std::string& token, std::vector<std::string>& out) const {
  if (options_.english_stop_words && std::binary_search(kEnglishStopWords.begin(), kEnglishStopWords.end(), token)) {
    return;
  }
#ifdef QUARN_HAVE_LIBSTEMMER
  if (stemmer_) {
    std::lock_guard<std::mutex> lock(stemmer_->mutex);
    const sb_symbol* stem = sb_stemmer_stem(stemmer_->handle, reinterpret_cast<const sb_symbol*>(token.data()),
                                            static_cast<int>(token.size()));
    if (stem != nullptr) {  // null only when out of memory: the unstemmed term is kept
      token.assign(reinterpret_cast<const char*>(stem), static_cast<std::size_t>(sb_stemmer_length(stemmer_->handle)));
    }
  }
#endif
  out.push_back(std::move(token));
}

void Tokenizer::tokenize(std::string_view text, std::vector<std::string>& out) const {
  std::string token;
  bool in_token = false;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::uint32_t cp;
    std::size_t length = 1;
    bool word;
    if (c < 0x80) {
      cp = c;
      word = is_ascii_word(c);
    } else {
      length = utf8_sequence_length(text, i);
      if (length == 0) {
        length = 1;
        word = false;
        cp = 0;
      } else {
        cp = decode_utf8(text, i, length);
        const CodePointClass cls = classify_code_point(cp);
        word = cls == CodePointClass::Word || (cls == CodePointClass::Mark && in_token);
      }
    }
    if (word) {
      append_case_folded(cp, token);
      in_token = true;
    } else if (in_token) {
      emit(token, out);
      token.clear();
      in_token = false;
    }
    i += length;
  }
  if (in_token) emit(token, out);
}

std::vector<std::string> Tokenizer::tokenize(std::string_view text) const {
  std::vector<std::string> out;
  tokenize(text, out);
  return out;
}

}  // namespace quarn
