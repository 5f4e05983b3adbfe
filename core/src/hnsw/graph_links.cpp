#include "hnsw/graph_links.h"

#include <algorithm>
#include <thread>

#include "util/growth.h"

namespace quarn {

namespace {

void store_word(Slot& word, Slot value, std::memory_order order) { std::atomic_ref<Slot>(word).store(value, order); }

}  // namespace

GraphLinks::GraphLinks(std::size_t m) : m_(m), m0_(2 * m), stripes_(new std::atomic_flag[kStripes]) {}

GraphLinks::Lock::Lock(std::atomic_flag& flag) : flag_(flag) {
  // Lists are held for a few microseconds: spin briefly, then yield between tries, so that a
  // holder preempted on a busy machine gets the processor back instead of a spinning waiter.
  constexpr int kSpins = 64;
  for (int spins = 0; flag_.test_and_set(std::memory_order_acquire);) {
    if (spins < kSpins) {
      ++spins;
#if defined(__x86_64__) || defined(__i386__)
      __builtin_ia32_pause();
#endif
    } else {
      std::this_thread::yield();
    }
  }
}

GraphLinks::Lock::~Lock() { flag_.clear(std::memory_order_release); }

void GraphLinks::reserve(std::size_t nodes, std::span<const std::size_t> new_levels) {
  reserve_geometric(level0_, nodes * (m0_ + 1));
  reserve_geometric(upper_at_, nodes);
  reserve_geometric(levels_, nodes);
  reserve_geometric(chosen_by_rule_, nodes);
  std::size_t upper_words = 0;
  for (std::size_t level : new_levels) upper_words += level * (m_ + 1);
  reserve_geometric(upper_, upper_.size() + upper_words);
}

void GraphLinks::append(std::size_t level) {
  reserve_geometric(level0_, level0_.size() + m0_ + 1);
  level0_.resize(level0_.size() + m0_ + 1, 0);
  upper_at_.push_back(level == 0 ? 0 : upper_.size());
  if (level > 0) upper_.resize(upper_.size() + level * (m_ + 1), 0);
  levels_.push_back(static_cast<std::uint8_t>(level));
  chosen_by_rule_.push_back(0);
}

void GraphLinks::clear_chosen_by_rule() { std::fill(chosen_by_rule_.begin(), chosen_by_rule_.end(), 0); }

void GraphLinks::assign(Slot s, std::size_t layer, std::span<const Slot> slots) {
  Slot* w = words(s, layer);
  const std::size_t n = slots.size() < capacity(layer) ? slots.size() : capacity(layer);
  for (std::size_t i = 0; i < n; ++i) store_word(w[1 + i], slots[i], std::memory_order_relaxed);
  store_word(w[0], static_cast<Slot>(n), std::memory_order_release);
}

void GraphLinks::push_back(Slot s, std::size_t layer, Slot v) {
  Slot* w = words(s, layer);
  const Slot n = std::atomic_ref<Slot>(w[0]).load(std::memory_order_relaxed);
  store_word(w[1 + n], v, std::memory_order_relaxed);
  store_word(w[0], n + 1, std::memory_order_release);
}

void GraphLinks::copy_to(Slot s, std::size_t layer, std::vector<Slot>& out) const {
  const List l = list(s, layer);
  const std::size_t n = l.size();
  out.resize(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = l[i];
}

}  // namespace quarn
