#pragma once

#include <cstddef>
#include <cstdint>

namespace quarn::snapshot_format {

inline constexpr char kGraphFile[] = "graph.quarn";
inline constexpr char kVectorsFile[] = "vectors.bin";
// Empty; present while the database keeps its full-precision rows on disk.
inline constexpr char kRowsOnDiskFile[] = "vectors.ondisk";
inline constexpr char kQuantizedFile[] = "vectors.sq8";
inline constexpr char kGraphTemp[] = "graph.tmp";
inline constexpr char kVectorsTemp[] = "vectors.tmp";
// The quantizer file has a temporary of its own so that a save can write every temporary
// before it renames the first one.
inline constexpr char kQuantizedTemp[] = "vectors.sq8.tmp";
// The graph is written under this name while the other temporaries are still being written,
// and renamed to kGraphTemp only once every temporary is synced: a complete graph.tmp always
// stands beside complete, durable vectors.
inline constexpr char kGraphPartial[] = "graph.partial";

inline constexpr std::uint32_t kGraphMagic = 0x48535747;  // bytes "GWSH"
inline constexpr std::uint32_t kGraphVersion = 2;
inline constexpr std::uint32_t kMetaMagic = 0x4D455441;  // bytes "ATEM"

// Bounds of the construction parameters, checked at creation and on load. A node keeps up to
// 2 * m neighbours on layer 0 and an insert holds ef_construction candidates, so values beyond
// these would only make every insert reserve memory without improving the graph.
inline constexpr std::uint32_t kMinM = 2;
inline constexpr std::uint32_t kMaxM = 4096;
inline constexpr std::uint32_t kMinEfConstruction = 1;
inline constexpr std::uint32_t kMaxEfConstruction = 65536;

// Node levels are drawn below 64 (the index caps them there), so a node has at most 65 lists.
inline constexpr std::uint32_t kMaxLayerCount = 65;
// Smallest encodings: a node record (its layer count) and a metadata record (slot, id
// length, JSON length).
inline constexpr std::size_t kMinNodeRecord = 4;
inline constexpr std::size_t kMinMetaRecord = 12;

}  // namespace quarn::snapshot_format
