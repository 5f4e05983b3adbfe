#pragma once

#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "filter/slot_set.h"
#include "quarn/json.h"
#include "util/slot.h"

namespace quarn {

// Numbers between low and high, each end included unless marked open. `none` admits nothing.
struct NumericRange {
  double low = -std::numeric_limits<double>::infinity();
  double high = std::numeric_limits<double>::infinity();
  bool low_open = false;
  bool high_open = false;
  bool none = false;
};

// The numeric values of one field as (key, slot) entries in ascending order of key, then slot.
// Entries sit in blocks of bounded size, so that an insert or removal moves at most one
// block's entries and a range is one contiguous run. 12 bytes per entry in a full block.
class NumericColumn {
 public:
  // Entries must be in ascending order of (key, slot), without repeats.
  static NumericColumn from_sorted(const std::vector<std::pair<double, Slot>>& entries);

  void insert(double key, Slot slot);
  void erase(double key, Slot slot);
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  // Slots whose key lies in the range.
  SlotSet slots_in(const NumericRange& range) const;

  // Calls fn(key, slot) in ascending order.
  template <typename Fn>
  void for_each(Fn&& fn) const {
    for (const Block& b : blocks_) {
      for (std::size_t i = 0; i < b.keys.size(); ++i) fn(b.keys[i], b.slots[i]);
    }
  }

 private:
  struct Block {
    std::vector<double> keys;
    std::vector<Slot> slots;
  };
  struct Pos {
    std::size_t block;
    std::size_t offset;
  };
  // The first entry for which `after` holds; `after` must be false up to some entry and true
  // from there on.
  template <typename After>
  Pos first_where(After&& after) const;

  std::vector<Block> blocks_;  // none empty
  std::size_t size_ = 0;
};

// Inverted index: field -> indexable value (bool, number, string) -> live slots holding it, and
// field -> its numbers (not bools, not NaN) in order, for ranges. Never holds an empty slot set,
// an empty column or a field with no values. Slot sets are sorted, so that a filter combines
// them in linear time.
class MetadataIndex {
 public:
  using ValueMap = std::unordered_map<Json, SlotSet, JsonHash, JsonEqual>;

  void index(Slot slot, const std::optional<Json>& metadata);
  void remove(Slot slot, const std::optional<Json>& metadata);
  void rebuild(const std::vector<std::optional<Json>>& metadata, const std::unordered_set<Slot>& deleted);

  // The set under (field, value), or nullptr.
  const SlotSet* find(const std::string& field, const Json& value) const;
  // Slots whose value of the field is a number in the range, compared as a double.
  SlotSet numbers_in(const std::string& field, const NumericRange& range) const;

  const std::unordered_map<std::string, ValueMap>& fields() const { return fields_; }
  const std::unordered_map<std::string, NumericColumn>& numeric_fields() const { return numbers_; }
  bool empty() const { return fields_.empty(); }

 private:
  std::unordered_map<std::string, ValueMap> fields_;
  std::unordered_map<std::string, NumericColumn> numbers_;
};

}  // namespace quarn
