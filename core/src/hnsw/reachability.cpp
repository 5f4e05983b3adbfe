#include <vector>

#include "hnsw/hnsw.h"

namespace quarn {

namespace {

// Marks every node that layer-0 links lead to from `from`, starting with `from`.
void mark_reachable(const GraphLinks& links, Slot from, std::vector<std::uint8_t>& reached) {
  if (reached[from] != 0) return;
  std::vector<Slot> stack{from};
  reached[from] = 1;
  while (!stack.empty()) {
    const Slot s = stack.back();
    stack.pop_back();
    const GraphLinks::List list = links.list(s, 0);
    for (std::size_t i = 0; i < list.size(); ++i) {
      const Slot t = list[i];
      if (t < reached.size() && reached[t] == 0) {
        reached[t] = 1;
        stack.push_back(t);
      }
    }
  }
}

}  // namespace

std::vector<std::uint8_t> HnswIndex::reachable_on_layer0() const {
  std::vector<std::uint8_t> reached(links_.size(), 0);
  if (entry_point_ < links_.size()) mark_reachable(links_, entry_point_, reached);
  return reached;
}

std::size_t HnswIndex::live_reachable_on_layer0() const {
  const std::vector<std::uint8_t> reached = reachable_on_layer0();
  std::size_t count = 0;
  for (std::size_t s = 0; s < reached.size(); ++s) {
    if (reached[s] != 0 && !is_deleted(static_cast<Slot>(s))) ++count;
  }
  return count;
}

void HnswIndex::repair_layer0() {
  if (entry_point_ >= links_.size()) return;
  std::vector<std::uint8_t> reached = reachable_on_layer0();
  std::vector<Slot> list;
  // A link replaced below may cut off another node; the next round finds it.
  for (int round = 0; round < 4; ++round) {
    bool changed = false;
    for (std::size_t i = 0; i < reached.size(); ++i) {
      const auto u = static_cast<Slot>(i);
      if (reached[u] != 0 || is_deleted(u)) continue;
      const std::span<const float> q = vector(u);
      Slot ep = entry_point_;
      for (std::size_t layer = max_level_; layer > 0; --layer) ep = search_layer_single(q, ep, layer);
      std::vector<Candidate> found = search_layer(q, ep, ef_construction_, 0);
      // The descent may end inside an island; a walk from the entry point reaches only reached nodes.
      if (std::none_of(found.begin(), found.end(), [&](const Candidate& c) { return reached[c.slot] != 0; })) {
        found = search_layer(q, entry_point_, ef_construction_, 0);
      }
      // One of the few nearest reached nodes with room in its list takes u (walks toward u pass
      // by those); failing that, the nearest one gives up its farthest entry for it.
      constexpr std::size_t kNearest = 8;
      Slot owner = kNoEntryPoint;
      std::size_t looked = 0;
      for (const Candidate& c : found) {
        if (c.slot == u || reached[c.slot] == 0) continue;
        if (owner == kNoEntryPoint) owner = c.slot;
        if (links_.list(c.slot, 0).size() < m0_) {
          owner = c.slot;
          break;
        }
        if (++looked == kNearest) break;
      }
      if (owner == kNoEntryPoint) continue;
      {
        const GraphLinks::Lock guard = links_.lock(owner);
        links_.copy_to(owner, 0, list);
        if (list.size() < m0_) {
          list.push_back(u);
        } else {
          std::size_t far = 0;
          float far_distance = -1.0f;
          for (std::size_t j = 0; j < list.size(); ++j) {
            const float d = pair_distance(owner, list[j]);
            if (d > far_distance) {
              far_distance = d;
              far = j;
            }
          }
          list[far] = u;
        }
        links_.assign(owner, 0, list);
        links_.set_chosen_by_rule(owner, false);
      }
      mark_reachable(links_, u, reached);
      changed = true;
    }
    if (!changed) return;
    reached = reachable_on_layer0();
  }
}

}  // namespace quarn
