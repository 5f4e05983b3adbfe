#include "filter/slot_set.h"

#include <algorithm>

namespace quarn {

namespace {

// Sets below this size stay sorted vectors, whatever their range.
constexpr std::size_t kMinDense = 1024;

std::size_t words_for(std::size_t universe) { return (universe + 63) / 64; }

}  // namespace

SlotSet::SlotSet(std::initializer_list<std::uint32_t> slots) {
  for (std::uint32_t s : slots) insert(s);
}

SlotSet SlotSet::from_sorted(std::vector<std::uint32_t> slots) {
  SlotSet out;
  out.count_ = slots.size();
  out.sorted_ = std::move(slots);
  out.reform();
  return out;
}

std::size_t SlotSet::universe() const {
  if (dense_) return bits_.size() * 64;
  return sorted_.empty() ? 0 : static_cast<std::size_t>(sorted_.back()) + 1;
}

void SlotSet::reform() {
  const std::size_t range = universe();
  if (!dense_ && count_ >= kMinDense && count_ * 64 >= range) {
    // Vectors of this size cost more memory than the bitmap and linear time per change.
    bits_.assign(words_for(range), 0);
    for (std::uint32_t s : sorted_) bits_[s / 64] |= std::uint64_t{1} << (s % 64);
    sorted_ = {};
    dense_ = true;
  } else if (dense_ && (count_ < kMinDense / 2 || count_ * 128 < range)) {
    // Half the thresholds of the way up, so that a set near the boundary does not flip at
    // every change.
    std::vector<std::uint32_t> slots;
    slots.reserve(count_);
    for_each([&](std::uint32_t s) {
      slots.push_back(s);
      return true;
    });
    sorted_ = std::move(slots);
    bits_ = {};
    dense_ = false;
  }
}

void SlotSet::insert(std::uint32_t slot) {
  if (dense_) {
    if (slot / 64 >= bits_.size()) bits_.resize(slot / 64 + 1, 0);
    std::uint64_t& word = bits_[slot / 64];
    const std::uint64_t bit = std::uint64_t{1} << (slot % 64);
    if ((word & bit) != 0) return;
    word |= bit;
    ++count_;
  } else if (sorted_.empty() || slot > sorted_.back()) {
    sorted_.push_back(slot);  // the common case: new records take the next slot
    ++count_;
  } else {
    const auto it = std::lower_bound(sorted_.begin(), sorted_.end(), slot);
    if (it != sorted_.end() && *it == slot) return;
    sorted_.insert(it, slot);
    ++count_;
  }
  reform();
}

void SlotSet::erase(std::uint32_t slot) {
  if (dense_) {
    if (slot / 64 >= bits_.size()) return;
    std::uint64_t& word = bits_[slot / 64];
    const std::uint64_t bit = std::uint64_t{1} << (slot % 64);
    if ((word & bit) == 0) return;
    word &= ~bit;
    --count_;
  } else {
    const auto it = std::lower_bound(sorted_.begin(), sorted_.end(), slot);
    if (it == sorted_.end() || *it != slot) return;
    sorted_.erase(it);
    --count_;
  }
  reform();
}

bool SlotSet::contains(std::uint32_t slot) const {
  if (dense_) return slot / 64 < bits_.size() && ((bits_[slot / 64] >> (slot % 64)) & 1U) != 0;
  return std::binary_search(sorted_.begin(), sorted_.end(), slot);
}

SlotSet::const_iterator::const_iterator(const SlotSet* set, std::size_t pos) : set_(set), pos_(pos) {
  if (set_->dense_ && pos_ < set_->bits_.size()) {
    word_ = set_->bits_[pos_];
    settle();
  }
}

void SlotSet::const_iterator::settle() {
  while (word_ == 0 && pos_ < set_->bits_.size()) {
    ++pos_;
    word_ = pos_ < set_->bits_.size() ? set_->bits_[pos_] : 0;
  }
}

std::uint32_t SlotSet::const_iterator::operator*() const {
  if (!set_->dense_) return set_->sorted_[pos_];
  return static_cast<std::uint32_t>(pos_ * 64 + static_cast<std::size_t>(std::countr_zero(word_)));
}

SlotSet::const_iterator& SlotSet::const_iterator::operator++() {
  if (!set_->dense_) {
    ++pos_;
  } else {
    word_ &= word_ - 1;
    settle();
  }
  return *this;
}

bool operator==(const SlotSet& a, const SlotSet& b) {
  if (a.size() != b.size()) return false;
  return std::equal(a.begin(), a.end(), b.begin());
}

SlotSet SlotSet::intersect(const SlotSet& a, const SlotSet& b) {
  const SlotSet& small = a.size() <= b.size() ? a : b;
  const SlotSet& large = a.size() <= b.size() ? b : a;
  if (small.dense_ && large.dense_) {
    SlotSet out;
    out.dense_ = true;
    out.bits_.resize(std::min(small.bits_.size(), large.bits_.size()));
    for (std::size_t w = 0; w < out.bits_.size(); ++w) {
      out.bits_[w] = small.bits_[w] & large.bits_[w];
      out.count_ += static_cast<std::size_t>(std::popcount(out.bits_[w]));
    }
    out.reform();
    return out;
  }
  std::vector<std::uint32_t> slots;
  if (small.dense_ || large.dense_ || small.size() * 32 < large.size()) {
    // Probes of the larger set: a bit test, or a binary search when it is much larger.
    const SlotSet& probe = small.dense_ ? large : small;
    const SlotSet& other = small.dense_ ? small : large;
    for (std::uint32_t s : probe.sorted_) {
      if (other.contains(s)) slots.push_back(s);
    }
  } else {
    slots.reserve(small.size());
    std::set_intersection(small.sorted_.begin(), small.sorted_.end(), large.sorted_.begin(), large.sorted_.end(),
                          std::back_inserter(slots));
  }
  return from_sorted(std::move(slots));
}

SlotSet SlotSet::unite(std::span<const SlotSet* const> sets) {
  std::size_t total = 0;
  std::size_t range = 0;
  for (const SlotSet* s : sets) {
    total += s->size();
    range = std::max(range, s->universe());
  }
  if (total >= kMinDense && total * 64 >= range) {
    // OR into one bitmap: linear in the sets' sizes and the range, whatever their number.
    SlotSet out;
    out.dense_ = true;
    out.bits_.assign(words_for(range), 0);
    for (const SlotSet* s : sets) {
      if (s->dense_) {
        for (std::size_t w = 0; w < s->bits_.size(); ++w) out.bits_[w] |= s->bits_[w];
      } else {
        for (std::uint32_t slot : s->sorted_) out.bits_[slot / 64] |= std::uint64_t{1} << (slot % 64);
      }
    }
    for (std::uint64_t w : out.bits_) out.count_ += static_cast<std::size_t>(std::popcount(w));
    out.reform();
    return out;
  }
  // Few slots in a wide range: concatenate and sort.
  std::vector<std::uint32_t> slots;
  slots.reserve(total);
  for (const SlotSet* s : sets) {
    s->for_each([&](std::uint32_t slot) {
      slots.push_back(slot);
      return true;
    });
  }
  std::sort(slots.begin(), slots.end());
  slots.erase(std::unique(slots.begin(), slots.end()), slots.end());
  return from_sorted(std::move(slots));
}

}  // namespace quarn
