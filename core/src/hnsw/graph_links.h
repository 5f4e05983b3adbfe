#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "util/prefetch.h"
#include "util/slot.h"

namespace quarn {

// The neighbour lists of every node in two flat arrays. Layer 0: one record per node of a
// fixed stride, a count followed by m0 slots. Layers 1..level of a node above layer 0: one
// block of `level` records of m + 1 words in a second array, found through a per-node offset.
//
// Lists are read without locks. Every word is read and written atomically (the count with
// release/acquire, the slots relaxed), so a walk that runs beside a writer reads a list that
// is whole or momentarily stale, never torn. Writers of one node's lists hold that node's
// stripe lock; they never hold two at once. Appending nodes moves the arrays, so it needs
// exclusive access.
class GraphLinks {
 public:
  explicit GraphLinks(std::size_t m = 2);
  GraphLinks(GraphLinks&&) noexcept = default;
  GraphLinks& operator=(GraphLinks&&) noexcept = default;
  GraphLinks(const GraphLinks&) = delete;
  GraphLinks& operator=(const GraphLinks&) = delete;

  // One list, read in place.
  class List {
   public:
    List(const Slot* words, std::size_t capacity) : words_(words), capacity_(capacity) {}
    // Never more than the capacity, even mid-write.
    std::size_t size() const {
      const std::size_t n = std::atomic_ref<Slot>(const_cast<Slot&>(words_[0])).load(std::memory_order_acquire);
      return n < capacity_ ? n : capacity_;
    }
    Slot operator[](std::size_t i) const {
      return std::atomic_ref<Slot>(const_cast<Slot&>(words_[1 + i])).load(std::memory_order_relaxed);
    }
    const Slot* words() const { return words_; }

   private:
    const Slot* words_;
    std::size_t capacity_;
  };

  // Holds one node's stripe lock.
  class Lock {
   public:
    explicit Lock(std::atomic_flag& flag);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    std::atomic_flag& flag_;
  };

  std::size_t size() const { return levels_.size(); }
  std::size_t m() const { return m_; }
  std::size_t m0() const { return m0_; }
  std::size_t capacity(std::size_t layer) const { return layer == 0 ? m0_ : m_; }
  std::size_t level(Slot s) const { return levels_[s]; }

  // Room for `nodes` nodes in all, plus the upper-layer blocks of the nodes about to be appended
  // with `new_levels`; capacities grow geometrically.
  void reserve(std::size_t nodes, std::span<const std::size_t> new_levels = {});
  // Appends a node with empty lists on layers 0..level.
  void append(std::size_t level);

  List list(Slot s, std::size_t layer) const { return List(words(s, layer), capacity(layer)); }
  // Address of a list's count word.
  const Slot* list_address(Slot s, std::size_t layer) const { return words(s, layer); }
  // Hints every cache line of a layer-0 record: at 33 words a record straddles two or three
  // lines, and the walk reads all of it.
  void prefetch_list0(Slot s) const { prefetch_range<3>(words(s, 0), (m0_ + 1) * sizeof(Slot)); }

  // Writers: the caller holds lock(s) whenever another thread may write the same node.
  [[nodiscard]] Lock lock(Slot s) const { return Lock(stripes_[s & (kStripes - 1)]); }
  void assign(Slot s, std::size_t layer, std::span<const Slot> slots);
  // Precondition: the list holds fewer than capacity(layer) slots.
  void push_back(Slot s, std::size_t layer, Slot v);
  void copy_to(Slot s, std::size_t layer, std::vector<Slot>& out) const;

  // Whether s's layer-0 list is, as far as the insert code knows, what the diversity rule chose
  // for s (ascending, each entry kept against those before it), minus entries removed since.
  // Read and written under s's lock; false for appended and loaded nodes.
  bool chosen_by_rule(Slot s) const { return chosen_by_rule_[s] != 0; }
  void set_chosen_by_rule(Slot s, bool chosen) { chosen_by_rule_[s] = chosen ? 1 : 0; }
  // Forgets every mark: after a vector changes, lists holding that node may no longer be ascending
  // or chosen by the rule.
  void clear_chosen_by_rule();

  // Plain access for the loader and the writer of graph.quarn, which run with nothing else
  // touching the graph: the count word followed by capacity(layer) slot words.
  Slot* raw(Slot s, std::size_t layer) { return words(s, layer); }
  const Slot* raw(Slot s, std::size_t layer) const { return words(s, layer); }

 private:
  static constexpr std::size_t kStripes = 4096;

  Slot* words(Slot s, std::size_t layer) const {
    if (layer == 0) return const_cast<Slot*>(level0_.data()) + std::size_t{s} * (m0_ + 1);
    return const_cast<Slot*>(upper_.data()) + upper_at_[s] + (layer - 1) * (m_ + 1);
  }

  std::size_t m_;
  std::size_t m0_;
  std::vector<Slot> level0_;
  std::vector<Slot> upper_;
  std::vector<std::uint64_t> upper_at_;  // offset of a node's block in upper_ (0 for level 0)
  std::vector<std::uint8_t> levels_;
  std::vector<std::uint8_t> chosen_by_rule_;
  std::unique_ptr<std::atomic_flag[]> stripes_;
};

}  // namespace quarn
