#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

#include "hnsw/graph_util.h"
#include "hnsw/hnsw.h"
#include "hnsw/neighbor_select.h"
#include "util/growth.h"
#include "util/pool.h"

namespace quarn {

namespace {

// The first part of a batch is linked one by one so the parallel part starts from a graph
// with some structure.
constexpr std::size_t kSequentialPrefix = 128;

// The order in which a batch's rows are linked: highest level first, and within a level in a
// shuffled order drawn from `seed`. Rows linked in input order build each run of near-duplicates
// (chunks of one document) one after another, and once a group links among itself the diversity
// rule prunes every link into it from outside: the group becomes an island that queries reach
// only through an upper layer. Shuffled, the first members of every group link into a graph that
// holds few of their peers, and the nodes with upper layers form the layer-0 backbone first.
std::vector<std::size_t> link_order(const std::vector<std::size_t>& levels, std::uint64_t seed) {
  std::vector<std::size_t> order(levels.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return levels[a] > levels[b]; });
  std::mt19937_64 rng(seed);
  for (std::size_t i0 = 0; i0 < order.size();) {
    std::size_t i1 = i0;
    while (i1 < order.size() && levels[order[i1]] == levels[order[i0]]) ++i1;
    for (std::size_t j = i0; j + 1 < i1; ++j) {
      std::uniform_int_distribution<std::size_t> pick(j, i1 - 1);
      std::swap(order[j], order[pick(rng)]);
    }
    i0 = i1;
  }
  return order;
}

// The store could not take rows (no disk space for rows kept in files): the index cannot go on
// without them, and the log still holds every acknowledged write.
void store_ok(const Status& status) {
  if (!status.ok()) detail::fatal(("vector rows: " + status.error().text()).c_str());
}

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

Slot HnswIndex::append_node(std::span<const float> vector, std::size_t level) {
  const auto slot = static_cast<Slot>(links_.size());
  write_codes(slot, vector);
  norms_.push_back(vector_norm(vector));
  links_.append(level);
  return slot;
}

Slot HnswIndex::append_row(std::span<const float> vector, std::size_t level) {
  store_ok(store_.append(vector));
  return append_node(vector, level);
}

Slot HnswIndex::insert(std::vector<float> vector) {
  if (vector.size() != dim_) detail::fatal("vector dimension mismatch");
  if (links_.size() >= kNoEntryPoint) detail::fatal("index is full");
  const std::size_t level = random_level();
  const Slot slot = append_row(vector, level);
  live_count_.fetch_add(1, std::memory_order_acq_rel);
  if (entry_point_ == kNoEntryPoint) {
    entry_point_ = slot;
    max_level_ = level;
    keep_codes_current();
    return slot;
  }
  connect_node(slot, level, entry_point_);
  if (level > max_level_) {
    entry_point_ = slot;
    max_level_ = level;
  }
  note_linked(1);
  keep_codes_current();
  return slot;
}

std::vector<Slot> HnswIndex::batch_insert(std::vector<std::vector<float>> vectors, const LinkProgress& progress) {
  if (vectors.empty()) return {};
  for (const auto& v : vectors) {
    if (v.size() != dim_) detail::fatal("vector dimension mismatch");
  }
  const std::vector<std::size_t> levels = prepare_batch(vectors.size());
  const auto start = static_cast<Slot>(links_.size());
  for (std::size_t i = 0; i < vectors.size(); ++i) append_row(vectors[i], levels[i]);
  return link_batch(start, levels, progress);
}

std::vector<Slot> HnswIndex::batch_insert_gather(std::span<const float* const> rows, const LinkProgress& progress) {
  if (rows.empty()) return {};
  const std::vector<std::size_t> levels = prepare_batch(rows.size());
  const auto start = static_cast<Slot>(links_.size());
  for (std::size_t i = 0; i < rows.size(); ++i) append_row({rows[i], dim_}, levels[i]);
  return link_batch(start, levels, progress);
}

std::vector<Slot> HnswIndex::batch_insert_rows(std::span<const float> rows, const LinkProgress& progress) {
  if (rows.empty()) return {};
  if (dim_ == 0 || rows.size() % dim_ != 0) detail::fatal("vector dimension mismatch");
  const std::size_t count = rows.size() / dim_;
  const std::vector<std::size_t> levels = prepare_batch(count);
  const auto start = static_cast<Slot>(links_.size());
  // The floats go into the store in one piece; the rest of each row follows row by row.
  store_ok(store_.append(rows));
  for (std::size_t i = 0; i < count; ++i) append_node(rows.subspan(i * dim_, dim_), levels[i]);
  return link_batch(start, levels, progress);
}

std::vector<std::size_t> HnswIndex::prepare_batch(std::size_t count) {
  if (count > std::size_t{kNoEntryPoint} - links_.size()) detail::fatal("index is full");
  std::vector<std::size_t> levels(count);
  for (auto& level : levels) level = random_level();
  // Every row exists before any linking, so no shared array grows while workers read it.
  // Capacities grow geometrically: many small batches must not copy the whole store each time.
  store_ok(store_.reserve(store_.float_count() + count * dim_));
  reserve_geometric(norms_, norms_.size() + count);
  links_.reserve(links_.size() + count, levels);
  if (quantized_.has_value()) reserve_geometric(quantized_->codes, (links_.size() + count) * dim_);
  return levels;
}

std::vector<Slot> HnswIndex::link_batch(Slot start, const std::vector<std::size_t>& levels, const LinkProgress& progress) {
  const std::size_t count = levels.size();
  std::vector<Slot> slots(count);
  for (std::size_t i = 0; i < count; ++i) slots[i] = start + static_cast<Slot>(i);

  // Seeded by the batch's place in the index, so that a build is reproducible.
  const std::vector<std::size_t> order = link_order(levels, 0x9e3779b97f4a7c15ULL ^ (std::uint64_t{start} << 20) ^ count);

  std::size_t linked = 0;
  auto report = [&] {
    if (progress) progress(linked);
  };
  std::size_t first = 0;
  if (entry_point_ == kNoEntryPoint) {
    entry_point_ = slots[order[0]];
    max_level_ = levels[order[0]];
    first = 1;
    linked = 1;
  }
  const std::size_t sequential_end = std::min(count, kSequentialPrefix);
  for (std::size_t j = first; j < sequential_end; ++j) {
    const std::size_t i = order[j];
    connect_node(slots[i], levels[i], entry_point_);
    if (levels[i] > max_level_) {
      entry_point_ = slots[i];
      max_level_ = levels[i];
    }
    ++linked;
    report();
  }
  if (count > kSequentialPrefix) {
    // Nodes that raise the top level are linked first, one by one: linked in parallel from the
    // old entry point they would get no lists on their new layers, leaving those layers unlinked.
    std::vector<std::size_t> parallel;
    parallel.reserve(count - kSequentialPrefix);
    for (std::size_t j = kSequentialPrefix; j < count; ++j) {
      const std::size_t i = order[j];
      if (levels[i] <= max_level_) {
        parallel.push_back(i);
        continue;
      }
      connect_node(slots[i], levels[i], entry_point_);
      entry_point_ = slots[i];
      max_level_ = levels[i];
      ++linked;
      report();
    }
    const Slot entry = entry_point_;
    // Workers only count; the calling thread reports the count whenever it links a record.
    std::atomic<std::size_t> shared_linked{linked};
    const std::thread::id caller = std::this_thread::get_id();
    parallel_for(parallel.size(), [&](std::size_t j) {
      const std::size_t i = parallel[j];
      connect_node(slots[i], levels[i], entry);
      const std::size_t now = shared_linked.fetch_add(1, std::memory_order_relaxed) + 1;
      if (progress && std::this_thread::get_id() == caller) progress(now);
    });
  }
  note_linked(count);
  keep_codes_current();
  linked = count;
  report();
  live_count_.fetch_add(count, std::memory_order_acq_rel);
  return slots;
}

void HnswIndex::note_linked(std::size_t rows) {
  linked_since_repair_ += rows;
  if (linked_since_repair_ * kRepairShare < links_.size()) return;
  repair_layer0();
  linked_since_repair_ = 0;
}

void HnswIndex::append_distances(Slot owner, const std::vector<Slot>& others, std::vector<Candidate>& out) const {
  std::size_t i = 0;
  for (; i + 1 < others.size(); i += 2) {
    float d[2];
    pair_distances(owner, others[i], others[i + 1], d);
    out.push_back({others[i], d[0]});
    out.push_back({others[i + 1], d[1]});
  }
  if (i < others.size()) out.push_back({others[i], pair_distance(owner, others[i])});
}

void HnswIndex::connect_node(Slot slot, std::size_t level, Slot entry) {
  const std::span<const float> q = vector(slot);
  const std::size_t top = max_level_;
  Slot ep = entry;
  for (std::size_t layer = top; layer > level; --layer) ep = search_layer_single(q, ep, layer);

  // Distances between stored slots for the diversity rule, one pair or one slot against two.
  struct SlotDistances {
    const HnswIndex& index;
    float operator()(Slot a, Slot b) const { return index.pair_distance(a, b); }
    void two(Slot a, Slot b0, Slot b1, float* out) const { index.pair_distances(a, b0, b1, out); }
  };
  const SlotDistances pair{*this};
  std::vector<Candidate> candidates;
  std::vector<Slot> chosen;
  std::vector<Slot> kept;
  std::vector<Slot> current;
  std::vector<Candidate> pool;
  for (std::size_t lc = std::min(level, top) + 1; lc-- > 0;) {
    const std::vector<Candidate> found = search_layer(q, ep, ef_construction_, lc);
    const std::size_t maxc = lc == 0 ? m0_ : m_;
    candidates.clear();
    // Only nodes that own this layer can be listed on it; the beam's entry may lack it.
    for (const Candidate& c : found) {
      if (c.slot != slot && links_.level(c.slot) >= lc) candidates.push_back(c);
    }
    {
      const GraphLinks::Lock guard = links_.lock(slot);
      // Concurrent inserts of a batch may already have linked themselves here: they compete
      // with the beam's candidates instead of being overwritten.
      links_.copy_to(slot, lc, current);
      for (Slot x : current) {
        if (x == slot) continue;
        const bool seen = std::any_of(candidates.begin(), candidates.end(), [x](const Candidate& c) { return c.slot == x; });
        if (!seen) candidates.push_back({x, pair_distance(slot, x)});
      }
      detail::sort_by_distance(candidates);
      detail::select_diverse(candidates, maxc, pair, chosen);
      links_.assign(slot, lc, chosen);
      if (lc == 0) links_.set_chosen_by_rule(slot, true);
    }
    for (Slot n : chosen) {
      const GraphLinks::Lock guard = links_.lock(n);
      links_.copy_to(n, lc, current);
      if (std::find(current.begin(), current.end(), slot) != current.end()) continue;
      if (current.size() < maxc) {
        links_.push_back(n, lc, slot);
        if (lc == 0) links_.set_chosen_by_rule(n, false);
        continue;
      }
      // Full: the owner's list is chosen again by the same rule from its entries and the new node.
      // A list the rule chose needs only the pairs with the new node tested.
      pool.clear();
      append_distances(n, current, pool);
      pool.push_back({slot, pair_distance(n, slot)});
      if (lc == 0 && links_.chosen_by_rule(n) && detail::select_diverse_adding(pool, maxc, pair, kept)) {
        if (kept != current) links_.assign(n, lc, kept);
        continue;
      }
      detail::sort_by_distance(pool);
      detail::select_diverse(pool, maxc, pair, kept);
      links_.assign(n, lc, kept);
      if (lc == 0) links_.set_chosen_by_rule(n, true);
    }
    if (!candidates.empty()) ep = candidates.front().slot;
  }
}

void HnswIndex::update_vector(Slot slot, std::span<const float> vector) {
  // Checked in every build type: a violation would write outside the slot's row.
  if (vector.size() != dim_ || slot >= links_.size()) std::abort();
  store_.write(std::size_t{slot} * dim_, vector);
  norms_[slot] = vector_norm(vector);
  write_codes(slot, vector);
  links_.clear_chosen_by_rule();
  if (links_.size() < 2) return;

  const std::size_t level = links_.level(slot);
  // The highest-layer former neighbour: a node that owns that layer, from which the relinking
  // of the entry point can start without cutting the hierarchy.
  Slot upper_neighbor = kNoEntryPoint;
  std::vector<Slot> former;
  std::vector<Slot> list;
  for (std::size_t lc = 0; lc <= level; ++lc) {
    {
      const GraphLinks::Lock guard = links_.lock(slot);
      links_.copy_to(slot, lc, former);
      links_.assign(slot, lc, {});
    }
    for (Slot x : former) {
      if (x == slot) continue;
      upper_neighbor = x;
      if (links_.level(x) < lc) continue;
      const GraphLinks::Lock guard = links_.lock(x);
      links_.copy_to(x, lc, list);
      if (std::erase(list, slot) != 0) links_.assign(x, lc, list);
    }
    former.clear();
  }

  Slot ep = entry_point_;
  if (ep == slot) {
    ep = upper_neighbor;
    if (ep == kNoEntryPoint) {
      // No links at all: start from the other node with the highest level.
      for (std::size_t s = 0; s < links_.size(); ++s) {
        if (s == slot) continue;
        if (ep == kNoEntryPoint || links_.level(static_cast<Slot>(s)) > links_.level(ep)) ep = static_cast<Slot>(s);
      }
    }
  }
  connect_node(slot, level, ep);
}

}  // namespace quarn
