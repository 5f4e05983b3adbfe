#include "storage/manifest.h"

#include <cerrno>
#include <algorithm>
#include <cstring>

#include "storage/manifest_format.h"
#include "util/bytes.h"
#include "util/crc32c.h"
#include "util/file.h"
#include "util/file_mapping.h"

namespace quarn {

namespace fmt = manifest_format;

namespace {

void put_u64(std::vector<std::uint8_t>& out, std::uint64_t v) {
  put_u32(out, static_cast<std::uint32_t>(v));
  put_u32(out, static_cast<std::uint32_t>(v >> 32));
}

std::uint64_t block_count(std::uint64_t size, std::uint32_t block) { return (size + block - 1) / block; }

QuarnError bad(const std::string& why) { return QuarnError::corrupt("manifest " + why); }

}  // namespace

const ManifestFile* Manifest::find(const std::string& name) const {
  for (const ManifestFile& f : files) {
    if (f.name == name) return &f;
  }
  return nullptr;
}

std::vector<std::uint8_t> encode_manifest(const Manifest& m) {
  std::vector<std::uint8_t> out;
  put_u32(out, fmt::kMagic);
  put_u32(out, fmt::kVersion);
  put_u64(out, m.generation);
  put_u32(out, m.block_size);
  put_u32(out, static_cast<std::uint32_t>(m.files.size()));
  for (const ManifestFile& f : m.files) {
    put_u32(out, static_cast<std::uint32_t>(f.name.size()));
    out.insert(out.end(), f.name.begin(), f.name.end());
    put_u64(out, f.size);
    for (std::uint32_t crc : f.crcs) put_u32(out, crc);
  }
  put_u32(out, crc32c(out));
  return out;
}

Result<Manifest> parse_manifest(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < fmt::kHeaderSize + 4) return bad("is too short");
  const std::size_t body = bytes.size() - 4;
  if (crc32c(bytes.first(body)) != load_u32(bytes.data() + body)) return bad("fails its checksum");
  ByteReader in(bytes.first(body));
  auto u64 = [&]() -> Result<std::uint64_t> {
    auto lo = in.read_u32();
    if (!lo.ok()) return std::move(lo).error();
    auto hi = in.read_u32();
    if (!hi.ok()) return std::move(hi).error();
    return std::uint64_t{*lo} | (std::uint64_t{*hi} << 32);
  };
  if (*in.read_u32() != fmt::kMagic) return bad("has a bad magic number");
  if (const std::uint32_t version = *in.read_u32(); version != fmt::kVersion) {
    return bad("version " + std::to_string(version) + " is not supported");
  }
  Manifest m;
  m.generation = *u64();
  m.block_size = *in.read_u32();
  if (m.block_size < fmt::kMinBlockSize || m.block_size > fmt::kMaxBlockSize) return bad("has a bad block size");
  const std::uint32_t count = *in.read_u32();
  if (count > fmt::kMaxFiles) return bad("names too many files");
  for (std::uint32_t i = 0; i < count; ++i) {
    auto length = in.read_u32();
    if (!length.ok() || *length == 0 || *length > fmt::kMaxNameLength) return bad("has a bad file name");
    auto name = in.read_bytes(*length);
    if (!name.ok()) return bad("ends early");
    auto size = u64();
    if (!size.ok()) return bad("ends early");
    ManifestFile f{std::string(name->begin(), name->end()), *size, {}};
    const std::uint64_t blocks = block_count(f.size, m.block_size);
    if (blocks > in.remaining() / 4) return bad("ends early");
    f.crcs.resize(blocks);
    for (std::uint32_t& crc : f.crcs) crc = *in.read_u32();
    if (m.find(f.name) != nullptr) return bad("names '" + f.name + "' twice");
    m.files.push_back(std::move(f));
  }
  if (in.remaining() != 0) return bad("has trailing bytes");
  return m;
}

