#include <cstring>

#include "hnsw/hnsw.h"
#include "util/growth.h"

namespace quarn {

std::size_t VectorStore::float_count() const {
  if (const auto* owned = std::get_if<Owned>(&repr_)) return owned->data.size();
  if (const auto* disk = std::get_if<OnDisk>(&repr_)) return disk->rows.float_count();
  return std::get<Mapped>(repr_).float_count;
}

std::optional<std::vector<float>> VectorStore::mapped_norms() const {
  const auto* mapped = std::get_if<Mapped>(&repr_);
  if (mapped == nullptr) return std::nullopt;
  const std::size_t total = mapped->map.file_size() / sizeof(float);
  const std::size_t count = total > mapped->float_count ? total - mapped->float_count : 0;
  std::vector<float> norms(count);
  if (count > 0) {
    std::memcpy(norms.data(), mapped->map.data() + mapped->float_count * sizeof(float), count * sizeof(float));
  }
  return norms;
}

void VectorStore::ensure_owned() {
  auto* mapped = std::get_if<Mapped>(&repr_);
  if (mapped == nullptr) return;
  CacheAlignedFloats data;
  reserve_geometric(data, mapped->float_count);
  const auto* floats = reinterpret_cast<const float*>(mapped->map.data());
  data.assign(floats, floats + mapped->float_count);
  repr_ = Owned{std::move(data)};  // drops the map
}

CacheAlignedFloats& VectorStore::owned() {
  ensure_owned();
  return std::get<Owned>(repr_).data;
}

Status VectorStore::reserve(std::size_t floats) {
  ensure_owned();
  if (auto* disk = std::get_if<OnDisk>(&repr_)) return disk->rows.reserve(floats);
  reserve_geometric(std::get<Owned>(repr_).data, floats);
  return Status::success();
}

Status VectorStore::append(std::span<const float> floats) {
  ensure_owned();
  if (auto* disk = std::get_if<OnDisk>(&repr_)) return disk->rows.append(floats);
  auto& data = std::get<Owned>(repr_).data;
  reserve_geometric(data, data.size() + floats.size());
  data.insert(data.end(), floats.begin(), floats.end());
  return Status::success();
}

void VectorStore::write(std::size_t offset, std::span<const float> floats) {
  ensure_owned();
  if (auto* disk = std::get_if<OnDisk>(&repr_)) return disk->rows.write(offset, floats);
  std::copy(floats.begin(), floats.end(), std::get<Owned>(repr_).data.begin() + static_cast<std::ptrdiff_t>(offset));
}

void VectorStore::will_need(std::size_t offset, std::size_t floats) const {
  if (!on_disk()) return;
  advise_will_need(data() + offset, floats * sizeof(float));
}

Status VectorStore::move_to_disk(const std::string& vectors_path, const std::string& dir) {
  if (std::holds_alternative<OnDisk>(repr_)) return Status::success();
  if (const auto* mapped = std::get_if<Mapped>(&repr_)) {
    auto rows = DiskRows::open(vectors_path, mapped->float_count, dir);
    if (!rows.ok()) return std::move(rows).error();
    repr_ = OnDisk{std::move(*rows)};
    return Status::success();
  }
  auto rows = DiskRows::open("", 0, dir);
  if (!rows.ok()) return std::move(rows).error();
  const auto& owned = std::get<Owned>(repr_).data;
  QUARN_TRY(rows->append({owned.data(), owned.size()}));
  repr_ = OnDisk{std::move(*rows)};
  return Status::success();
}

}  // namespace quarn
