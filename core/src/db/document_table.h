#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "hnsw/graph_links.h"
#include "quarn/error.h"

namespace quarn {

class DocumentTable;

// Told of every change of the documents, in the order the table makes them: the one place a
// derived structure (such as a keyword index) keeps itself current from, through writes, log
// replay, load and compaction alike. Called under the database's metadata lock, held exclusively.
class DocumentListener {
 public:
  virtual ~DocumentListener() = default;
  // A slot's document was set, replaced or removed; `before`/`after` are null for none. Valid
  // only during the call.
  virtual void document_changed(Slot slot, const std::string* before, const std::string* after) = 0;
  // Every slot may have changed at once (open, compaction): the table as it now stands.
  virtual void documents_replaced(const DocumentTable& table) = 0;
};

// The documents of the live slots, sparse: a database without documents holds an empty map.
class DocumentTable {
 public:
  using Map = std::map<Slot, std::string>;

  // The slot's document, or null.
  const std::string* find(Slot slot) const;
  // Sets the slot's document, or removes it for an empty value.
  void set(Slot slot, std::optional<std::string> document);
  void erase(Slot slot) { set(slot, std::nullopt); }
  // Replaces every entry (load, compaction).
  void replace_all(Map documents);
  // Empties the table without telling the listener: only for a replace_all under the same lock.
  Map take_entries() { return std::exchange(documents_, Map{}); }

  std::size_t size() const { return documents_.size(); }
  bool empty() const { return documents_.empty(); }
  // Entries in ascending slot order.
  const Map& entries() const { return documents_; }

  // At most one listener; null detaches it. It is told the current table at once.
  void set_listener(DocumentListener* listener);

 private:
  Map documents_;
  DocumentListener* listener_ = nullptr;
};

// Why a document cannot be stored (not well-formed UTF-8, or longer than kMaxDocumentBytes),
// or nothing when it can.
std::optional<std::string> document_problem(std::string_view document);
// The InvalidArgument error for a bad document of a single write ("document: ...") or of row
// `row` of a batch ("documents[row] (id '...'): ...").
QuarnError bad_document(const std::string& problem, std::optional<std::size_t> row = std::nullopt,
                        std::string_view id = {});

}  // namespace quarn
