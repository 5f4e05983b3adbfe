#pragma once

#include <cstdint>
#include <limits>
#include <span>
#include <vector>

namespace quarn {

inline constexpr std::uint32_t kNoSlot = std::numeric_limits<std::uint32_t>::max();

// The documents that hold one term: (slot, term frequency) in ascending slot order, cut into
// blocks of at most kBlockCapacity so that an insert or erase anywhere moves one block only.
// Each block keeps its largest frequency and the shortest document length in it, from which a
// scorer bounds the block's best score (block-max pruning).
class PostingList {
 public:
  static constexpr std::size_t kBlockCapacity = 128;

  struct Block {
    std::vector<std::uint32_t> slots;
    std::vector<std::uint32_t> tfs;
    std::uint32_t max_tf = 0;
    std::uint32_t min_length = 0;
  };

  // `slot` must not be in the list; `lengths` gives document lengths by slot, `slot`'s included.
  void insert(std::uint32_t slot, std::uint32_t tf, std::span<const std::uint32_t> lengths);
  // Removes `slot` (which must be in the list); `lengths` gives the lengths of the documents
  // left in its block.
  void erase(std::uint32_t slot, std::span<const std::uint32_t> lengths);
  // Appends in ascending slot order (for loading and rebuilding).
  void append(std::uint32_t slot, std::uint32_t tf, std::uint32_t length);

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::size_t block_count() const { return blocks_.size(); }
  const Block& block(std::size_t i) const { return blocks_[i]; }
  // Last slot of each block, ascending: the skip list of a cursor.
  std::span<const std::uint32_t> block_lasts() const { return lasts_; }
  // The term frequency of `slot`, 0 when absent.
  std::uint32_t tf_of(std::uint32_t slot) const;

  // Walks the list forward; slot() is kNoSlot past the end.
  class Cursor {
   public:
    explicit Cursor(const PostingList* list);
    std::uint32_t slot() const { return slot_; }
    std::uint32_t tf() const { return tfs_[pos_]; }
    // Index of the block the cursor stands in (block_count() past the end).
    std::size_t block() const { return block_; }
    void next();
    // Moves to the first slot >= target (never backwards).
    void seek(std::uint32_t target);
    // The block that would hold `target` (>= the current slot), without moving: its index or
    // block_count() when past the end.
    std::size_t block_for(std::uint32_t target) const;

   private:
    // Points slots_ and tfs_ at block_ (or at nothing past the end) and reads the slot.
    void enter_block();
    const PostingList* list_;
    std::size_t block_ = 0;
    std::size_t pos_ = 0;
    std::size_t block_size_ = 0;
    const std::uint32_t* slots_ = nullptr;
    const std::uint32_t* tfs_ = nullptr;
    std::uint32_t slot_ = kNoSlot;
  };

 private:
  void refresh(Block& block, std::span<const std::uint32_t> lengths);

  std::vector<Block> blocks_;
  std::vector<std::uint32_t> lasts_;
  std::size_t size_ = 0;
};

}  // namespace quarn
