#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hnsw/hnsw.h"
#include "storage/manifest.h"
#include "quarn/json.h"
#include "quarn/result.h"

namespace quarn {

class BufferedWriter;

// One live id of a snapshot with its slot and metadata.
struct MetaRecord {
  std::string id;
  Slot slot = 0;
  std::optional<Json> metadata;
};

// One record as a save writes it: views into the database's own tables, so that a save copies
// no id and no metadata.
struct MetaRecordView {
  std::string_view id;
  Slot slot = 0;
  const Json* metadata = nullptr;  // null: the record has none
};

// Appends the metadata section (magic, count, records) to a writer.
Status write_metadata_section(BufferedWriter& out, std::span<const MetaRecordView> records);

// One document of a snapshot.
struct DocumentRecord {
  Slot slot = 0;
  std::string document;
};
// One document as a save writes it: views into the database's tables.
struct DocumentView {
  Slot slot = 0;
  std::string_view id;
  std::string_view document;
};
// Writes documents.bin for a graph of `slot_count` slots; the views in ascending slot order.
Status write_documents_file(BufferedWriter& out, std::size_t slot_count, std::span<const DocumentView> views);
// Parses documents.bin beside a graph of `slot_count` slots whose live records are `records`:
// every document must name a live slot holding the same id. Errors are Corrupt, without a file.
Result<std::vector<DocumentRecord>> parse_documents_file(std::span<const std::uint8_t> bytes, std::size_t slot_count,
                                                         const std::vector<MetaRecord>& records);

// Size of vectors.bin for n slots of the given dimension: 4 * n * (dim + 1) bytes, or nothing
// when that does not fit in 64 bits.
std::optional<std::uint64_t> vectors_file_size(std::uint64_t n, std::uint64_t dim);

// The snapshot paths of one database directory.
struct Storage {
  std::string dir;
  std::string graph_path;
  std::string vectors_path;
  std::string quantized_path;
  std::string graph_temp_path;
  std::string graph_partial_path;
  std::string vectors_temp_path;
  std::string quantized_temp_path;
  std::string documents_path;
  std::string documents_temp_path;
  std::string manifest_path;
  std::string manifest_temp_path;
  std::string manifest_partial_path;

  static Storage make(const std::string& dir);
  bool snapshot_present() const;

  struct Loaded {
    std::unique_ptr<HnswIndex> index;
    std::vector<MetaRecord> records;
    std::vector<DocumentRecord> documents;  // empty without documents.bin
  };
  // Parses graph.quarn, maps vectors.bin and installs vectors.sq8 when present. Damaged or
  // hostile files give Corrupt errors naming the file, never a crash.
  // A live slot that no metadata record names has lost its id and is loaded as deleted.
  // With a manifest, what the load reads anyway is checked against it: graph.quarn,
  // vectors.sq8 and documents.bin whole, and the norms at the end of vectors.bin.
  // Without `populate`, vectors.bin is mapped without reading it in (rows read as needed).
  Result<Loaded> load(const ManifestCheck& check = {}, bool populate = true) const;

  // Completes a save that was interrupted after it had written all of its temporaries: when
  // graph.tmp parses completely and vectors.tmp (or, already renamed, vectors.bin) has the
  // size that graph.tmp implies, moves the remaining temporaries into place in save order.
  // documents.tmp is moved when it belongs to graph.tmp; a documents.bin that does not is removed.
  // Anything else is left as it is. The temporaries are synced before their renames and the
  // directory after them. Fails when a sync or a rename fails.
  // Then a manifest.tmp left by the save becomes manifest.quarn when every file it names matches
  // it, and is removed otherwise; a manifest.partial is removed. A manifest.quarn left beside
  // files it does not name by a roll-forward without a matching manifest.tmp is removed: the
  // directory is unchecked until its next save.
  Status finish_interrupted_save() const;

 private:
  Status finish_snapshot_renames(bool& rolled_forward) const;
  Status finish_manifest(bool rolled_forward) const;
};

}  // namespace quarn
