#pragma once

#include <cstddef>
#include <cstdint>

// keyword.bin, the keyword index saved beside the snapshot whose documents it indexes, so that
// an open loads it instead of tokenizing every document again. Written after the snapshot's
// files are in place, and only while some record has a document. Little-endian:
//   u32 magic, u32 version, u32 document count, u32 CRC-32 of the documents (each as u32 slot,
//   u32 byte length, bytes, in ascending slot order), u64 their total bytes,
//   then the index as KeywordIndex::serialize writes it (with its own CRC).
// An open uses it only when the header matches the documents it loaded and the index reads
// back whole with the database's keyword settings; otherwise it rebuilds the index.
namespace quarn::keyword_file_format {

inline constexpr char kFileName[] = "keyword.bin";
inline constexpr char kTempName[] = "keyword.tmp";
inline constexpr std::uint32_t kMagic = 0x42574B51;  // bytes "QKWB"
inline constexpr std::uint32_t kVersion = 1;
inline constexpr std::size_t kHeaderSize = 24;

}  // namespace quarn::keyword_file_format
