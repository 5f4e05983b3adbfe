#pragma once

#include <cstddef>
#include <cstdint>

// documents.bin, the records' documents beside graph.quarn. Written only when at least one live
// record has a document; a snapshot without it has none. Little-endian throughout:
//   u32 magic, u32 version, u32 slot count (graph.quarn's node count), u32 record count,
//   per record in ascending slot order: u32 slot, u32 id length, id, u32 document length, document,
//   u32 CRC-32 of every byte before it.
// Each record names its id as well as its slot, so a file is accepted only beside the graph whose
// live slot holds that id.
namespace quarn::documents_format {

inline constexpr char kFileName[] = "documents.bin";
inline constexpr char kTempName[] = "documents.tmp";
inline constexpr std::uint32_t kMagic = 0x53434F44;  // bytes "DOCS"
inline constexpr std::uint32_t kVersion = 1;
inline constexpr std::size_t kHeaderSize = 16;
// slot, id length, document length
inline constexpr std::size_t kMinRecord = 12;

}  // namespace quarn::documents_format
