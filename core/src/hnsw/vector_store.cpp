#include <cstring>

#include "hnsw/hnsw.h"
#include "util/growth.h"

namespace quarn {

std::size_t VectorStore::float_count() const {
  if (const auto* owned = std::get_if<Owned>(&repr_)) return owned->data.size();
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

}  // namespace quarn
