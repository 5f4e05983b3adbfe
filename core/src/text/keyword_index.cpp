#include "text/keyword_index.h"

#include <algorithm>
#include <cmath>

namespace quarn {

Result<KeywordIndex> KeywordIndex::create(const KeywordIndexOptions& options) {
  const float k1 = options.bm25.k1;
  const float b = options.bm25.b;
  if (!std::isfinite(k1) || k1 < 0.0f) return QuarnError::invalid_argument("BM25 k1 must be a finite number >= 0");
  if (!std::isfinite(b) || b < 0.0f || b > 1.0f) return QuarnError::invalid_argument("BM25 b must lie in [0, 1]");
  auto tokenizer = Tokenizer::create(options.tokenizer);
  if (!tokenizer) return std::move(tokenizer).error();
  return KeywordIndex(options, std::move(tokenizer).value());
}

std::optional<std::uint32_t> KeywordIndex::find_term(std::string_view term) const {
  const auto it = term_ids_.find(term);
  if (it == term_ids_.end()) return std::nullopt;
  return it->second;
}

std::uint32_t KeywordIndex::intern(std::string_view term) {
  const auto it = term_ids_.find(term);
  if (it != term_ids_.end()) return it->second;
  std::uint32_t id;
  if (!free_term_ids_.empty()) {
    id = free_term_ids_.back();
    free_term_ids_.pop_back();
    term_text_[id] = std::string(term);
  } else {
    id = static_cast<std::uint32_t>(term_text_.size());
    term_text_.emplace_back(term);
    postings_.emplace_back();
  }
  term_ids_.emplace(std::string(term), id);
  return id;
}

void KeywordIndex::set_document(std::uint32_t slot, std::string_view text) {
  set_document_terms(slot, tokenizer_.tokenize(text));
}

void KeywordIndex::set_document_terms(std::uint32_t slot, std::span<const std::string> terms) {
  // Removal first: it may free the ids of terms the new text brings back.
  remove_document(slot);
  if (terms.empty()) return;
  std::vector<std::uint32_t> ids;
  ids.reserve(terms.size());
  for (const std::string& term : terms) ids.push_back(intern(term));
  std::sort(ids.begin(), ids.end());
  std::vector<TermFreq> doc;
  for (std::uint32_t id : ids) {
    if (!doc.empty() && doc.back().term == id) {
      ++doc.back().tf;
    } else {
      doc.push_back({id, 1});
    }
  }
  insert_document(slot, std::move(doc), static_cast<std::uint32_t>(terms.size()));
}

void KeywordIndex::insert_document(std::uint32_t slot, std::vector<TermFreq> doc, std::uint32_t length) {
  if (slot >= lengths_.size()) {
    const std::size_t size = std::max<std::size_t>(static_cast<std::size_t>(slot) + 1, lengths_.size() * 3 / 2);
    lengths_.resize(size, 0);
    forward_.resize(size);
  }
  lengths_[slot] = length;
  for (const TermFreq& entry : doc) postings_[entry.term].insert(slot, entry.tf, lengths_);
  forward_[slot] = std::move(doc);
  ++document_count_;
  total_length_ += length;
}

void KeywordIndex::remove_document(std::uint32_t slot) {
  if (!has_document(slot)) return;
  for (const TermFreq& entry : forward_[slot]) {
    PostingList& list = postings_[entry.term];
    list.erase(slot, lengths_);
    if (list.empty()) {
      term_ids_.erase(term_text_[entry.term]);
      std::string().swap(term_text_[entry.term]);
      list = PostingList();
      free_term_ids_.push_back(entry.term);
    }
  }
  --document_count_;
  total_length_ -= lengths_[slot];
  lengths_[slot] = 0;
  std::vector<TermFreq>().swap(forward_[slot]);
}

void KeywordIndex::clear() {
  term_ids_.clear();
  term_text_.clear();
  postings_.clear();
  free_term_ids_.clear();
  lengths_.clear();
  forward_.clear();
  document_count_ = 0;
  total_length_ = 0;
}

std::uint64_t KeywordIndex::document_frequency(std::string_view term) const {
  const auto id = find_term(term);
  return id ? postings_[*id].size() : 0;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> KeywordIndex::postings(std::string_view term) const {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
  const auto id = find_term(term);
  if (!id) return out;
  for (PostingList::Cursor c(&postings_[*id]); c.slot() != kNoSlot; c.next()) out.emplace_back(c.slot(), c.tf());
  return out;
}

std::vector<std::string> KeywordIndex::terms() const {
  std::vector<std::string> out;
  out.reserve(term_ids_.size());
  for (const auto& [term, id] : term_ids_) out.push_back(term);
  std::sort(out.begin(), out.end());
  return out;
}

std::uint32_t KeywordIndex::tf_in(std::uint32_t slot, std::uint32_t term) const {
  const auto& doc = forward_[slot];
  const auto it = std::lower_bound(doc.begin(), doc.end(), term,
                                   [](const TermFreq& e, std::uint32_t t) { return e.term < t; });
  return it != doc.end() && it->term == term ? it->tf : 0;
}

std::vector<std::string> KeywordIndex::query_terms(std::string_view query) const {
  std::vector<std::string> terms = tokenizer_.tokenize(query);
  std::vector<std::string> distinct;
  for (std::string& term : terms) {
    if (std::find(distinct.begin(), distinct.end(), term) == distinct.end()) distinct.push_back(std::move(term));
  }
  return distinct;
}

Result<ContainsTerms> KeywordIndex::contains_terms(std::string_view value) const {
  ContainsTerms out{query_terms(value)};
  if (out.terms.empty()) {
    return QuarnError::invalid_argument("a $contains value needs at least one word that is not a stop word");
  }
  return out;
}

std::vector<std::uint32_t> KeywordIndex::slots_containing(const ContainsTerms& value) const {
  std::vector<const PostingList*> lists;
  for (const std::string& term : value.terms) {
    const auto id = find_term(term);
    if (!id) return {};
    lists.push_back(&postings_[*id]);
  }
  std::sort(lists.begin(), lists.end(), [](const PostingList* a, const PostingList* b) { return a->size() < b->size(); });
  std::vector<PostingList::Cursor> others;
  for (std::size_t i = 1; i < lists.size(); ++i) others.emplace_back(lists[i]);
  std::vector<std::uint32_t> out;
  for (PostingList::Cursor c(lists[0]); c.slot() != kNoSlot; c.next()) {
    bool all = true;
    for (auto& other : others) {
      other.seek(c.slot());
      if (other.slot() != c.slot()) {
        all = false;
        break;
      }
    }
    if (all) out.push_back(c.slot());
  }
  return out;
}

bool KeywordIndex::document_contains(std::uint32_t slot, const ContainsTerms& value) const {
  if (!has_document(slot)) return false;
  for (const std::string& term : value.terms) {
    const auto id = find_term(term);
    if (!id || tf_in(slot, *id) == 0) return false;
  }
  return true;
}

bool KeywordIndex::text_contains(std::string_view text, const ContainsTerms& value) const {
  std::vector<std::string> terms = tokenizer_.tokenize(text);
  std::sort(terms.begin(), terms.end());
  return std::all_of(value.terms.begin(), value.terms.end(),
                     [&](const std::string& t) { return std::binary_search(terms.begin(), terms.end(), t); });
}

}  // namespace quarn
