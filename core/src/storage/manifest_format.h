#pragma once

#include <cstddef>
#include <cstdint>

// manifest.quarn, the generation of the snapshot files beside it. Written last by every save
// (as manifest.partial with the other temporaries, renamed to manifest.tmp before the first
// snapshot file is replaced and to manifest.quarn after the last), so a reader that sees no
// temporary and the same manifest before and after its load has opened one generation whole.
// Little-endian throughout:
//   u32 magic, u32 version, u64 generation, u32 block size, u32 file count,
//   per file: u32 name length, name, u64 size, one u32 CRC-32C per block of the file
//             (ceil(size / block size) of them, the last block possibly shorter),
//   u32 CRC-32C of every byte before it.
namespace quarn::manifest_format {

inline constexpr char kFileName[] = "manifest.quarn";
inline constexpr char kTempName[] = "manifest.tmp";
inline constexpr char kPartialName[] = "manifest.partial";
inline constexpr std::uint32_t kMagic = 0x464E4D51;  // bytes "QMNF"
inline constexpr std::uint32_t kVersion = 1;
// 64 KiB: CRC-32C runs at full speed on blocks this long, a first touch of one slot's vector
// would check at most this much, and the checksums of a 1 GiB file take 64 KiB.
inline constexpr std::uint32_t kBlockSize = 64 * 1024;
inline constexpr std::uint32_t kMinBlockSize = 4096;
inline constexpr std::uint32_t kMaxBlockSize = 64 * 1024 * 1024;
inline constexpr std::size_t kHeaderSize = 24;
inline constexpr std::uint32_t kMaxFiles = 64;
inline constexpr std::uint32_t kMaxNameLength = 255;

}  // namespace quarn::manifest_format
