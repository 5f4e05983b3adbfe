#include <cmath>
#include <limits>
#include <random>

#include "hnsw/graph_util.h"
#include "hnsw/hnsw.h"

namespace quarn {

namespace {

// Levels never exceed this, whatever the multiplier: with m >= 2 a 53-bit draw cannot go past
// 53, so the cap only keeps a degenerate m (1 gives an infinite multiplier) from building
// nodes with an unbounded number of lists.
constexpr std::size_t kMaxLevel = 64;

std::mt19937_64& level_generator() {
  thread_local std::mt19937_64 generator = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device(), device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }();
  return generator;
}

// floor(-ln(r) * ml) converted with saturation: negative and NaN give 0.
std::size_t level_from_uniform(double r, double ml) {
  const double level = std::floor(-std::log(r) * ml);
  if (!(level > 0.0)) return 0;
  if (level >= static_cast<double>(kMaxLevel)) return kMaxLevel;
  return static_cast<std::size_t>(level);
}

std::size_t count_live(std::size_t nodes, const std::unordered_set<Slot>& deleted) {
  std::size_t dead = 0;
  for (Slot s : deleted) {
    if (s < nodes) ++dead;
  }
  return nodes - dead;
}

}  // namespace

HnswIndex::HnswIndex(std::size_t dim, std::size_t m, std::size_t ef_construction, Metric metric)
    : links_(m),
      m_(m),
      m0_(2 * m),
      ef_construction_(ef_construction),
      ml_(1.0 / std::log(static_cast<double>(m))),
      dim_(dim),
      metric_(metric),
      row_distance_(row_distance_fn(metric)),
      row_pair_distance_(row_pair_distance_fn(metric)),
      code_distance_(code_distance_fn(metric)),
      code_pair_distance_(code_pair_distance_fn(metric)),
      span_distance_(span_distance_fn(metric)) {}

HnswIndex::HnswIndex(Parts parts)
    : store_(std::move(parts.store)),
      norms_(std::move(parts.norms)),
      links_(std::move(parts.links)),
      deleted_(std::move(parts.deleted)),
      max_level_(parts.max_level),
      m_(parts.m),
      m0_(2 * parts.m),
      ef_construction_(parts.ef_construction),
      ml_(1.0 / std::log(static_cast<double>(parts.m))),
      dim_(parts.dim),
      live_count_(count_live(links_.size(), deleted_)),
      entry_point_(parts.entry_point),
      metric_(parts.metric),
      row_distance_(row_distance_fn(parts.metric)),
      row_pair_distance_(row_pair_distance_fn(parts.metric)),
      code_distance_(code_distance_fn(parts.metric)),
      code_pair_distance_(code_pair_distance_fn(parts.metric)),
      span_distance_(span_distance_fn(parts.metric)) {
  // The lists' stride follows m: lists laid out for another m would be read at wrong offsets.
  if (links_.m() != m_) detail::fatal("graph lists laid out for another m");
}

std::size_t HnswIndex::random_level() const {
  auto& generator = level_generator();
  double r = 0.0;
  // A draw of exactly 0 would make the level infinite; draw again.
  while (r == 0.0) r = static_cast<double>(generator() >> 11) * 0x1.0p-53;
  return level_from_uniform(r, ml_);
}

void HnswIndex::seed_levels(std::uint64_t seed) { level_generator().seed(seed); }

bool HnswIndex::mark_deleted(Slot slot) {
  if (slot >= links_.size()) return false;
  if (!deleted_.insert(slot).second) return false;
  live_count_.fetch_sub(1, std::memory_order_acq_rel);
  return true;
}

}  // namespace quarn
