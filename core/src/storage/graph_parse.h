#pragma once

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "distance/distance.h"
#include "hnsw/hnsw.h"
#include "util/bytes.h"
#include "util/file.h"
#include "quarn/result.h"
#include "storage/storage.h"

namespace quarn::storage_detail {

// graph.quarn up to the end of the node records, checked for internal consistency.
struct ParsedGraph {
  std::uint32_t dim = 0;
  Metric metric = Metric::Cosine;
  std::uint32_t m = 0;
  std::uint32_t ef_construction = 0;
  Slot entry_point = kNoEntryPoint;
  std::uint32_t top_layer = 0;
  std::unordered_set<Slot> deleted;
  GraphLinks links;
};

// Reads the header, the deleted slots and the node records, leaving the reader at the
// metadata section.
Result<ParsedGraph> parse_graph(ByteReader& in);

// Reads the metadata section. Every record must name a distinct live slot below the node
// count and carry a distinct id.
Result<std::vector<MetaRecord>> parse_metadata_section(ByteReader& in, std::size_t node_count,
                                                       const std::unordered_set<Slot>& deleted);

// Live slots that no record names, for records as parse_metadata_section returns them.
std::vector<Slot> unnamed_live_slots(std::size_t node_count, const std::unordered_set<Slot>& deleted,
                                     const std::vector<MetaRecord>& records);

}  // namespace quarn::storage_detail
