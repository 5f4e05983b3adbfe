#pragma once

#include <cstddef>
#include <cstdint>

namespace quarn::snapshot_format {

inline constexpr char kGraphFile[] = "graph.quarn";
inline constexpr char kVectorsFile[] = "vectors.bin";
inline constexpr char kQuantizedFile[] = "vectors.sq8";
inline constexpr char kGraphTemp[] = "graph.tmp";
inline constexpr char kVectorsTemp[] = "vectors.tmp";

inline constexpr std::uint32_t kGraphMagic = 0x48535747;  // bytes "GWSH"
inline constexpr std::uint32_t kGraphVersion = 2;
inline constexpr std::size_t kGraphHeaderSize = 37;
inline constexpr std::uint32_t kMetaMagic = 0x4D455441;  // bytes "ATEM"
inline constexpr std::size_t kWriteBufferSize = 8192;

}  // namespace quarn::snapshot_format
