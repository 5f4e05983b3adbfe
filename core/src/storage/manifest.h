#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "quarn/result.h"

namespace quarn {

// One snapshot file as a manifest names it.
struct ManifestFile {
  std::string name;
  std::uint64_t size = 0;
  std::vector<std::uint32_t> crcs;  // one per block

  bool operator==(const ManifestFile&) const = default;
};

// One generation of snapshot files (manifest_format.h).
struct Manifest {
  std::uint64_t generation = 0;
  std::uint32_t block_size = 0;
  std::vector<ManifestFile> files;

  bool operator==(const Manifest&) const = default;
  const ManifestFile* find(const std::string& name) const;
};

std::vector<std::uint8_t> encode_manifest(const Manifest& manifest);
// Errors are Corrupt, without a file.
Result<Manifest> parse_manifest(std::span<const std::uint8_t> bytes);
// The manifest at `path`; nothing when there is no file.
Result<std::optional<Manifest>> read_manifest(const std::string& path);
// Writes, syncs and closes a manifest file.
Status write_manifest(const std::string& path, const Manifest& manifest);

// The size and block checksums of the bytes of a file that will be known as `name`.
ManifestFile checksum_bytes(const std::string& name, std::span<const std::uint8_t> bytes, std::uint32_t block_size);
// The same from the file at `path` (mapped).
Result<ManifestFile> checksum_file(const std::string& path, const std::string& name, std::uint32_t block_size);

// Checks `bytes` (the whole file `path`) against its entry: the size, then every block that
// overlaps [from, to). A mismatch is Corrupt naming the file and the first failing block's offset.
Status check_blocks(const ManifestFile& entry, std::uint32_t block_size, std::span<const std::uint8_t> bytes,
                    const std::string& path, std::uint64_t from = 0, std::uint64_t to = UINT64_MAX);

// Checks the snapshot files a load reads against the manifest of their generation. Without a
// manifest it checks nothing; with `tolerated`, mismatches are collected there instead of failing.
struct ManifestCheck {
  const Manifest* manifest = nullptr;
  std::vector<QuarnError>* tolerated = nullptr;

  // check_blocks of the file `path` (known as `name`); a file the manifest does not name fails.
  Status check(const std::string& name, const std::string& path, std::span<const std::uint8_t> bytes,
               std::uint64_t from = 0, std::uint64_t to = UINT64_MAX) const;
  // Fails when the manifest names a file among `names` that is not there.
  Status check_present(const std::vector<std::pair<std::string, std::string>>& names_and_paths) const;

 private:
  Status settle(Status status) const;
};

}  // namespace quarn
