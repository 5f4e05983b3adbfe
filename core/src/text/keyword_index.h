#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "quarn/result.h"
#include "text/bm25.h"
#include "text/posting_list.h"
#include "text/tokenizer.h"
#include "text/top_k.h"

namespace quarn {

struct KeywordIndexOptions {
  TokenizerOptions tokenizer;
  Bm25Params bm25;
  bool operator==(const KeywordIndexOptions&) const = default;
};

// Which slots a search may return. With `slots`, exactly those (ascending); otherwise, with
// `allows`, those it accepts; with neither, every slot.
struct KeywordFilter {
  std::optional<std::span<const std::uint32_t>> slots;
  std::function<bool(std::uint32_t)> allows;
};

// How the top k are found; all give the same hits. Exact scores every document holding a query
// term; the others skip documents that provably cannot enter the top k.
enum class KeywordPruning : std::uint8_t { Exact, Wand, BlockMaxWand, MaxScore, BlockMaxMaxScore };

struct KeywordSearchOptions {
  KeywordPruning pruning = KeywordPruning::MaxScore;
  // A filter listing at most this many slots per posting of the query terms, times the number
  // of terms, is scored slot by slot instead of through the posting lists.
  double listed_filter_ratio = 0.25;
};

// BM25's collection statistics for the terms of one query. Indexes that each hold part of one
// collection (shards) add up their statistics() and search with the sum, so that every part
// scores its documents as a single index of the whole collection would.
struct KeywordStatistics {
  std::uint64_t documents = 0;
  std::uint64_t total_length = 0;
  std::vector<std::uint64_t> document_frequencies;  // one per query term, in the query's order

  KeywordStatistics& operator+=(const KeywordStatistics& other);
};

// The terms of a `$contains` value: a document contains it when it holds every one of its terms,
// in any order or place (terms, not substrings: "cat" does not match "concatenate", and with
// stemming "cats" matches "cat"). `$not_contains` is the complement over the records, so a
// record without a document matches it.
struct ContainsTerms {
  std::vector<std::string> terms;  // distinct, never empty
};

// An inverted index of the documents of slots (uint32), scored by BM25. A slot holds at most
// one document; a document whose text has no terms is not held (it counts for nothing: not in
// N, not in the average length). Writes keep it equal to an index rebuilt from the same
// documents. Slots lie below kNoSlot (2^32 - 1). Not synchronised: const calls may run
// together, a write needs them stopped.
class KeywordIndex {
 public:
  // Fails with InvalidArgument for k1 < 0, b outside [0, 1], either not finite, or stemming in
  // a build without a stemmer.
  static Result<KeywordIndex> create(const KeywordIndexOptions& options);

  KeywordIndex(KeywordIndex&&) noexcept = default;
  KeywordIndex& operator=(KeywordIndex&&) noexcept = default;

  const KeywordIndexOptions& options() const { return options_; }
  const Tokenizer& tokenizer() const { return tokenizer_; }

  // The document of `slot` becomes `text` (well-formed UTF-8 is expected; other bytes only
  // separate terms), replacing the one it had. Used alike for add, update and log replay.
  void set_document(std::uint32_t slot, std::string_view text);
  // Same, from terms already made by tokenizer() (e.g. on another thread).
  void set_document_terms(std::uint32_t slot, std::span<const std::string> terms);
  // Forgets the document of `slot`; nothing happens when it has none.
  void remove_document(std::uint32_t slot);
  void clear();

  bool has_document(std::uint32_t slot) const { return slot < lengths_.size() && lengths_[slot] != 0; }
  // Number of terms of the slot's document, repeats counted; 0 when it has none.
  std::uint32_t document_length(std::uint32_t slot) const { return slot < lengths_.size() ? lengths_[slot] : 0; }
  std::uint64_t document_count() const { return document_count_; }
  std::uint64_t total_length() const { return total_length_; }
  // Documents holding the term (a term as tokenizer() makes them).
  std::uint64_t document_frequency(std::string_view term) const;
  // Distinct terms held.
  std::size_t term_count() const { return term_ids_.size(); }
  // (slot, tf) of a term, ascending; empty for an unknown term.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> postings(std::string_view term) const;
  // Every held term, ascending bytewise.
  std::vector<std::string> terms() const;

  // The distinct terms of a query, in order of first appearance: what search() scores.
  std::vector<std::string> query_terms(std::string_view query) const;
  // The k best documents for the query, best first, ties by ascending slot. Each distinct
  // query term counts once; a query without terms, or k = 0, gives no hits.
  std::vector<KeywordHit> search(std::string_view query, std::size_t k, const KeywordFilter* filter = nullptr,
                                 const KeywordSearchOptions& search_options = {}) const;
  // `collection`, when given, replaces this index's statistics; its frequencies follow `terms`.
  std::vector<KeywordHit> search_terms(std::span<const std::string> terms, std::size_t k,
                                       const KeywordFilter* filter = nullptr,
                                       const KeywordSearchOptions& search_options = {},
                                       const KeywordStatistics* collection = nullptr) const;
  // This index's share of the statistics of `terms`.
  KeywordStatistics statistics(std::span<const std::string> terms) const;

  // `$contains` support. Fails with InvalidArgument when the value has no terms (empty, only
  // separators, or only stop words).
  Result<ContainsTerms> contains_terms(std::string_view value) const;
  // Slots whose document holds every term, ascending.
  std::vector<std::uint32_t> slots_containing(const ContainsTerms& value) const;
  bool document_contains(std::uint32_t slot, const ContainsTerms& value) const;
  // The same test on a text not in the index, through the same tokenizer.
  bool text_contains(std::string_view text, const ContainsTerms& value) const;

  // The whole index as bytes (see keyword_format.h) and back. Equal contents give equal bytes,
  // whatever writes led to them.
  std::vector<std::uint8_t> serialize() const;
  static Result<KeywordIndex> deserialize(std::span<const std::uint8_t> bytes);
  // Writes serialize() to `path` and syncs it (the caller renames it into place); reads it back.
  Status save(const std::string& path) const;
  static Result<KeywordIndex> load(const std::string& path);

 private:
  struct TermFreq {
    std::uint32_t term;
    std::uint32_t tf;
  };
  struct StringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };

  KeywordIndex(const KeywordIndexOptions& options, Tokenizer tokenizer)
      : options_(options), tokenizer_(std::move(tokenizer)) {}
  std::optional<std::uint32_t> find_term(std::string_view term) const;
  std::uint32_t intern(std::string_view term);
  // Adds a document to a slot that has none; `doc` is sorted by term and holds each once.
  void insert_document(std::uint32_t slot, std::vector<TermFreq> doc, std::uint32_t length);
  std::uint32_t tf_in(std::uint32_t slot, std::uint32_t term) const;

  KeywordIndexOptions options_;
  Tokenizer tokenizer_;
  std::unordered_map<std::string, std::uint32_t, StringHash, std::equal_to<>> term_ids_;
  std::vector<std::string> term_text_;          // by term id
  std::vector<PostingList> postings_;           // by term id
  std::vector<std::uint32_t> free_term_ids_;    // ids of terms no document holds any more
  std::vector<std::uint32_t> lengths_;          // by slot; 0 = no document
  std::vector<std::vector<TermFreq>> forward_;  // by slot: the document's terms, by term id
  std::uint64_t document_count_ = 0;
  std::uint64_t total_length_ = 0;
};

}  // namespace quarn
