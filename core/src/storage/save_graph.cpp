#include <mutex>

#include "hnsw/hnsw.h"
#include "util/file.h"
#include "quarn/json.h"
#include "storage/snapshot_format.h"
#include "storage/storage.h"

namespace quarn {

namespace fmt = snapshot_format;

Status HnswIndex::save_graph(BufferedWriter& out) const {
  QUARN_TRY(out.write_u32(fmt::kGraphMagic));
  QUARN_TRY(out.write_u32(fmt::kGraphVersion));
  QUARN_TRY(out.write_u32(static_cast<std::uint32_t>(dim_)));
  QUARN_TRY(out.write_u8(static_cast<std::uint8_t>(metric_)));
  QUARN_TRY(out.write_u32(static_cast<std::uint32_t>(m_)));
  QUARN_TRY(out.write_u32(static_cast<std::uint32_t>(ef_construction_)));
  QUARN_TRY(out.write_u32(entry_point_));
  QUARN_TRY(out.write_u32(static_cast<std::uint32_t>(max_level_)));
  QUARN_TRY(out.write_u32(static_cast<std::uint32_t>(nodes_.size())));
  QUARN_TRY(out.write_u32(static_cast<std::uint32_t>(deleted_.size())));
  for (Slot s : deleted_) QUARN_TRY(out.write_u32(s));

  std::vector<Slot> copy;
  for (const auto& node : nodes_) {
    QUARN_TRY(out.write_u32(static_cast<std::uint32_t>(node->layer_count())));
    for (std::size_t l = 0; l < node->layer_count(); ++l) {
      const NeighborList& list = node->layer(l);
      {
        std::lock_guard<std::mutex> guard(list.mutex);
        copy = list.slots;
      }
      QUARN_TRY(out.write_u32(static_cast<std::uint32_t>(copy.size())));
      for (Slot v : copy) QUARN_TRY(out.write_u32(v));
    }
  }
  return out.flush();
}

Status write_metadata_section(BufferedWriter& out, const std::vector<MetaRecord>& records) {
  QUARN_TRY(out.write_u32(fmt::kMetaMagic));
  QUARN_TRY(out.write_u32(static_cast<std::uint32_t>(records.size())));
  for (const MetaRecord& r : records) {
    QUARN_TRY(out.write_u32(r.slot));
    QUARN_TRY(out.write_u32(static_cast<std::uint32_t>(r.id.size())));
    QUARN_TRY(out.write(r.id.data(), r.id.size()));
    if (r.metadata) {
      const std::string text = json_dump(*r.metadata);
      QUARN_TRY(out.write_u32(static_cast<std::uint32_t>(text.size())));
      QUARN_TRY(out.write(text.data(), text.size()));
    } else {
      QUARN_TRY(out.write_u32(0));
    }
  }
  return Status::success();
}

}  // namespace quarn
