#include <algorithm>
#include <bit>
#include <vector>

#include "hnsw/hnsw.h"
#include "util/file.h"
#include "quarn/json.h"
#include "storage/snapshot_format.h"
#include "storage/storage.h"

namespace quarn {

namespace fmt = snapshot_format;

static_assert(std::endian::native == std::endian::little, "graph.quarn words are written as they sit in memory");

Status HnswIndex::save_graph(BufferedWriter& out) const {
  QUARN_TRY(out.write_u32(fmt::kGraphMagic));
  QUARN_TRY(out.write_u32(fmt::kGraphVersion));
  QUARN_TRY(out.write_u32(static_cast<std::uint32_t>(dim_)));
  QUARN_TRY(out.write_u8(static_cast<std::uint8_t>(metric_)));
  QUARN_TRY(out.write_u32(static_cast<std::uint32_t>(m_)));
  QUARN_TRY(out.write_u32(static_cast<std::uint32_t>(ef_construction_)));
  QUARN_TRY(out.write_u32(entry_point_));
  QUARN_TRY(out.write_u32(static_cast<std::uint32_t>(max_level_)));
  QUARN_TRY(out.write_u32(static_cast<std::uint32_t>(links_.size())));
  QUARN_TRY(out.write_u32(static_cast<std::uint32_t>(deleted_.size())));
  {
    // In the order the set yields them, as the file has always listed them.
    const std::vector<Slot> deleted(deleted_.begin(), deleted_.end());
    QUARN_TRY(out.write(deleted.data(), deleted.size() * sizeof(Slot)));
  }

  // The node records are staged in a large buffer and written in a few sequential writes.
  // Nothing else touches the graph while it is saved, so the lists are read in place.
  constexpr std::size_t kStageWords = std::size_t{1} << 18;
  std::vector<std::uint32_t> stage;
  stage.reserve(kStageWords + 2 * (m0_ + 1));
  for (std::size_t s = 0; s < links_.size(); ++s) {
    const auto slot = static_cast<Slot>(s);
    const std::size_t layers = links_.level(slot) + 1;
    stage.push_back(static_cast<std::uint32_t>(layers));
    for (std::size_t l = 0; l < layers; ++l) {
      const Slot* words = links_.raw(slot, l);
      const std::size_t count = std::min<std::size_t>(words[0], links_.capacity(l));
      stage.push_back(static_cast<std::uint32_t>(count));
      stage.insert(stage.end(), words + 1, words + 1 + count);
    }
    if (stage.size() >= kStageWords) {
      QUARN_TRY(out.write(stage.data(), stage.size() * sizeof(std::uint32_t)));
      stage.clear();
    }
  }
  if (!stage.empty()) QUARN_TRY(out.write(stage.data(), stage.size() * sizeof(std::uint32_t)));
  return out.flush();
}

Status write_metadata_section(BufferedWriter& out, std::span<const MetaRecordView> records) {
  QUARN_TRY(out.write_u32(fmt::kMetaMagic));
  QUARN_TRY(out.write_u32(static_cast<std::uint32_t>(records.size())));
  for (const MetaRecordView& r : records) {
    QUARN_TRY(out.write_u32(r.slot));
    QUARN_TRY(out.write_u32(static_cast<std::uint32_t>(r.id.size())));
    QUARN_TRY(out.write(r.id.data(), r.id.size()));
    if (r.metadata != nullptr) {
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
