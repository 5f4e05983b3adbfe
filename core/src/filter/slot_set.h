#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <span>
#include <vector>

namespace quarn {

// A set of slots that is cheap to combine: a sorted vector while it is sparse, a bitmap once it
// holds more than about one slot in 64 of the slots below its largest. Iteration runs in
// ascending slot order in both forms; intersections and unions run in linear time.
class SlotSet {
 public:
  SlotSet() = default;
  SlotSet(std::initializer_list<std::uint32_t> slots);
  // Takes slots already in strictly ascending order.
  static SlotSet from_sorted(std::vector<std::uint32_t> slots);

  void insert(std::uint32_t slot);
  void erase(std::uint32_t slot);
  bool contains(std::uint32_t slot) const;
  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  bool dense() const { return dense_; }

  // Calls fn(slot) in ascending order; stops early when fn returns false.
  template <typename Fn>
  void for_each(Fn&& fn) const {
    if (!dense_) {
      for (std::uint32_t s : sorted_) {
        if (!fn(s)) return;
      }
      return;
    }
    for (std::size_t w = 0; w < bits_.size(); ++w) {
      for (std::uint64_t word = bits_[w]; word != 0; word &= word - 1) {
        if (!fn(static_cast<std::uint32_t>(w * 64 + static_cast<std::size_t>(std::countr_zero(word))))) return;
      }
    }
  }

  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = std::uint32_t;
    using difference_type = std::ptrdiff_t;
    using pointer = const std::uint32_t*;
    using reference = std::uint32_t;

    const_iterator() = default;
    std::uint32_t operator*() const;
    const_iterator& operator++();
    const_iterator operator++(int) {
      const_iterator old = *this;
      ++*this;
      return old;
    }
    bool operator==(const const_iterator& other) const { return pos_ == other.pos_ && word_ == other.word_; }

   private:
    friend class SlotSet;
    const_iterator(const SlotSet* set, std::size_t pos);
    void settle();  // dense form: moves to the next set bit at or after pos_

    const SlotSet* set_ = nullptr;
    std::size_t pos_ = 0;     // index into the sorted vector, or word index of the bitmap
    std::uint64_t word_ = 0;  // dense form: the bits of word pos_ not yet visited
  };

  const_iterator begin() const { return const_iterator(this, 0); }
  const_iterator end() const { return const_iterator(this, dense_ ? bits_.size() : sorted_.size()); }

  // Equal contents, whatever the form of either.
  friend bool operator==(const SlotSet& a, const SlotSet& b);

  static SlotSet intersect(const SlotSet& a, const SlotSet& b);
  static SlotSet unite(std::span<const SlotSet* const> sets);

 private:
  // Moves to the form that suits the current size and range.
  void reform();
  std::size_t universe() const;

  std::vector<std::uint32_t> sorted_;
  std::vector<std::uint64_t> bits_;
  std::size_t count_ = 0;
  bool dense_ = false;
};

}  // namespace quarn
