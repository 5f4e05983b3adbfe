// keyword.bin: the saved keyword index and the fingerprint of the documents it was built from.
#include <array>

#include "db/keyword_file_format.h"
#include "db/keyword_mirror.h"
#include "util/bytes.h"
#include "util/crc32.h"
#include "util/file.h"

namespace quarn {

namespace {

namespace fmt = keyword_file_format;

std::array<std::uint8_t, fmt::kHeaderSize> header_of(const DocumentTable::Map& documents) {
  std::uint32_t crc = 0;
  std::uint64_t bytes = 0;
  for (const auto& [slot, document] : documents) {
    std::array<std::uint8_t, 8> prefix{};
    store_u32(prefix.data(), slot);
    store_u32(prefix.data() + 4, static_cast<std::uint32_t>(document.size()));
    crc = crc32(prefix, crc);
    crc = crc32(std::span(reinterpret_cast<const std::uint8_t*>(document.data()), document.size()), crc);
    bytes += document.size();
  }
  std::array<std::uint8_t, fmt::kHeaderSize> header{};
  store_u32(header.data(), fmt::kMagic);
  store_u32(header.data() + 4, fmt::kVersion);
  store_u32(header.data() + 8, static_cast<std::uint32_t>(documents.size()));
  store_u32(header.data() + 12, crc);
  store_u32(header.data() + 16, static_cast<std::uint32_t>(bytes));
  store_u32(header.data() + 20, static_cast<std::uint32_t>(bytes >> 32));
  return header;
}

}  // namespace

Status save_keyword_file(const std::string& dir, const KeywordIndex& index, const DocumentTable::Map& documents) {
  const std::string path = join_path(dir, fmt::kFileName);
  const std::string temp = join_path(dir, fmt::kTempName);
  if (documents.empty()) {
    if (path_exists(path)) QUARN_TRY(remove_file(path));
    return Status::success();
  }
  const auto header = header_of(documents);
  const std::vector<std::uint8_t> body = index.serialize();
  {
    auto file = FileHandle::create_truncate(temp);
    if (!file.ok()) return std::move(file).error();
    QUARN_TRY(file->write_all(header.data(), header.size()));
    QUARN_TRY(file->write_all(body.data(), body.size()));
    QUARN_TRY(file->sync());
  }
  QUARN_TRY(rename_file(temp, path));
  return sync_directory(dir);
}

std::optional<KeywordIndex> load_keyword_file(const std::string& dir, const DocumentTable::Map& documents,
                                              const KeywordIndexOptions& options) {
  const std::string path = join_path(dir, fmt::kFileName);
  if (documents.empty() || !path_exists(path)) return std::nullopt;
  auto bytes = read_file(path);
  if (!bytes.ok() || bytes->size() < fmt::kHeaderSize) return std::nullopt;
  const auto header = header_of(documents);
  if (!std::equal(header.begin(), header.end(), bytes->begin())) return std::nullopt;
  auto index = KeywordIndex::deserialize(std::span<const std::uint8_t>(*bytes).subspan(fmt::kHeaderSize));
  if (!index.ok() || !(index->options() == options)) return std::nullopt;
  return std::move(*index);
}

}  // namespace quarn
