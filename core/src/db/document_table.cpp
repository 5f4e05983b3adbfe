#include "db/document_table.h"

#include <span>
#include <utility>

#include "quarn/database.h"
#include "util/utf8.h"

namespace quarn {

const std::string* DocumentTable::find(Slot slot) const {
  auto it = documents_.find(slot);
  return it == documents_.end() ? nullptr : &it->second;
}

void DocumentTable::set(Slot slot, std::optional<std::string> document) {
  auto it = documents_.find(slot);
  if (!document) {
    if (it == documents_.end()) return;
    // Taken out before the listener hears of it, so that it sees the table as it now is.
    std::string before = std::move(it->second);
    documents_.erase(it);
    if (listener_ != nullptr) listener_->document_changed(slot, &before, nullptr);
    return;
  }
  if (it == documents_.end()) {
    it = documents_.emplace(slot, std::move(*document)).first;
    if (listener_ != nullptr) listener_->document_changed(slot, nullptr, &it->second);
    return;
  }
  std::string before = std::exchange(it->second, std::move(*document));
  if (listener_ != nullptr) listener_->document_changed(slot, &before, &it->second);
}

void DocumentTable::replace_all(Map documents) {
  documents_ = std::move(documents);
  if (listener_ != nullptr) listener_->documents_replaced(*this);
}

void DocumentTable::set_listener(DocumentListener* listener) {
  listener_ = listener;
  if (listener_ != nullptr) listener_->documents_replaced(*this);
}

std::optional<std::string> document_problem(std::string_view document) {
  if (document.size() > kMaxDocumentBytes) {
    return std::to_string(document.size()) + " bytes, over the limit of " + std::to_string(kMaxDocumentBytes);
  }
  std::string where;
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(document.data()), document.size());
  if (!is_valid_utf8(bytes, &where)) return where;
  return std::nullopt;
}

QuarnError bad_document(const std::string& problem, std::optional<std::size_t> row, std::string_view id) {
  if (!row) return QuarnError::invalid_argument("document: " + problem);
  return QuarnError::invalid_argument("documents[" + std::to_string(*row) + "] (id '" + std::string(id) +
                                      "'): " + problem);
}

}  // namespace quarn
