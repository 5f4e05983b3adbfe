#include "filter/metadata_index.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

namespace quarn {

namespace {

// Entries per block: large enough that a range rarely crosses many blocks, small enough that an
// insert moves little.
constexpr std::size_t kBlock = 128;

// NaN equals nothing, not even itself, so it could never be looked up or withdrawn again.
bool indexable(const Json& v) {
  if (v.is_number_float()) return !std::isnan(v.get<double>());
  return v.is_boolean() || v.is_number() || v.is_string();
}

// Numbers as ranges compare them: converted to double. Bools are not numbers; NaN lies in no
// range.
std::optional<double> numeric_key(const Json& v) {
  if (v.is_number_unsigned()) return static_cast<double>(v.get<std::uint64_t>());
  if (v.is_number_integer()) return static_cast<double>(v.get<std::int64_t>());
  if (v.is_number_float() && !std::isnan(v.get<double>())) return v.get<double>();
  return std::nullopt;
}

// Order of (key, slot) entries. Keys are never NaN; -0.0 and 0.0 are one key.
bool entry_less(double ka, Slot sa, double kb, Slot sb) { return ka < kb || (!(kb < ka) && sa < sb); }

// Sorts slots that are all different: through a bitmap when they are dense enough that one
// pass over it is cheaper than comparisons.
std::vector<Slot> sort_slots(std::vector<Slot> slots, Slot top) {
  const std::size_t words = std::size_t{top} / 64 + 1;
  if (slots.size() < 64 || words > slots.size()) {
    std::sort(slots.begin(), slots.end());
    return slots;
  }
  std::vector<std::uint64_t> bits(words, 0);
  for (Slot s : slots) bits[s / 64] |= std::uint64_t{1} << (s % 64);
  slots.clear();
  for (std::size_t w = 0; w < words; ++w) {
    for (std::uint64_t word = bits[w]; word != 0; word &= word - 1) {
      slots.push_back(static_cast<Slot>(w * 64 + static_cast<std::size_t>(std::countr_zero(word))));
    }
  }
  return slots;
}

}  // namespace

template <typename After>
NumericColumn::Pos NumericColumn::first_where(After&& after) const {
  const auto block = std::partition_point(blocks_.begin(), blocks_.end(), [&](const Block& b) {
    return !after(b.keys.back(), b.slots.back());
  });
  if (block == blocks_.end()) return {blocks_.size(), 0};
  std::size_t lo = 0;
  std::size_t hi = block->keys.size() - 1;  // `after` holds here
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (after(block->keys[mid], block->slots[mid])) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  return {static_cast<std::size_t>(block - blocks_.begin()), lo};
}

NumericColumn NumericColumn::from_sorted(const std::vector<std::pair<double, Slot>>& entries) {
  NumericColumn column;
  for (std::size_t i = 0; i < entries.size(); i += kBlock) {
    const std::size_t end = std::min(entries.size(), i + kBlock);
    Block b;
    b.keys.reserve(end - i);
    b.slots.reserve(end - i);
    for (std::size_t j = i; j < end; ++j) {
      b.keys.push_back(entries[j].first);
      b.slots.push_back(entries[j].second);
    }
    column.blocks_.push_back(std::move(b));
  }
  column.size_ = entries.size();
  return column;
}

void NumericColumn::insert(double key, Slot slot) {
  if (blocks_.empty()) {
    blocks_.push_back(Block{{key}, {slot}});
    size_ = 1;
    return;
  }
  Pos p = first_where([&](double k, Slot s) { return !entry_less(k, s, key, slot); });
  if (p.block == blocks_.size()) {
    p = {blocks_.size() - 1, blocks_.back().keys.size()};
  } else {
    const Block& b = blocks_[p.block];
    if (!entry_less(key, slot, b.keys[p.offset], b.slots[p.offset])) return;  // already held
  }
  if (blocks_[p.block].keys.size() >= kBlock) {
    if (p.block + 1 == blocks_.size() && p.offset == kBlock) {
      // Past the end: a new block, so that values arriving in ascending order fill blocks whole.
      blocks_.push_back(Block{{key}, {slot}});
      ++size_;
      return;
    }
    Block& full = blocks_[p.block];
    Block upper;
    upper.keys.assign(full.keys.begin() + kBlock / 2, full.keys.end());
    upper.slots.assign(full.slots.begin() + kBlock / 2, full.slots.end());
    full.keys.resize(kBlock / 2);
    full.slots.resize(kBlock / 2);
    blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(p.block) + 1, std::move(upper));
    if (p.offset > kBlock / 2) p = {p.block + 1, p.offset - kBlock / 2};
  }
  Block& b = blocks_[p.block];
  b.keys.insert(b.keys.begin() + static_cast<std::ptrdiff_t>(p.offset), key);
  b.slots.insert(b.slots.begin() + static_cast<std::ptrdiff_t>(p.offset), slot);
  ++size_;
}

