#include "db/keyword_mirror.h"

namespace quarn {

void KeywordMirror::document_changed(Slot slot, const std::string* before, const std::string* after) {
  if (after != nullptr) {
    index_.set_document(slot, *after);
  } else {
    index_.remove_document(slot);
  }
  if (next_ != nullptr) next_->document_changed(slot, before, after);
}

std::optional<std::string> KeywordMirror::differs_from(const DocumentTable& table) const {
  KeywordIndex fresh = KeywordIndex::create(index_.options()).value();
  for (const auto& [slot, document] : table.entries()) fresh.set_document(slot, document);
  if (fresh.serialize() != index_.serialize()) return "keyword index differs from one built from the documents";
  return std::nullopt;
}

void KeywordMirror::documents_replaced(const DocumentTable& table) {
  if (preloaded_) {
    index_ = std::move(*preloaded_);
    preloaded_.reset();
  } else {
    index_.clear();
    for (const auto& [slot, document] : table.entries()) index_.set_document(slot, document);
  }
  if (next_ != nullptr) next_->documents_replaced(table);
}

}  // namespace quarn
