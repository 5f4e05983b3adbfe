#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "graph_util.h"
#include "quarn/hnsw.h"
#include "quarn/pool.h"

namespace quarn {

namespace {

// The first part of a batch is linked one by one so the parallel part starts from a graph
// with some structure.
constexpr std::size_t kSequentialPrefix = 128;

}  // namespace

void HnswIndex::write_codes(Slot slot, std::span<const float> vector) {
  if (!quantized_.has_value()) return;
  const std::vector<std::uint8_t> row = quantized_->quantizer.quantize(vector);
  auto& codes = quantized_->codes;
  const std::size_t offset = std::size_t{slot} * dim_;
  // Row s always sits at s * dim, even after a code block of the wrong length was loaded.
  if (codes.size() < offset + dim_) codes.resize(offset + dim_, 0);
  std::copy(row.begin(), row.end(), codes.begin() + static_cast<std::ptrdiff_t>(offset));
}

Slot HnswIndex::append_row(std::span<const float> vector, std::size_t level) {
  const auto slot = static_cast<Slot>(nodes_.size());
  write_codes(slot, vector);
  norms_.push_back(vector_norm(vector));
  auto& data = store_.owned();
  data.insert(data.end(), vector.begin(), vector.end());
  nodes_.push_back(std::make_unique<Node>(level));
  return slot;
}

Slot HnswIndex::insert(std::vector<float> vector) {
  if (vector.size() != dim_) detail::fatal("vector dimension mismatch");
  if (nodes_.size() >= kNoEntryPoint) detail::fatal("index is full");
  const std::size_t level = random_level();
  const Slot slot = append_row(vector, level);
  live_count_.fetch_add(1, std::memory_order_acq_rel);
  if (entry_point_ == kNoEntryPoint) {
    entry_point_ = slot;
    max_level_ = level;
    return slot;
  }
  connect_node(slot, level, entry_point_);
  if (level > max_level_) {
    entry_point_ = slot;
    max_level_ = level;
  }
  return slot;
}

std::vector<Slot> HnswIndex::batch_insert(std::vector<std::vector<float>> vectors) {
  if (vectors.empty()) return {};
  for (const auto& v : vectors) {
    if (v.size() != dim_) detail::fatal("vector dimension mismatch");
  }
  const std::size_t count = vectors.size();
  if (count > std::size_t{kNoEntryPoint} - nodes_.size()) detail::fatal("index is full");
  const auto start = static_cast<Slot>(nodes_.size());
  std::vector<std::size_t> levels(count);
  for (auto& level : levels) level = random_level();

  // Every row exists before any linking, so no shared array grows while workers read it.
  auto& data = store_.owned();
  data.reserve(data.size() + count * dim_);
  norms_.reserve(norms_.size() + count);
  nodes_.reserve(nodes_.size() + count);
  if (quantized_.has_value()) quantized_->codes.reserve((std::size_t{start} + count) * dim_);
  for (std::size_t i = 0; i < count; ++i) append_row(vectors[i], levels[i]);

  std::vector<Slot> slots(count);
  for (std::size_t i = 0; i < count; ++i) slots[i] = start + static_cast<Slot>(i);

  std::size_t first = 0;
  if (entry_point_ == kNoEntryPoint) {
    entry_point_ = start;
    max_level_ = levels[0];
    first = 1;
  }
  const std::size_t sequential_end = std::min(count, kSequentialPrefix);
  for (std::size_t i = first; i < sequential_end; ++i) {
    connect_node(slots[i], levels[i], entry_point_);
    if (levels[i] > max_level_) {
      entry_point_ = slots[i];
      max_level_ = levels[i];
    }
  }
  if (count > kSequentialPrefix) {
    const Slot entry = entry_point_;
    parallel_for(count - kSequentialPrefix, [&](std::size_t j) {
      const std::size_t i = kSequentialPrefix + j;
      connect_node(slots[i], levels[i], entry);
    });
    for (std::size_t i = kSequentialPrefix; i < count; ++i) {
      if (levels[i] > max_level_) {
        entry_point_ = slots[i];
        max_level_ = levels[i];
      }
    }
  }
  live_count_.fetch_add(count, std::memory_order_acq_rel);
  return slots;
}

void HnswIndex::connect_node(Slot slot, std::size_t level, Slot entry) {
  const std::span<const float> q = vector(slot);
  const std::size_t top = max_level_;
  Slot ep = entry;
  for (std::size_t layer = top; layer > level; --layer) ep = search_layer_single(q, ep, layer);

  std::vector<std::pair<float, Slot>> scratch;
  for (std::size_t lc = std::min(level, top) + 1; lc-- > 0;) {
    const std::vector<Candidate> found = search_layer(q, ep, ef_construction_, lc);
    const std::size_t maxc = lc == 0 ? m0_ : m_;
    const std::size_t keep = std::min(maxc, found.size());
    {
      NeighborList& own = nodes_[slot]->layer(lc);
      std::lock_guard<std::mutex> guard(own.mutex);
      own.slots.clear();
      for (std::size_t i = 0; i < keep; ++i) own.slots.push_back(found[i].slot);
    }
    for (std::size_t i = 0; i < keep; ++i) {
      const Slot n = found[i].slot;
      Node& neighbor = *nodes_[n];
      if (neighbor.level() < lc) continue;
      NeighborList& list = neighbor.layer(lc);
      std::lock_guard<std::mutex> guard(list.mutex);
      list.slots.push_back(slot);
      if (list.slots.size() <= maxc) continue;
      // Overfull: keep the maxc entries nearest to the neighbour; ties keep list order.
      const std::span<const float> nv = vector(n);
      scratch.clear();
      for (Slot x : list.slots) scratch.emplace_back(distance(nv, vector(x), metric_), x);
      std::stable_sort(scratch.begin(), scratch.end(),
                       [](const auto& a, const auto& b) { return a.first < b.first; });
      list.slots.resize(maxc);
      for (std::size_t j = 0; j < maxc; ++j) list.slots[j] = scratch[j].second;
    }
    if (!found.empty()) ep = found.front().slot;
  }
}

void HnswIndex::update_vector(Slot slot, std::span<const float> vector) {
  // Checked in every build type: a violation would write outside the slot's row.
  if (vector.size() != dim_ || slot >= nodes_.size()) std::abort();
  auto& data = store_.owned();
  std::copy(vector.begin(), vector.end(), data.begin() + static_cast<std::ptrdiff_t>(std::size_t{slot} * dim_));
  norms_[slot] = vector_norm(vector);
  write_codes(slot, vector);
  if (nodes_.size() < 2) return;

  const std::size_t level = nodes_[slot]->level();
  std::vector<Slot> former;
  for (std::size_t lc = 0; lc <= level; ++lc) {
    {
      NeighborList& own = nodes_[slot]->layer(lc);
      std::lock_guard<std::mutex> guard(own.mutex);
      former.swap(own.slots);
      own.slots.clear();
    }
    for (Slot x : former) {
      Node& neighbor = *nodes_[x];
      if (neighbor.level() < lc) continue;
      NeighborList& list = neighbor.layer(lc);
      std::lock_guard<std::mutex> guard(list.mutex);
      std::erase(list.slots, slot);
    }
    former.clear();
  }

  Slot ep = entry_point_;
  if (ep == slot) {
    ep = slot;
    for (std::size_t s = 0; s < nodes_.size(); ++s) {
      const auto candidate = static_cast<Slot>(s);
      if (candidate != slot && deleted_.count(candidate) == 0) {
        ep = candidate;
        break;
      }
    }
  }
  connect_node(slot, level, ep);
}

}  // namespace quarn