void NumericColumn::erase(double key, Slot slot) {
  const Pos p = first_where([&](double k, Slot s) { return !entry_less(k, s, key, slot); });
  if (p.block == blocks_.size()) return;
  Block& b = blocks_[p.block];
  if (b.slots[p.offset] != slot || key < b.keys[p.offset]) return;  // not held
  b.keys.erase(b.keys.begin() + static_cast<std::ptrdiff_t>(p.offset));
  b.slots.erase(b.slots.begin() + static_cast<std::ptrdiff_t>(p.offset));
  --size_;
  const auto at = [&](std::size_t i) { return blocks_.begin() + static_cast<std::ptrdiff_t>(i); };
  if (b.keys.empty()) {
    blocks_.erase(at(p.block));
    return;
  }
  if (b.keys.size() * 4 <= b.keys.capacity()) {
    // Memory follows the entries down after mass removals.
    b.keys.shrink_to_fit();
    b.slots.shrink_to_fit();
  }
  // Neighbours that together fill at most half a block become one, so that removals do not
  // leave many near-empty blocks behind.
  auto merge_into_previous = [&](std::size_t i) {
    Block& prev = blocks_[i - 1];
    Block& cur = blocks_[i];
    prev.keys.insert(prev.keys.end(), cur.keys.begin(), cur.keys.end());
    prev.slots.insert(prev.slots.end(), cur.slots.begin(), cur.slots.end());
    blocks_.erase(at(i));
  };
  if (p.block + 1 < blocks_.size() && b.keys.size() + blocks_[p.block + 1].keys.size() <= kBlock / 2) {
    merge_into_previous(p.block + 1);
  } else if (p.block > 0 && blocks_[p.block - 1].keys.size() + b.keys.size() <= kBlock / 2) {
    merge_into_previous(p.block);
  }
}

SlotSet NumericColumn::slots_in(const NumericRange& range) const {
  if (range.none) return {};
  const Pos start = first_where([&](double k, Slot) { return range.low_open ? k > range.low : k >= range.low; });
  const Pos end = first_where([&](double k, Slot) { return range.high_open ? k >= range.high : k > range.high; });
  if (end.block < start.block || (end.block == start.block && end.offset <= start.offset)) return {};
  std::size_t count = end.offset;
  for (std::size_t b = start.block; b < end.block; ++b) count += blocks_[b].keys.size();
  count -= start.offset;
  std::vector<Slot> slots;
  slots.reserve(count);
  Slot top = 0;
  for (std::size_t b = start.block; b <= end.block && b < blocks_.size(); ++b) {
    const std::vector<Slot>& held = blocks_[b].slots;
    const std::size_t from = b == start.block ? start.offset : 0;
    const std::size_t to = b == end.block ? end.offset : held.size();
    for (std::size_t i = from; i < to; ++i) {
      slots.push_back(held[i]);
      top = std::max(top, held[i]);
    }
  }
  return SlotSet::from_sorted(sort_slots(std::move(slots), top));
}

void MetadataIndex::index(Slot slot, const std::optional<Json>& metadata) {
  if (!metadata.has_value() || !metadata->is_object()) return;
  for (const auto& [field, value] : metadata->items()) {
    if (!indexable(value)) continue;
    fields_[field][value].insert(slot);
    if (const std::optional<double> key = numeric_key(value)) numbers_[field].insert(*key, slot);
  }
}

void MetadataIndex::remove(Slot slot, const std::optional<Json>& metadata) {
  if (!metadata.has_value() || !metadata->is_object()) return;
  for (const auto& [field, value] : metadata->items()) {
    if (!indexable(value)) continue;
    if (const std::optional<double> key = numeric_key(value)) {
      auto column = numbers_.find(field);
      if (column != numbers_.end()) {
        column->second.erase(*key, slot);
        if (column->second.empty()) numbers_.erase(column);
      }
    }
    auto field_it = fields_.find(field);
    if (field_it == fields_.end()) continue;
    ValueMap& values = field_it->second;
    auto value_it = values.find(value);
    if (value_it == values.end()) continue;
    value_it->second.erase(slot);
    if (value_it->second.empty()) values.erase(value_it);
    if (values.empty()) fields_.erase(field_it);
  }
}

void MetadataIndex::rebuild(const std::vector<std::optional<Json>>& metadata,
                            const std::unordered_set<Slot>& deleted) {
  fields_.clear();
  numbers_.clear();
  std::unordered_map<std::string, std::vector<std::pair<double, Slot>>> numbers;
  for (std::size_t i = 0; i < metadata.size(); ++i) {
    const auto slot = static_cast<Slot>(i);
    if (deleted.contains(slot) || !metadata[i].has_value() || !metadata[i]->is_object()) continue;
    for (const auto& [field, value] : metadata[i]->items()) {
      if (!indexable(value)) continue;
      fields_[field][value].insert(slot);
      if (const std::optional<double> key = numeric_key(value)) numbers[field].emplace_back(*key, slot);
    }
  }
  // Built whole from sorted entries: full blocks, no insert moving any.
  for (auto& [field, entries] : numbers) {
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return entry_less(a.first, a.second, b.first, b.second); });
    numbers_.emplace(field, NumericColumn::from_sorted(entries));
  }
}

const SlotSet* MetadataIndex::find(const std::string& field, const Json& value) const {
  auto field_it = fields_.find(field);
  if (field_it == fields_.end()) return nullptr;
  auto value_it = field_it->second.find(value);
  if (value_it == field_it->second.end()) return nullptr;
  return &value_it->second;
}

SlotSet MetadataIndex::numbers_in(const std::string& field, const NumericRange& range) const {
  auto it = numbers_.find(field);
  if (it == numbers_.end()) return {};
  return it->second.slots_in(range);
}

}  // namespace quarn
