#include "text/posting_list.h"

#include <algorithm>
#include <cassert>
#include <iterator>

namespace quarn {

void PostingList::refresh(Block& block, std::span<const std::uint32_t> lengths) {
  block.max_tf = 0;
  block.min_length = kNoSlot;
  for (std::size_t i = 0; i < block.slots.size(); ++i) {
    block.max_tf = std::max(block.max_tf, block.tfs[i]);
    block.min_length = std::min(block.min_length, lengths[block.slots[i]]);
  }
}

void PostingList::append(std::uint32_t slot, std::uint32_t tf, std::uint32_t length) {
  assert(lasts_.empty() || slot > lasts_.back());
  if (blocks_.empty() || blocks_.back().slots.size() >= kBlockCapacity) {
    blocks_.emplace_back();
    blocks_.back().min_length = length;
    lasts_.push_back(slot);
  }
  Block& block = blocks_.back();
  block.slots.push_back(slot);
  block.tfs.push_back(tf);
  block.max_tf = std::max(block.max_tf, tf);
  block.min_length = std::min(block.min_length, length);
  lasts_.back() = slot;
  ++size_;
}

void PostingList::insert(std::uint32_t slot, std::uint32_t tf, std::span<const std::uint32_t> lengths) {
  if (lasts_.empty() || slot > lasts_.back()) {
    append(slot, tf, lengths[slot]);
    return;
  }
  const auto b = static_cast<std::size_t>(std::lower_bound(lasts_.begin(), lasts_.end(), slot) - lasts_.begin());
  Block& block = blocks_[b];
  const auto at = std::lower_bound(block.slots.begin(), block.slots.end(), slot);
  assert(at == block.slots.end() || *at != slot);
  const auto offset = at - block.slots.begin();
  block.slots.insert(at, slot);
  block.tfs.insert(block.tfs.begin() + offset, tf);
  block.max_tf = std::max(block.max_tf, tf);
  block.min_length = std::min(block.min_length, lengths[slot]);
  ++size_;
  if (block.slots.size() <= kBlockCapacity) return;
  // Split in halves: the upper half becomes a block of its own after this one.
  Block upper;
  const std::size_t half = block.slots.size() / 2;
  upper.slots.assign(block.slots.begin() + static_cast<std::ptrdiff_t>(half), block.slots.end());
  upper.tfs.assign(block.tfs.begin() + static_cast<std::ptrdiff_t>(half), block.tfs.end());
  block.slots.resize(half);
  block.tfs.resize(half);
  refresh(block, lengths);
  refresh(upper, lengths);
  const std::uint32_t lower_last = block.slots.back();
  blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(b) + 1, std::move(upper));
  lasts_.insert(lasts_.begin() + static_cast<std::ptrdiff_t>(b), lower_last);
}

void PostingList::erase(std::uint32_t slot, std::span<const std::uint32_t> lengths) {
  const auto b = static_cast<std::size_t>(std::lower_bound(lasts_.begin(), lasts_.end(), slot) - lasts_.begin());
  assert(b < blocks_.size());
  Block& block = blocks_[b];
  const auto at = std::lower_bound(block.slots.begin(), block.slots.end(), slot);
  assert(at != block.slots.end() && *at == slot);
  const auto offset = at - block.slots.begin();
  block.slots.erase(at);
  block.tfs.erase(block.tfs.begin() + offset);
  --size_;
  if (block.slots.empty()) {
    blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(b));
    lasts_.erase(lasts_.begin() + static_cast<std::ptrdiff_t>(b));
    return;
  }
  lasts_[b] = block.slots.back();
  refresh(block, lengths);
}

std::uint32_t PostingList::tf_of(std::uint32_t slot) const {
  const auto b = static_cast<std::size_t>(std::lower_bound(lasts_.begin(), lasts_.end(), slot) - lasts_.begin());
  if (b == blocks_.size()) return 0;
  const Block& block = blocks_[b];
  const auto at = std::lower_bound(block.slots.begin(), block.slots.end(), slot);
  return at != block.slots.end() && *at == slot ? block.tfs[static_cast<std::size_t>(at - block.slots.begin())] : 0;
}

PostingList::Cursor::Cursor(const PostingList* list) : list_(list) { enter_block(); }

void PostingList::Cursor::enter_block() {
  if (block_ >= list_->blocks_.size()) {
    block_size_ = 0;
    slot_ = kNoSlot;
    return;
  }
  const Block& block = list_->blocks_[block_];
  slots_ = block.slots.data();
  tfs_ = block.tfs.data();
  block_size_ = block.slots.size();
  slot_ = slots_[pos_];
}

void PostingList::Cursor::next() {
  if (++pos_ < block_size_) {
    slot_ = slots_[pos_];
    return;
  }
  if (slot_ == kNoSlot) return;
  ++block_;
  pos_ = 0;
  enter_block();
}

std::size_t PostingList::Cursor::block_for(std::uint32_t target) const {
  const auto& lasts = list_->lasts_;
  std::size_t b = block_;
  // Galloping: targets usually lie in this block or a near one.
  std::size_t step = 1;
  while (b + step < lasts.size() && lasts[b + step] < target) {
    b += step;
    step *= 2;
  }
  const auto end = lasts.begin() + static_cast<std::ptrdiff_t>(std::min(b + step + 1, lasts.size()));
  return static_cast<std::size_t>(std::lower_bound(lasts.begin() + static_cast<std::ptrdiff_t>(b), end, target) -
                                  lasts.begin());
}

void PostingList::Cursor::seek(std::uint32_t target) {
  if (slot_ >= target) return;
  const std::size_t b = block_for(target);
  if (b >= list_->blocks_.size()) {
    block_ = b;
    pos_ = 0;
    enter_block();
    return;
  }
  if (b != block_) {
    block_ = b;
    pos_ = 0;
    enter_block();
  }
  // Galloping from the current place, then binary search.
  std::size_t lo = pos_;
  std::size_t step = 1;
  while (lo + step < block_size_ && slots_[lo + step] < target) {
    lo += step;
    step *= 2;
  }
  pos_ = static_cast<std::size_t>(
      std::lower_bound(slots_ + lo, slots_ + std::min(lo + step + 1, block_size_), target) - slots_);
  slot_ = slots_[pos_];
}

}  // namespace quarn
