#pragma once

#include <optional>
#include <string>

#include "db/document_table.h"
#include "text/keyword_index.h"

namespace quarn {

// The database's keyword index, kept equal to its documents: it listens to the document table
// and passes each change on to one further listener (tests, diagnostics), if attached.
class KeywordMirror final : public DocumentListener {
 public:
  explicit KeywordMirror(KeywordIndex index) : index_(std::move(index)) {}

  void document_changed(Slot slot, const std::string* before, const std::string* after) override;
  // Rebuilds the whole index: at open and after compaction renumbered the slots.
  void documents_replaced(const DocumentTable& table) override;

  const KeywordIndex& index() const { return index_; }
  void set_next(DocumentListener* next) { next_ = next; }
  // How the index differs from one built afresh from `table`, or nothing (for tests).
  std::optional<std::string> differs_from(const DocumentTable& table) const;

 private:
  KeywordIndex index_;
  DocumentListener* next_ = nullptr;
};

}  // namespace quarn
