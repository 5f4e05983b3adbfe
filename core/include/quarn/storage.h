#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quarn/hnsw.h"
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

// Appends the metadata section (magic, count, records) to a writer.
Status write_metadata_section(BufferedWriter& out, const std::vector<MetaRecord>& records);

// The snapshot paths of one database directory.
struct Storage {
  std::string graph_path;
  std::string vectors_path;
  std::string quantized_path;

  static Storage make(const std::string& dir);
  bool snapshot_present() const;

  struct Loaded {
    std::unique_ptr<HnswIndex> index;
    std::vector<MetaRecord> records;
  };
  // Parses graph.quarn, maps vectors.bin and installs vectors.sq8 when present. Damaged or
  // hostile files give Io errors (invalid data or "failed to fill whole buffer"), never a crash.
  Result<Loaded> load() const;
};

}  // namespace quarn
