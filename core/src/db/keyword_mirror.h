#pragma once

#include <optional>
#include <string>

#include "db/document_table.h"
#include "quarn/database.h"
#include "quarn/json.h"
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
  // Starts over with another (empty) index, before any document is loaded.
  void reset(KeywordIndex index) { index_ = std::move(index); }
  // The index the next documents_replaced takes instead of rebuilding one: one read from
  // keyword.bin and found to match the documents about to be loaded.
  void preload(KeywordIndex index) { preloaded_ = std::move(index); }
  void set_next(DocumentListener* next) { next_ = next; }
  // How the index differs from one built afresh from `table`, or nothing (for tests).
  std::optional<std::string> differs_from(const DocumentTable& table) const;

 private:
  KeywordIndex index_;
  std::optional<KeywordIndex> preloaded_;
  DocumentListener* next_ = nullptr;
};

// Saves `index` as keyword.bin in `dir` with the fingerprint of `documents` (removes the file
// when there are none); caller renames nothing else meanwhile.
Status save_keyword_file(const std::string& dir, const KeywordIndex& index, const DocumentTable::Map& documents);
// The index of keyword.bin when it was saved from exactly these documents with these options;
// nothing when the file is missing, damaged or belongs to other documents.
std::optional<KeywordIndex> load_keyword_file(const std::string& dir, const DocumentTable::Map& documents,
                                              const KeywordIndexOptions& options);

// The keyword settings as the index takes them, and as stored in keyword.json:
// {"stemmer": "english" | null, "stop_words": "english" | null, "k1": number, "b": number}.
KeywordIndexOptions keyword_index_options(const KeywordSettings& settings);
Json keyword_settings_json(const KeywordSettings& settings);
// Fails with Corrupt naming `path` for an object of another shape.
Result<KeywordSettings> keyword_settings_from_json(const Json& json, const std::string& path);
// {stemmer=english, stop_words=none, k1=1.2, b=0.75}, for messages.
std::string describe(const KeywordSettings& settings);

}  // namespace quarn