Result<std::optional<Manifest>> read_manifest(const std::string& path) {
  auto bytes = read_file(path);
  if (!bytes.ok()) {
    const QuarnError& e = bytes.error();
    if (e.kind() == QuarnError::Kind::Io && e.os_errno() == ENOENT) return std::optional<Manifest>();
    return std::move(bytes).error();
  }
  auto parsed = parse_manifest(*bytes);
  if (!parsed.ok()) return std::move(parsed).error().concerning(path);
  return std::optional<Manifest>(std::move(*parsed));
}

Status write_manifest(const std::string& path, const Manifest& manifest) {
  auto file = FileHandle::create_truncate(path);
  if (!file.ok()) return std::move(file).error();
  const std::vector<std::uint8_t> bytes = encode_manifest(manifest);
  QUARN_TRY(file->write_all(bytes.data(), bytes.size()));
  QUARN_TRY(file->sync());
  return file->close();
}

ManifestFile checksum_bytes(const std::string& name, std::span<const std::uint8_t> bytes, std::uint32_t block_size) {
  ManifestFile f{name, bytes.size(), std::vector<std::uint32_t>(block_count(bytes.size(), block_size))};
  crc32c_blocks(bytes, block_size, f.crcs.data());
  return f;
}

Result<ManifestFile> checksum_file(const std::string& path, const std::string& name, std::uint32_t block_size) {
  auto mapping = FileMapping::map_file(path);
  if (!mapping.ok()) return std::move(mapping).error().concerning(path);
  return checksum_bytes(name, std::span<const std::uint8_t>(mapping->data(), mapping->file_size()), block_size);
}

Status check_blocks(const ManifestFile& entry, std::uint32_t block_size, std::span<const std::uint8_t> bytes,
                    const std::string& path, std::uint64_t from, std::uint64_t to) {
  if (bytes.size() != entry.size) {
    return QuarnError::corrupt("holds " + std::to_string(bytes.size()) + " bytes, but the manifest names " +
                                   std::to_string(entry.size),
                               path);
  }
  to = std::min<std::uint64_t>(to, bytes.size());
  if (from >= to) return Status::success();
  const std::uint64_t first = from / block_size;
  const std::uint64_t last = (to - 1) / block_size;
  constexpr std::uint64_t kBatch = 64;
  std::uint32_t got[kBatch];
  for (std::uint64_t b = first; b <= last; b += kBatch) {
    const std::uint64_t blocks = std::min(kBatch, last + 1 - b);
    const std::uint64_t start = b * block_size;
    const std::uint64_t end = std::min<std::uint64_t>(bytes.size(), start + blocks * block_size);
    crc32c_blocks(bytes.subspan(start, end - start), block_size, got);
    for (std::uint64_t i = 0; i < blocks; ++i) {
      if (got[i] != entry.crcs[b + i]) {
        const std::uint64_t offset = (b + i) * block_size;
        return QuarnError::corrupt("the block at byte offset " + std::to_string(offset) +
                                       " fails its checksum",
                                   path);
      }
    }
  }
  return Status::success();
}

Status ManifestCheck::settle(Status status) const {
  if (status.ok() || tolerated == nullptr) return status;
  tolerated->push_back(std::move(status).error());
  return Status::success();
}

Status ManifestCheck::check(const std::string& name, const std::string& path, std::span<const std::uint8_t> bytes,
                            std::uint64_t from, std::uint64_t to) const {
  if (manifest == nullptr) return Status::success();
  const ManifestFile* entry = manifest->find(name);
  if (entry == nullptr) return settle(QuarnError::corrupt("the manifest does not name this file", path));
  return settle(check_blocks(*entry, manifest->block_size, bytes, path, from, to));
}

Status ManifestCheck::check_present(const std::vector<std::pair<std::string, std::string>>& names_and_paths) const {
  if (manifest == nullptr) return Status::success();
  for (const auto& [name, path] : names_and_paths) {
    if (manifest->find(name) == nullptr) continue;
    auto present = file_exists(path);
    if (!present.ok()) return std::move(present).error();
    if (!*present) QUARN_TRY(settle(QuarnError::corrupt("the manifest names this file, but it is missing", path)));
  }
  return Status::success();
}

}  // namespace quarn
